// The Photo Search dialog: carves photos out of a sector range by their
// header signatures. (Its drive tree, range, carving and thumbnails are
// filled in by the Photo Search itself; this is the frame the main window
// opens.)
#pragma once

#include "app/search_dialog.h"

namespace torvane {

class CDriveTreeView;

class CRawSearch : public SearchDialogBase {
    Q_OBJECT
public:
    explicit CRawSearch(QWidget* parent = nullptr);

    // The drive tree with its property list (the drive view).
    CDriveTreeView* DrivePanel() const { return m_pDrivePanel; }
    void FillDriveTree(const std::shared_ptr<DriveListSnapshot>& drives) override;
    void ReselectDriveTreeItem(int flag) override;


private:
    CDriveTreeView* m_pDrivePanel = nullptr;
};

}  // namespace torvane
