// The saver of volumes whose scan keeps every file it found as a FoundEntry
// (NTFS and exFAT): a folder's files are the entries filed under its id, and
// each is written by the file system's own writer.
#pragma once

#include "fsrecovery/store/found_items.h"
#include "platform/device.h"
#include "results/file_system_volume.h"
#include "results/save_session.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace torvane {

// Writes one found entry to `target`; `name` is its shown name.
using FoundEntryWriter = std::function<FileOutcome(SaveSession& session, Device& device, const FoundEntry& entry,
                                                   const std::string& target, const std::string& name)>;

// `rootId`: the folder id of the volume root's own files.
std::unique_ptr<FileSystemSaver> MakeFoundEntrySaver(ScanResults& results, DevicePtr device, std::uint64_t rootId,
                                                     FoundEntryWriter writer);

}  // namespace torvane
