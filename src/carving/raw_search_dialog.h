// The Photo Search dialog: carves photos out of a sector range by their
// header signatures. (Its drive tree, range, carving and thumbnails are
// filled in by the Photo Search itself; this is the frame the main window
// opens.)
#pragma once

#include "app/search_dialog.h"

namespace torvane {

class CRawSearch : public SearchDialogBase {
    Q_OBJECT
public:
    explicit CRawSearch(QWidget* parent = nullptr);

};

}  // namespace torvane
