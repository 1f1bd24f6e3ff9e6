// The saving dialog ("Saving Data") and the save commands.
//
// CSavingDlg first counts the selection (CTotFileSize), then runs the save
// job on a worker and shows its progress from the job's counters on a timer.
// The worker's questions (Replace, too-long path, messages) arrive as queued
// calls on the GUI thread, which shows the dialog and hands the answer back.
// Stop asks "Do you want to stop saving?"; Skip abandons the current file.
// When the worker has ended, the completion dialog says what was saved.
#pragma once

#include "results/save_job.h"

#include <QDialog>
#include <QString>

#include <memory>

class QLabel;
class QProgressBar;
class QTimer;

namespace torvane {

class SaveJobBridge;

class CSavingDlg : public QDialog {
    Q_OBJECT
public:
    CSavingDlg(SaveRequest request, QWidget* parent = nullptr, TargetFileSystem& fs = PosixTargetFileSystem());
    ~CSavingDlg() override;

    // Counts, then saves; returns when the completion dialog has closed
    // (QDialog::Rejected in every ending, as the save's own result is in Job()).
    int exec() override;
    SaveJob& Job() { return *m_job; }
    // The completion text shown at the end (empty before).
    QString CompletionText() const { return m_strCompletion; }
    bool Counted() const { return m_bCounted; }

public slots:
    void OnStop();
    void OnSkip();
    void OnOpenContainingFolder();
    // The worker has ended (queued from the worker).
    void OnSaveFinished();

protected:
    void reject() override { OnStop(); }   // the close box asks as Stop does

private:
    friend class SaveJobBridge;
    void OnTimer();
    void AnswerQuestion(const JobQuestion& question, const std::function<void(int)>& reply);

    SaveRequest m_request;
    std::unique_ptr<SaveJobBridge> m_bridge;
    std::unique_ptr<SaveJob> m_job;
    QTimer* m_pTimer = nullptr;
    QProgressBar* m_pFileBar = nullptr;
    QProgressBar* m_pFilesBar = nullptr;
    QProgressBar* m_pFoldersBar = nullptr;
    QLabel* m_pName = nullptr;
    QLabel* m_pPath = nullptr;
    QLabel* m_pBytes = nullptr;
    QLabel* m_pFiles = nullptr;
    QLabel* m_pFolders = nullptr;
    QLabel* m_pTotals = nullptr;
    QLabel* m_pInvalidLabel = nullptr;
    QLabel* m_pInvalid = nullptr;
    QLabel* m_pGathering = nullptr;   // "Gathering Clusters Linking Information..."
    QString m_strCompletion;
    bool m_bCounted = false;
    bool m_bFinished = false;
    int m_nModalDepth = 0;            // question or Stop box open
    bool m_bFinishPending = false;    // the worker ended while one was open
};

inline constexpr char kNothingSelectedText[] =
    "No item has been selected. Please select the item you want to save from left panel.";

// The results tree's "Save": what is checked. Shows kNothingSelectedText when
// nothing is; otherwise asks for the destination and runs the saving dialog.
void SaveCheckedTreeItems(QWidget* owner, ScanResults& results, std::shared_ptr<const VolumeSet> volumes,
                          bool basicSearch);
// The file list's "Save" / "Save All": the given rows.
void SaveSelectedListItems(QWidget* owner, ScanResults& results, std::shared_ptr<const VolumeSet> volumes,
                           bool basicSearch, std::vector<SaveRow> rows);

}  // namespace torvane
