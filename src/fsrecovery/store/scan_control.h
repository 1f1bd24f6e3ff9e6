// What a file system's scan may ask of the scan job that runs it: whether to
// stop, where to count progress and show texts, and how to say that the
// volume cannot be read. The Basic and Deep scan jobs implement it; the
// file-system modules see nothing else of them.
#pragma once

#include "base/job.h"
#include "fsrecovery/store/scan_sink.h"

#include <chrono>
#include <string>

namespace torvane {

class ScanControl {
public:
    virtual ~ScanControl() = default;
    // Tested per block, per record, per directory cluster.
    virtual bool StopRequested() const = 0;
    virtual JobProgress& Counters() = 0;
    // Where step texts and progress go; may be null.
    virtual ScanSink* Sink() = 0;
    // The interim tree's period during a sweep (zero: none).
    virtual std::chrono::milliseconds InterimInterval() const = 0;
    // The volume's layout cannot be used (no geometry, no $MFT): reports
    // "Unable to calculate partition parameters..." rather than let an empty
    // tree pass for a scan that found nothing.
    virtual void ReportUnusableVolume() = 0;
};

}  // namespace torvane
