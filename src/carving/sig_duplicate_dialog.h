// The Video and signature search dialog: carves videos, documents, archives
// and music out of a sector range by the signatures of its data files. One
// dialog serves both searches; its mode text ("Video" or the edition's
// signature mode text) chooses the pair of signature data files.
// (Its wizard pages and carving are filled in by the signature search
// itself; this is the frame the main window opens.)
#pragma once

#include "app/search_dialog.h"

namespace torvane {

class CDriveTreeView;

class CSigDuplicate : public SearchDialogBase {
    Q_OBJECT
public:
    explicit CSigDuplicate(QWidget* parent = nullptr);

    // The drive tree with its property list (the drive view).
    CDriveTreeView* DrivePanel() const { return m_pDrivePanel; }
    void FillDriveTree(const std::shared_ptr<DriveListSnapshot>& drives) override;
    void ReselectDriveTreeItem(int flag) override;

    // "Video" or the signature mode text ("Signature"); set before the run.
    QString m_strSearchMode;
    void SetSearchMode(const QString& mode);

private:
    CDriveTreeView* m_pDrivePanel = nullptr;
};

}  // namespace torvane
