// The destination dialog of a save ("Save Data"): the user types or browses
// a folder; OK creates it when missing and tests that it can be written to.
#pragma once

#include <QDialog>
#include <QString>

#include <functional>

class QLineEdit;

namespace torvane {

class CXPStyleButtonST;

// The folder browser ("Select destination folder."); empty when cancelled.
// Tests put their own function in place of the file dialog.
QString BrowseForFolder(QWidget* owner);
void SetBrowseForFolderFunction(std::function<QString(QWidget*)> browse);

// Opening a folder in the file manager (the completion dialog, "Open
// Containing Folder"); tests put their own function in place.
void OpenFolderInShell(QWidget* owner, const QString& folder);
void SetOpenFolderFunction(std::function<void(QWidget*, const QString&)> open);

inline constexpr char kInvalidDestinationText[] =
    "Invalid destination path or path is too long. Please provide a valid path location to save the recovered data.";

class CSaveBrowse : public QDialog {
    Q_OBJECT
public:
    explicit CSaveBrowse(QWidget* parent = nullptr);
    // The destination chosen (after OK), without a trailing "/".
    QString Destination() const { return m_strDestination; }
    QLineEdit* PathEdit() const { return m_pPathEdit; }

public slots:
    void OnBrowse();
    void OnOK();
    void OnCancel();

protected:
    void reject() override { OnCancel(); }

private:
    QLineEdit* m_pPathEdit = nullptr;
    QString m_strDestination;
};

// Runs the destination dialog; the chosen folder, or empty when cancelled.
QString RunSaveBrowseDialog(QWidget* owner);

}  // namespace torvane
