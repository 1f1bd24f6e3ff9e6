// The Deep Search's scan and results views: the Basic Search's views over a
// Deep search session, with what the Deep Search has beyond them: the sector
// range group and the file-system choice of the drive view, the list of the
// file systems the sweep found, the sector text with its size, and the
// timers that show the tree the sweep's passes grow (456, 789 and 222).
//
// The sweep itself, its passes and the volumes it finds live in the session
// (SearchSession::StartDeepScan); this view only shows them and forwards.
//
// In the drive view the same "Found File System" list stands in for the
// property list while a "Recognised" item is selected (a file system found
// inside a logical drive by Search More Partitions): it lists the drive's
// recognised file systems, the selected one in blue. The hidden list of
// every recognised file system of the dialog stays hidden.
#pragma once

#include "base/list_model.h"
#include "base/tree_model.h"
#include "fsrecovery/basic_search_view.h"

#include <QPointer>

#include <string>

class QComboBox;

namespace torvane {

class CHideColumn;
class CSectorRangeGroup;

inline constexpr char kDeepFileSystemLabel[] = "Search selected Drive's file system as:";

class CDeepSearchView : public CBasicSearchView {
    Q_OBJECT
public:
    // `rangeParent`: where the range panel lives (the dialog places it).
    CDeepSearchView(SearchDialogBase* host, CDriveTreeView* drives, QWidget* driveArea, QWidget* placeholder,
                    QWidget* parent = nullptr);
    ~CDeepSearchView() override;

    // The drive view's range group and file-system choice, as one panel.
    QWidget* RangePanel() const { return m_pRangePanel; }
    CSectorRangeGroup* RangeGroup() const { return m_pRange; }
    QComboBox* FileSystemCombo() const { return m_pFsCombo; }
    // The "Found File System" list of the sweep.
    CHideColumn* FoundFileSystemList() const { return m_pFoundList; }
    ListRowModel& FoundFileSystemRows() { return m_foundRows; }
    // What the list shows in the drive view: the rows of the selected
    // "Recognised" item's drive ("Found File System" .. "partType").
    ListRowModel& RecognisedDriveRows() { return m_recognisedRows; }
    // The row drawn in blue (-1: none).
    int HighlightedFoundRow() const { return m_nBlueRow; }
    // The hidden list of every recognised file system ("SNo" .. "partType").
    CHideColumn* RecognisedVolumeList() const { return m_pRecognisedList; }
    ListRowModel& RecognisedVolumeRows() { return m_recognisedTable; }

    // A sweep of a logical drive added a "Recognised" item under `driveItem`:
    // the hidden list takes its row, and the drive's rows show in the list.
    void OnRecognisedAdded(TreeNodeId driveItem, TreeNodeId item);

    // The per-mode routines the drive tree calls.
    void InitSectorRangeControls(std::uint64_t start, std::uint64_t end, std::uint64_t minimum, std::uint64_t maximum);
    void ShowSectorRangeControls(bool show);
    void SelectFileSystemInCombo(int index);

    // The periods of the sweep's passes and of the timers that show them
    // (tests shorten them).
    void SetPassIntervals(std::chrono::milliseconds pass, std::chrono::milliseconds timers);

public slots:
    void OnScanNow() override;

protected:
    BasicScanStart ResolveScanStart(const DriveInventory& inv, const BasicScanStartInput& in) override;
    void ShowDriveViews(bool show) override;
    void OnTimer123() override;
    void OnTimer456() override;

private:
    void OnDriveSelected();
    void ShowRecognisedRows(TreeNodeId driveItem, const std::string& blueName);
    void HideRecognisedRows();
    void FillRecognisedTable();
    // Puts the list in the drive view (beside the drive tree, where the
    // property list goes) or under the results.
    void PlaceFoundList(bool driveView);
    void OnTimer789();
    void OnTimer222();
    void OnDeepScanFinished();
    void ShowFoundFileSystems();

    QWidget* m_pRangePanel = nullptr;
    CSectorRangeGroup* m_pRange = nullptr;   // 1008, 1211-1219, 1238
    QComboBox* m_pFsCombo = nullptr;         // 1066
    CHideColumn* m_pFoundList = nullptr;     // 1157
    ListRowModel m_foundRows;
    ListRowModel m_recognisedRows;           // 1157 in the drive view
    CHideColumn* m_pRecognisedList = nullptr;   // 1225
    ListRowModel m_recognisedTable;
    QPointer<CDriveTreeView> m_pDrives;
    QPointer<QWidget> m_pDrivePlaceholder;
    bool m_bFoundListInDriveView = false;
    int m_nBlueRow = -1;
    QTimer m_timer789;
    QTimer m_timer222;
    std::chrono::milliseconds m_timerPeriod{0};   // 0: the periods of the sweep
    bool m_bRangeShown = true;
    bool m_bDriveView = true;
    int m_nSectorTick = 0;
    QString m_sizeText;
};

}  // namespace torvane
