// The frame the Basic and the Deep Search dialogs share: the drive-tree panel
// (the drive view) and a search view for the scan and its results, and what
// the dialog does with them: fill the drive tree (and load a scan log the
// dialog was opened for), Scan Now, Stop, Back, closing, and keeping the
// results tree disabled while a list or a log job runs.
//
// CBasicSearch and CDeepSearch build it with their own search view.
#pragma once

#include "app/search_dialog.h"

namespace torvane {

class CDriveTreeView;
class CBasicSearchView;

class CFileSystemSearch : public SearchDialogBase {
    Q_OBJECT
public:
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

protected:
    // Places the drive-tree panel in the frame's drive area.
    CFileSystemSearch(int recoveryMode, QWidget* parent);
    // Adds the search view under the drive row; the dialog owns it.
    void AttachSearchView(CBasicSearchView* view);

    CDriveTreeView* m_pDrivePanel = nullptr;
    CBasicSearchView* m_pSearchView = nullptr;

private:
    void LoadPendingLogWhenQuiet();
};

}  // namespace torvane
