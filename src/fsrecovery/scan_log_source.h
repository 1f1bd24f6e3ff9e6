// Finding the device a scan log was written from among the devices attached
// now.
//
// A log names its source by the disk's identity text (model||capacity||
// sectors||number) or, for a volume read through its own path, by the
// volume path and its size in sectors. The disk may have another number now
// and the volume another letter, so the match goes in two passes: the exact
// text first, then the identity without its number (the volume by its size
// alone). Two disks of one model and size, or two volumes of one size, both
// pass the second test; so every candidate's boot sector is read at the
// logged partition and compared with the logged geometry, and a candidate
// holding another volume is passed over. A boot sector that reads as no
// volume at all (damaged, which is why it was scanned) neither confirms nor
// rules out: such a candidate is taken only when none confirms.
#pragma once

#include "disk/volume_geometry.h"
#include "platform/device_registry.h"
#include "results/scan_log_document.h"
#include "results/scan_log_reader.h"

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace torvane {

// What is attached now, as the drive lists name it.
struct ScanLogDevices {
    std::vector<std::string> diskIdentities;   // model||capacity||sectors||N
    std::vector<std::string> volumeSizes;      // "\\.\E:|sectors"
};

// Lists the disks and mounted volumes of `registry` the way a search
// dialog's drive tree lists them (reads each disk's partition table).
ScanLogDevices ListScanLogDevices(DeviceRegistry& registry);

struct ScanLogCandidate {
    std::string devicePath;   // "\\.\PhysicalDriveN" or "\\.\E:"
    int diskNumber = -1;      // a disk's number now; -1 for a volume
    bool exact = false;       // matched by the exact text
};

// The devices that may be the log's source, best first: the exact match,
// then the others that match without the disk number (or by the volume
// size). A Basic log compares disk identities trimmed, a Deep log as they
// are. Empty when nothing attached matches (or the log names no device).
std::vector<ScanLogCandidate> ScanLogSourceCandidates(const ScanLogDocument& doc, const ScanLogDevices& devices,
                                                      ScanLogReaderKind reader);

enum class LoggedVolumeCheck {
    Same,        // the boot sector gives the logged geometry
    Unreadable,  // no volume could be read from it
    Other,       // it holds another volume
};

// Reads the boot sector of the logged partition (`logged`: descriptor and
// geometry from the log) on `device` and compares. With Same, `fresh` gets
// the partition as read now (the extra boot-sector facts filled in).
LoggedVolumeCheck CheckLoggedVolume(const CurrentPartition& logged, Device& device, CurrentPartition* fresh = nullptr);

// The partition of the log on the device it was written from: the first
// candidate whose boot sector confirms the log, else the first one whose
// boot sector reads as no volume; its device opened through `registry`. A
// Deep log (`logged.RecoveryMode` 2) names a range, not a volume: another
// boot sector there does not rule a candidate out.
// nullopt when no candidate will do (the media-moved case).
std::optional<CurrentPartition> FindLoggedPartition(const CurrentPartition& logged,
                                                    const std::vector<ScanLogCandidate>& candidates,
                                                    DeviceRegistry& registry);

}  // namespace torvane
