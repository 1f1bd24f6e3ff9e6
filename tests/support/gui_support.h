// Helpers of the widget tests: the boxes a dialog asks answered as a user
// would, and drive panels that list the program's own registry only.
#pragma once

#include <QObject>
#include <QStringList>
#include <QTimer>

#include <functional>
#include <memory>
#include <type_traits>
#include <utility>

class QWidget;

namespace torvane {
class CDriveTreeView;
class DriveInventory;
}  // namespace torvane

namespace torvane::test {

// Answers the modal box on top every few milliseconds while it lives: Yes to
// questions (No where the box has it and `sayNo` is set), OK to messages,
// accept to other dialogs. Keeps the texts of the message boxes in `texts`
// and the class names of the other dialogs in `dialogs`.
class BoxAnswerer : public QObject {
public:
    explicit BoxAnswerer(int intervalMs = 20);

    // Each box goes to `f` first. A handler that returns true has answered
    // the box; one that returns nothing answers every box itself.
    template <class F>
    void SetHandler(F f)
    {
        if constexpr (std::is_same_v<std::invoke_result_t<F&, QWidget*>, bool>)
            handler = std::move(f);
        else
            handler = [f = std::move(f)](QWidget* w) mutable {
                f(w);
                return true;
            };
    }

    QStringList texts;
    QStringList dialogs;
    int answered = 0;
    bool sayNo = false;
    std::function<bool(QWidget*)> handler;

private:
    QTimer timer_;
};

// The drive list of `mode` built from the program's registry alone: no
// mounted file system of the machine that runs the test shows.
std::shared_ptr<DriveInventory> RegistryInventory(int mode, bool withLogical);

// A search dialog's drive panel made ready for a test: no device events, no
// note on logical drives, its drives from RegistryInventory.
void PrepareDrivePanel(CDriveTreeView* panel);

// Lists the drives and waits for the list; false when it did not come
// within `timeoutMs`.
bool RefreshDrives(CDriveTreeView* panel, int timeoutMs = 20000);

}  // namespace torvane::test
