// Names and folders of carved files.
//
// Every carved file goes into a folder tree under the destination the user
// chose:
//
//   <destination>/<ProgramBaseName>/<Mode> Search/<General|Omitted>/<EXT>[_NNN]/<name>
//
// - the search folder: "Photo Search", "Video Search" or "Signature Search";
// - the pass folder: "General" for the General pass, "Omitted" for the
//   Thorough pass;
// - the extension folder: the extension in capitals (JPG), then JPG_001,
//   JPG_002, ... each time the current one has received kCarvedFilesPerFolder
//   files in one pass.
//
// File names: a prefix, a counter zero-padded to five digits, the folder's
// suffix ("_001" in JPG_001, nothing in JPG), a dot and the extension:
// GNDR00001.jpg (Photo Search, General pass), THDR00007_002.jpg (Thorough
// pass), MP400007.MP4 (the signature search names by extension).
//
// Every part of a path is one of the program's own texts: the extension comes
// from the signature data files beside the program and is reduced to ASCII
// letters and digits, so nothing read from a device ever reaches a path.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace torvane {

// Files one extension folder takes in one pass before the next folder opens.
inline constexpr std::uint64_t kCarvedFilesPerFolder = 50000;

// Name prefixes of the Photo Search's two passes.
inline constexpr std::string_view kPhotoGeneralPrefix = "GNDR";
inline constexpr std::string_view kPhotoThoroughPrefix = "THDR";

// The pass folders.
inline constexpr std::string_view kGeneralPassFolder = "General";
inline constexpr std::string_view kThoroughPassFolder = "Omitted";

// prefix + counter (five digits at least) + suffix + "." + extension; a
// leading dot of the extension is dropped. ("GNDR", ".jpg", "", 1) gives
// GNDR00001.jpg; ("THDR", ".JPG", "_001", 123456) gives THDR123456_001.JPG.
std::string MakeCarvedFileName(std::string_view prefix, std::string_view extension, std::string_view suffix,
                               std::uint64_t counter);

// The extension of a signature record as it may appear in a path: without
// its leading dot, only ASCII letters and digits kept (".jpg" gives "jpg",
// "../x" gives "x"). Empty when nothing is left; such a record carves nothing.
std::string CarvedExtensionText(std::string_view recordExtension);

// One row of the per-extension table each carving search keeps.
struct ExtensionFolderRow {
    std::string extension;        // row key: CarvedExtensionText in capitals ("JPG")
    std::uint64_t count = 0;      // files written to the current folder in this pass
    std::string folderName;       // the current folder ("JPG", "JPG_001", ...)
    std::uint64_t lastFileNo = 0; // the signature search's counter; runs on across passes
    std::uint64_t filesFound = 0; // carved files of this extension in the whole search

    // Pass start: count 0, folder named after the extension.
    void StartPass();
};

struct ExtensionFolderChoice {
    std::string folderName;  // the folder the next file goes into
    std::string suffix;      // the suffix its file names carry ("" or "_001", ...)
};

// Takes one more file into the row's current folder, or, when that folder
// already holds `filesPerFolder` files, into the next one (count back to 1).
// Tests lower the limit through `filesPerFolder` only.
ExtensionFolderChoice ChooseExtensionFolder(ExtensionFolderRow& row,
                                            std::uint64_t filesPerFolder = kCarvedFilesPerFolder);

// The folder after `current` for extension `extension`: "JPG" gives JPG_001,
// "JPG_009" gives JPG_010, "JPG_099" gives JPG_100.
std::string NextExtensionFolderName(std::string_view extension, std::string_view current);

// The suffix the file names of a folder carry: from its first "_" to its end
// ("JPG_003" gives "_003"); empty when it has none.
std::string ExtensionFolderSuffix(std::string_view folderName);

// <destination>/<baseName>/<modeText> Search, without a trailing separator.
// The mode text is "Photo", "Video" or "Signature".
std::string CarvingSearchFolder(std::string_view destination, std::string_view baseName, std::string_view modeText);

// "The recovered data is saved in folder: <base>  >> <mode> Search, in
// selected location by user.", with a line break in front when the base name
// has fewer than 18 characters.
std::string SavedFolderText(std::string_view baseName, std::string_view modeText);
// SavedFolderText for ProgramBaseName(), also stored as the carving completion
// text of the shared message texts. Called on the GUI thread.
std::string MakeSavedFolderText(std::string_view modeText);

}  // namespace torvane
