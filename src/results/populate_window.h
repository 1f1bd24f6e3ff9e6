// The small "Populating List Items" window shown over a search dialog while
// a folder's list is filled. Its Cancel stops the listing (the rows listed so
// far stay); three dots step along every half second.
#pragma once

#include <QDialog>
#include <QTimer>

#include <functional>

class QLabel;
class QProgressBar;
class QPushButton;

namespace torvane {

class CPopulate : public QDialog {
    Q_OBJECT
public:
    explicit CPopulate(QWidget* parent = nullptr);

    // What Cancel does while a listing runs (stops the listing job).
    void SetCancelAction(std::function<void()> cancel) { m_cancel = std::move(cancel); }
    // Whether a listing runs (Cancel acts only then).
    void SetListingRunning(bool running) { m_bListing = running; }

    QPushButton* CancelButton() const { return m_pCancel; }
    int DotStep() const { return m_nDotStep; }

public slots:
    // The Cancel button: hides the window first, then stops the listing.
    void OnCancel();

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void reject() override {}   // Escape never closes it

private:
    void OnTimer();

    QLabel* m_pText = nullptr;
    QPushButton* m_pCancel = nullptr;
    QProgressBar* m_pProgress = nullptr;
    QLabel* m_pDots[3] = {nullptr, nullptr, nullptr};
    QTimer m_dotTimer;   // timer 2222
    int m_nDotStep = 0;
    bool m_bListing = false;
    std::function<void()> m_cancel;
};

}  // namespace torvane
