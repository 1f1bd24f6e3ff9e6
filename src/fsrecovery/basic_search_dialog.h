// The Basic Search dialog: reads the file system of an existing FAT16,
// FAT32, exFAT or NTFS volume, deleted entries and lost folders included.
// The drive view is the drive-tree panel with its property list; the scan
// and results views, and what moves between them, are CBasicSearchView.
#pragma once

#include "app/search_dialog.h"

namespace torvane {

class CDriveTreeView;
class CBasicSearchView;

class CBasicSearch : public SearchDialogBase {
    Q_OBJECT
public:
    explicit CBasicSearch(QWidget* parent = nullptr);

    CDriveTreeView* DrivePanel() const { return m_pDrivePanel; }
    CBasicSearchView* SearchView() const { return m_pSearchView; }

    void FillDriveTree(const std::shared_ptr<DriveListSnapshot>& drives) override;
    void OnBack() override;
    void OnClose() override;
    void StopRunningWork() override;
    void RestoreBusyState() override;
    void SetFoundCountStatus(const QString& text) override;
    QString SelectedResultsItemText() const override;
    bool HasSelectedResultsItem() const override;

public slots:
    void OnScanNow();
    void OnStop();

private:
    CDriveTreeView* m_pDrivePanel = nullptr;
    CBasicSearchView* m_pSearchView = nullptr;
};

}  // namespace torvane
