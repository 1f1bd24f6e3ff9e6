// The view the NTFS readers take over the bytes of one on-disk structure (a
// FILE record, an attribute, an attribute-list entry): the program's one
// bounds-checked little-endian view under the name the NTFS code uses.
// Nothing in the NTFS readers touches record bytes except through it.
#pragma once

#include "base/byte_view.h"

namespace torvane {

using NtfsBytes = ByteView;

}  // namespace torvane
