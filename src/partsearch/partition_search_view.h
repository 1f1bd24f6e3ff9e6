// The partition-search controls every search dialog carries under its drive
// tree: "Search More Partitions", "Stop Searching Partitions", the status text
// that names the running depth, the progress bar and its counter (timer 999),
// and the removable-media discovery that runs whenever the drive tree is
// filled.
//
// Search More Partitions searches the disk selected (or the disk of the
// selected partition) at the depth the user picks in CSmpSel; the discovery
// probes each removable disk that lists no partition. Both run as jobs; what
// they find reaches the GUI thread as events and goes into the panel's drive
// inventory (record, item "Partition - N ( TYPE )", dark green). While one
// runs, the rest of the dialog is locked (SearchDialogBase::LockForPartitionSearch).
// Stop asks, and on Yes answers at once: the dialog is restored and the result
// shown with what was found so far; the worker ends at its next block or
// cylinder and nothing it reports afterwards is applied.
//
// In the Deep Search, Search More Partitions on a logical drive (or on a
// "Recognised" item inside one, whose drive is selected first) sweeps the
// drive for the file systems inside it instead: each one found becomes a
// "Recognised" item under the drive (recognisedAdded tells the dialog), and
// at the end the last one is selected.
//
// The scans of a disk that lists no partition take AutomaticSearch(): the
// engine's automatic way, whose find is shown in the drive tree as well.
#pragma once

#include "disk/drive_inventory.h"
#include "fsrecovery/disk_without_partitions.h"
#include "partsearch/logical_drive_sweep.h"
#include "partsearch/partition_search.h"
#include "partsearch/partition_search_tree.h"
#include "partsearch/removable_media_scan.h"

#include <QPointer>
#include <QTimer>
#include <QWidget>

#include <functional>
#include <memory>
#include <string>

class QLabel;
class QProgressBar;
class QPushButton;

namespace torvane {

class CDriveTreeView;
class CColorStatic;
class SearchDialogBase;

class CPartitionSearchView : public QWidget {
    Q_OBJECT
public:
    CPartitionSearchView(SearchDialogBase* host, CDriveTreeView* drives, QWidget* parent = nullptr);
    ~CPartitionSearchView() override;

    // ---- controls ----------------------------------------------------------------
    QPushButton* SearchMoreButton() const { return m_pSearchMore; }   // 1116 / 1119 / 1122 / 1126
    QPushButton* StopButton() const { return m_pStop; }               // 1118 / 1120 / 1123 / 1127
    QLabel* StatusLabel() const;                                      // 1117 / 1121 / 1124 / 1128
    QProgressBar* ProgressBar() const { return m_pProgress; }
    QLabel* CounterLabel() const;                                     // 1209 / 1210
    QLabel* OfTotalLabel() const;                                     // 1075

    // ---- state ---------------------------------------------------------------------
    // A Search More Partitions run or the discovery is under way (for the user:
    // a stopped one is over at once, even while its worker finishes its block).
    bool SearchRunning() const { return m_bEngineActive; }
    bool DiscoveryRunning() const { return m_bDiscoveryActive; }
    // The Deep Search's sweep of a logical drive is under way.
    bool SweepRunning() const { return m_bSweepActive; }
    bool Busy() const { return m_bEngineActive || m_bDiscoveryActive || m_bSweepActive; }
    // Partitions the current or last run added (m_nFoundPartitions).
    int FoundPartitions() const { return m_nFoundPartitions; }
    // The sector count timer 999 shows progress against (PartitionSearchSectors).
    std::uint64_t PartitionSearchSectors() const { return m_ullSearchSectors; }
    // The jobs (null before the first run). Their workers may still be
    // finishing a block after a Stop.
    const PartitionSearchJob* SearchJob() const { return m_searchJob.get(); }
    const RemovableMediaScanJob* DiscoveryJob() const { return m_mediaJob.get(); }
    const LogicalDriveSweepJob* SweepJob() const { return m_sweepJob.get(); }
    // "Recognised" items the current or last sweep added.
    int RecognisedCount() const { return m_nRecognisedCount; }

    // The partition search the scans of a disk listing no partition wait for.
    AutomaticPartitionSearch AutomaticSearch();

