// The Deep Search over exFAT: the lost-directory search of the range
// (SearchExfatDirectories: the root walk when the volume still names a root,
// then a sweep of every sector for directory clusters), then the Deep
// lost-directory steps: the found folders go into the tree, files whose
// folder was not found get a placeholder folder each, and what is left goes
// under "KZU_Miscellaneous".
#pragma once

#include "fsrecovery/deep/deep_sweeper.h"

#include <memory>

namespace torvane {

std::unique_ptr<DeepSweeper> MakeDeepExfatSweeper();

}  // namespace torvane
