// Data runs (mapping pairs) of a non-resident attribute: where each stretch
// of the attribute's clusters lies on the volume.
//
// The mapping pairs are a list of variable-length entries, ended by a 0 byte:
//   byte 0         header: low nibble L = bytes of the run length,
//                          high nibble F = bytes of the run offset
//   bytes 1..L     run length in clusters, unsigned little-endian
//   bytes L+1..L+F run offset, little-endian: for the first run the cluster
//                  number itself (read unsigned), for every later run a signed
//                  distance from the previous allocated run's cluster number.
// F = 0 marks a sparse run: clusters that are not stored (they read as zeros,
// and in a compressed attribute they pad a compressed unit).
#pragma once

#include "fsrecovery/ntfs/ntfs_bytes.h"

#include <cstdint>
#include <vector>

namespace torvane {

struct NtfsAttribute;

// One run: `length` clusters of the attribute from virtual cluster `vcn`,
// stored from logical cluster `lcn` of the volume (0 and meaningless when
// sparse).
struct DataRun {
    std::uint64_t vcn = 0;
    std::uint64_t lcn = 0;
    std::uint64_t length = 0;
    bool sparse = false;

    bool operator==(const DataRun&) const = default;
};

enum class RunListStatus {
    Complete,   // read up to the 0 header byte
    Truncated,  // the bytes ended before a 0 header: the runs so far are kept
    Invalid,    // a malformed entry (a field wider than 8 bytes, a run of 0
                // clusters, a cluster number below 0 or past 2^40): the runs
                // before it are kept
};

struct RunList {
    std::vector<DataRun> runs;
    RunListStatus status = RunListStatus::Complete;

    std::uint64_t TotalClusters() const;
};

// Decodes mapping pairs; the first run starts at virtual cluster `firstVcn`.
RunList DecodeMappingPairs(NtfsBytes pairs, std::uint64_t firstVcn = 0);

// Decodes the data runs of a non-resident attribute of `record` (the mapping
// pairs at the attribute's u16 @32, bounded by the attribute's end). A
// resident attribute gives an empty, Invalid list.
RunList DecodeRunList(NtfsBytes record, const NtfsAttribute& attribute);

}  // namespace torvane
