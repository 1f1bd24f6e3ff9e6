// The Basic Search dialog: reads the file system of an existing FAT16,
// FAT32, exFAT or NTFS volume, deleted entries and lost folders included.
// (Its drive tree, scan and results views are filled in by the Basic Search
// itself; this is the frame the main window opens.)
#pragma once

#include "app/search_dialog.h"

namespace torvane {

class CBasicSearch : public SearchDialogBase {
    Q_OBJECT
public:
    explicit CBasicSearch(QWidget* parent = nullptr);

};

}  // namespace torvane
