// Device doubles for tests: a sparse device of any size and a faulty device.
#pragma once

#include "platform/device.h"

namespace torvane::test {
}  // namespace torvane::test
