// The Basic Search dialog: reads the file system of an existing FAT16,
// FAT32, exFAT or NTFS volume, deleted entries and lost folders included.
// The drive view is the drive-tree panel with its property list; the scan
// and results views, and what moves between them, are CBasicSearchView.
#pragma once

#include "fsrecovery/fs_search_dialog.h"

namespace torvane {

class CBasicSearch : public CFileSystemSearch {
    Q_OBJECT
public:
    explicit CBasicSearch(QWidget* parent = nullptr);
};

}  // namespace torvane
