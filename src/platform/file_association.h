// The scan-log file type, registered the freedesktop way so that opening a
// "*.VQL" file in a file manager starts the program with the file's path.
//
// Two per-user files under the user's data folder ($XDG_DATA_HOME, by default
// ~/.local/share):
//   mime/packages/torvane-scanlog.xml   a shared-mime-info type for *.vql
//                                       (globs match without case, so *.VQL too)
//   applications/torvane.desktop        a desktop entry that opens that type
//                                       with the program
// They are written at start-up only when missing or changed; after a change
// the desktop's caches are refreshed (update-mime-database,
// update-desktop-database), best effort and without waiting.
#pragma once

#include <string>

namespace torvane {

inline constexpr const char* kScanLogMimeType = "application/x-torvane-scanlog";
inline constexpr const char* kScanLogMimeFile = "mime/packages/torvane-scanlog.xml";
inline constexpr const char* kDesktopEntryFile = "applications/torvane.desktop";

// $XDG_DATA_HOME when set to an absolute path, else $HOME/.local/share; empty
// when neither can be found.
std::string UserDataFolder();

// The texts of the two files.
std::string ScanLogMimeXml(const std::string& extension);
std::string ScanLogDesktopEntry(const std::string& executablePath, const std::string& displayName);

// Quotes a path for the Exec key of a desktop entry: wrapped in double quotes
// when it holds a reserved character, with '"', '`', '$' and '\' escaped.
std::string QuoteDesktopExecArgument(const std::string& path);

struct AssociationResult {
    bool ok = true;          // both files are in place with the right content
    bool changed = false;    // at least one file was written
    std::string error;       // the first failure, for diagnostics
};

// Writes the two files under `dataFolder` (UserDataFolder() when empty) when
// they are missing or differ. With `refreshCaches` set and a file changed,
// starts the two cache tools in the background.
AssociationResult RegisterScanLogAssociation(const std::string& executablePath, const std::string& displayName,
                                             const std::string& extension, std::string dataFolder = {},
                                             bool refreshCaches = true);

}  // namespace torvane
