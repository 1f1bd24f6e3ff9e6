// The no-device box: shown when a search dialog's drive tree lists nothing
// to recover from. It asks the user to connect the medium and offers "Retry"
// and "Cancel". The drive-tree panel runs the Retry step (also by itself
// when a device arrives while the box is up) and closes the box with
// accept() once a drive is listed; "Cancel" and the close box reject() it,
// and the panel then gives the search dialog up.
#pragma once

#include <QDialog>

class QLabel;
class QPushButton;

namespace torvane {

class CColorStatic;
class CMy_Link_Static;

class CNoDevice_Rem_Media : public QDialog {
    Q_OBJECT
public:
    explicit CNoDevice_Rem_Media(QWidget* parent = nullptr);

    QPushButton* RetryButton() const { return m_pRetry; }
    QPushButton* CancelButton() const { return m_pCancel; }
    // The first line ("Could not find any USB Removable Media ...").
    QString HeadlineText() const;
    // A second line under the headline: why nothing is listed when the reason
    // is known (disks that cannot be opened for lack of permission).
    void SetReasonText(const QString& text);

    // Retry is disabled while a Retry step runs.
    void SetRetryRunning(bool running);

signals:
    // "Retry" was pressed.
    void retryRequested();

protected:
    // Escape is the close box: Cancel.
    void keyPressEvent(QKeyEvent* event) override;

private:
    CColorStatic* m_pHeadline = nullptr;
    QLabel* m_pReason = nullptr;
    QPushButton* m_pRetry = nullptr;
    QPushButton* m_pCancel = nullptr;
};

}  // namespace torvane