    // ---- what the dialogs and tests may change ---------------------------------------
    // The depth question (default: RunPartitionModeDialog).
    void SetDepthChooser(std::function<SmpMode(QWidget* owner)> choose) { m_chooseDepth = std::move(choose); }
    // The Stop question, true for Yes (default: AskYesNo).
    void SetStopConfirmer(std::function<bool(QWidget* owner, const QString& text)> ask) { m_confirmStop = std::move(ask); }
    // The result and selection messages (default: ShowMessage).
    void SetMessenger(std::function<void(QWidget* owner, const QString& text)> show) { m_showMessage = std::move(show); }

public slots:
    void OnSearchMorePartitions();
    void OnStopSearchingPartitions();
    // The removable-media discovery (the dialog's StartRemovableMediaScan).
    void StartRemovableMediaScan();
    // "S", "A" or anything else (the discovery's "").
    void SetPartitionSearchStatus(const QString& letter);

signals:
    // A Search More Partitions run ended and its result was shown (after Stop too).
    void searchFinished();
    // The discovery ended (all disks, or stopped) and the dialog is restored.
    void discoveryFinished();
    // A sweep of a logical drive added `item` under `driveItem`.
    void recognisedAdded(TreeNodeId driveItem, TreeNodeId item);
    // A sweep of a logical drive ended and its result was shown (after Stop too).
    void sweepFinished();

private:
    class EngineEvents;
    class MediaEvents;
    class SweepEvents;

    std::shared_ptr<DriveInventory> Inventory() const;
    QWidget* Owner() const;
    void BeginRun(bool engine);
    void RestoreControls();
    void OnTimer999();
    void ShowResultInTree(int disk, TreeNodeId diskItem, std::uint64_t sectors);
    void SelectInTree(TreeNodeId item);
    void ApplyFound(const std::shared_ptr<DriveInventory>& inv, int disk, TreeNodeId diskItem,
                    const FoundPartitionEvent& found);

    // Engine events (GUI thread).
    void OnEngineFound(unsigned generation, const FoundPartitionEvent& found);
    void OnEngineFinished(unsigned generation);
    // Discovery events (GUI thread).
    void OnMediaDiskStarted(unsigned generation, const MediaScanDisk& disk);
    void OnMediaFound(unsigned generation, const MediaScanDisk& disk, const FoundPartitionEvent& found);
    void OnMediaDiskEnded(unsigned generation, const MediaScanDisk& disk, int gained);
    void OnMediaQuestion(unsigned generation, const QString& text, std::function<void(int)> reply);
    void OnMediaFinished(unsigned generation);
    // The logical-drive sweep (GUI thread).
    bool StartLogicalSweep(const std::shared_ptr<DriveInventory>& inv, TreeNodeId driveItem);
    void OnSweepRecognised(unsigned generation, const RecognisedVolume& row);
    void OnSweepFinished(unsigned generation);
    void EndSweep();
    // The automatic way's find (GUI thread).
    void ShowAutomaticFind(int disk, FoundPartitionEvent found);

    QPointer<SearchDialogBase> m_host;
    QPointer<CDriveTreeView> m_drives;

    QPushButton* m_pSearchMore = nullptr;
    QPushButton* m_pStop = nullptr;
    CColorStatic* m_pStatus = nullptr;
    QProgressBar* m_pProgress = nullptr;
    CColorStatic* m_pCounter = nullptr;
    CColorStatic* m_pOfTotal = nullptr;
    QTimer m_timer999;

    std::function<SmpMode(QWidget*)> m_chooseDepth;
    std::function<bool(QWidget*, const QString&)> m_confirmStop;
    std::function<void(QWidget*, const QString&)> m_showMessage;

    // The events outlive the jobs (declared first).
    std::unique_ptr<EngineEvents> m_engineEvents;
    std::unique_ptr<MediaEvents> m_mediaEvents;
    std::unique_ptr<SweepEvents> m_sweepEvents;
    std::unique_ptr<PartitionSearchJob> m_searchJob;
    std::unique_ptr<RemovableMediaScanJob> m_mediaJob;
    std::unique_ptr<LogicalDriveSweepJob> m_sweepJob;

    // What the running (or last) run works on.
    std::shared_ptr<DriveInventory> m_inventory;   // the inventory it applies to
    PartitionSearchTarget m_target;                 // the engine's disk
    MediaScanDisk m_mediaDisk;                      // the discovery's current disk
    bool m_bMediaDiskOpen = false;                  // a disk was started and has not ended
    unsigned m_nEngineGeneration = 0;               // events of older runs are dropped
    unsigned m_nMediaGeneration = 0;
    unsigned m_nSweepGeneration = 0;
    bool m_bEngineActive = false;
    bool m_bDiscoveryActive = false;
    bool m_bSweepActive = false;
    // The sweep's drive, its letter ("E:") and the last item it added.
    TreeNodeId m_sweepDrive = kNoTreeNode;
    std::string m_sweepDriveText;
    TreeNodeId m_lastRecognised = kNoTreeNode;
    int m_nRecognisedCount = 0;
    bool m_bLocked = false;
    int m_nFoundPartitions = 0;
    std::uint64_t m_ullSearchSectors = 0;
};

}  // namespace torvane
