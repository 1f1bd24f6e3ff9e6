// Destination folders, too-long paths and name conflicts.
//
// Paths are UTF-8 with "/" between components. A recovered name is untrusted:
// it may hold "/", control characters, or be "." or "..". Every component
// goes through SanitizeNameComponent before it becomes part of a path, so
// nothing a scanned volume holds can place a file outside the destination.
//
// Linux limits: a component of at most 255 bytes (NAME_MAX), a path below
// 4096 bytes (PATH_MAX). A file whose name or path passes them gets a short
// name ("AVERYV~(1).TXT", or its 8.3 name on FAT), made unique within the
// save; a folder that cannot be created for its length goes through the
// too-long-path question (give up, move into "KZU_Miscellaneous", or another
// folder).
#pragma once

#include "results/save_session.h"

#include <string>
#include <string_view>

namespace torvane {

inline constexpr std::size_t kNameMaxBytes = 255;
inline constexpr std::size_t kPathMaxBytes = 4096;

// A safe file or folder name: "/" and control characters become "_"; an
// empty name, "." and ".." get a leading "_".
std::string SanitizeNameComponent(std::string_view name);

// Path helpers ("/" separated).
std::string ParentFolder(std::string_view path);     // up to the last "/" (without it); "" when none
std::string LastComponent(std::string_view path);    // after the last "/"
std::string JoinPath(std::string_view folder, std::string_view name);

// Creates a destination folder. Returns the folder that takes its place when
// it had to be placed elsewhere (a redirected too-long folder, or "_zq_N"
// when a file holds the name), else an empty string. Missing parents are
// created first. A folder that cannot be made (no permission, a read-only
// file system, a file where a parent folder should be) goes into the report
// as a failure with the reason, once per save.
std::string CreateDestinationFolder(SaveSession& session, const std::string& path);

// Creates every folder along `path`, first component first. Returns the
// replacement of the whole path when a component was too long and the user
// chose another place; else an empty string. `error`, when given, receives
// the reason a component could not be made (0 when none failed).
std::string CreateEveryPrefix(SaveSession& session, const std::string& path, int* error = nullptr);

// Makes the save's destination folder ready: created with its parents when
// missing. A destination that exists but is not a folder (a file the user
// named) is not replaced by another name: the report says it is no folder
// and false comes back, as for a folder that cannot be made.
bool PrepareDestinationRoot(SaveSession& session);

inline constexpr char kDestinationNotAFolderText[] = "the destination is not a folder";

// Records in the report, once per save and folder, that `folder` could not be
// created or used; `error` is its errno (0: it exists but is not a folder).
void ReportFolderFailure(SaveSession& session, const std::string& folder, int error);

// The folder that takes the place of a too-long folder path, or an empty
// string when the item is given up (asks unless an answer applies to all).
std::string HandleTooLongPath(SaveSession& session, const std::string& path);

// The first six characters of the name, "~(1)", and its extension, in upper
// case: averyverylongname.txt -> AVERYV~(1).TXT.
std::string MakeShortTargetName(std::string_view name);

// The replacement file name when `fullPath` (folder + name) is too long for
// the destination (a name above 255 bytes or a path of 4096 bytes or more),
// else an empty string. `preset` (the 8.3 name of a FAT entry) is used when
// given; when its extension is the name's own cut to three characters
// (".JPE" of ".jpeg"), the name's own extension takes its place. The name is
// kept unique within the save: a second file shortened to the same name gets
// "~(2)", "~(3)", ...
std::string ShortenTargetName(SaveSession& session, const std::string& fullPath, const std::string& folderPath,
                              std::string_view name, std::string_view preset);

// The first free rename of `target`: folder + base + "_zq_" + N + "." + ext,
// N counting from 0 (a name without a dot: name + "_zq_" + N).
std::string FirstFreeRename(SaveSession& session, const std::string& target);

// The path to write, or an empty string when the file is to be skipped
// (Skip, SkipAll, Cancel; Cancel also stops the save). Asks with the
// Replace question unless an answer for all files was given.
std::string ResolveNameConflict(SaveSession& session, const std::string& target);

}  // namespace torvane
