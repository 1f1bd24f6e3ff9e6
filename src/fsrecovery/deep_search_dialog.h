// The Deep Search dialog: sweeps every sector of a chosen range for folders
// and file systems whose boot data or partition entry is lost.
// (Its drive tree, sweep and results views are filled in by the Deep Search
// itself; this is the frame the main window opens.)
#pragma once

#include "app/search_dialog.h"

namespace torvane {

class CDriveTreeView;

class CDeepSearch : public SearchDialogBase {
    Q_OBJECT
public:
    explicit CDeepSearch(QWidget* parent = nullptr);

    // The drive tree with its property list (the drive view).
    CDriveTreeView* DrivePanel() const { return m_pDrivePanel; }
    void FillDriveTree(const std::shared_ptr<DriveListSnapshot>& drives) override;
    void ReselectDriveTreeItem(int flag) override;


private:
    CDriveTreeView* m_pDrivePanel = nullptr;
};

}  // namespace torvane
