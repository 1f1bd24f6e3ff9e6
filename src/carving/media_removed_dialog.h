// CMediaRemoved: the question a carving search asks when a block of the
// device cannot be read ("The selected storage device is no longer
// available."). The search waits on its worker while the dialog runs on the
// GUI thread:
//   "Retry and Continue..."  open the device again and read the block again
//   "Skip"                   go on; what cannot be read is carved as zeros
//   "Cancel Searching"       end the search; what was carved is kept
// With "Apply this action until the searching completes" ticked, a Retry or
// Skip holds for the rest of the pass and the question is not asked again.
// The close box answers Skip.
#pragma once

#include <QDialog>

class QCheckBox;
class QPushButton;

namespace torvane {

class CMediaRemoved : public QDialog {
    Q_OBJECT
public:
    explicit CMediaRemoved(QWidget* parent = nullptr);

    // After the run: the answer in the form the search's question takes
    // (kReadFailureRetry, kReadFailureSkip or kReadFailureCancel, with
    // kReadFailureApplyToAll added for a Retry or Skip with the box ticked).
    int Answer() const { return m_nAnswer; }
    // 1 after "Cancel Searching".
    int m_nCancel = 0;
    // 1 after "Retry and Continue...", 5 when the box was ticked then.
    int m_nResult = 0;

    QCheckBox* ApplyToAllBox() const { return m_pApplyToAll; }
    QPushButton* RetryButton() const { return m_pRetry; }
    QPushButton* SkipButton() const { return m_pSkip; }
    QPushButton* CancelButton() const { return m_pCancel; }

protected:
    void reject() override;

private:
    void Choose(int answer);

    QCheckBox* m_pApplyToAll = nullptr;  // 1026
    QPushButton* m_pRetry = nullptr;     // 1006
    QPushButton* m_pSkip = nullptr;
    QPushButton* m_pCancel = nullptr;    // 1030
    int m_nAnswer = 1;
};

}  // namespace torvane
