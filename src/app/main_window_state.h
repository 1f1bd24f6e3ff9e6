// Values the main window keeps for the whole run that workers and other
// subsystems read and write: kept here, GUI-free and thread-safe, instead
// of in the window object.
#pragma once

#include "base/program_state.h"

#include <atomic>
#include <cstdint>

namespace torvane {

struct MainWindowState {
    // 1 once a search dialog's initialisation has begun filling its drive tree.
    std::atomic<int> SearchDialogShown{0};
    // Device path ("\\.\X:") of the selected logical volume.
    GuardedText VolumePath;
    // Partitions added by the current partition search or removable-media scan.
    std::atomic<int> FoundPartitions{0};
    // 1 while a partition search or cylinder scan works.
    std::atomic<int> PartitionSearchBusy{0};
    // 1 while a Search More Partitions worker runs.
    std::atomic<int> PartitionSearchRunning{0};
    // Logical drives listed in the current dialog's drive tree.
    std::atomic<int> LogicalDrivesListed{0};
    // 1 while a Basic or Deep scan-log loader runs (set and cleared by the
    // loader); the mode buttons start no search meanwhile.
    std::atomic<int> BasicLogLoadThread{0};
    std::atomic<int> DeepLogLoadThread{0};

    static MainWindowState& Instance();
};

}  // namespace torvane
