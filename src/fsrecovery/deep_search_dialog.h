// The Deep Search dialog: sweeps every sector of a chosen range for folders
// and file systems whose boot data or partition entry is lost. It is the
// Basic Search's frame (CFileSystemSearch) with the Deep Search's view: the
// sector range group and the file-system choice in the drive view, and the
// found file systems beside the results.
#pragma once

#include "fsrecovery/fs_search_dialog.h"

namespace torvane {

class CDeepSearchView;

class CDeepSearch : public CFileSystemSearch {
    Q_OBJECT
public:
    explicit CDeepSearch(QWidget* parent = nullptr);

    CDeepSearchView* DeepView() const { return m_pDeepView; }

    void ReselectDriveTreeItem(int flag) override;
    void ShowSectorRangeControls(bool show) override;
    void InitSectorRangeControls(std::uint64_t start, std::uint64_t end, std::uint64_t minimum,
                                 std::uint64_t maximum) override;
    void SelectFileSystemInCombo(int index) override;

private:
    CDeepSearchView* m_pDeepView = nullptr;
};

}  // namespace torvane
