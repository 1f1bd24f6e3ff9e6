// The signature data files and the header-signature records built from them.
//
// The carving searches recognise the start of a file by a short header found
// at a fixed offset inside a 512-byte sector. The headers are not compiled in:
// they come from six plain-text files that lie beside the program
// ("QOVExt2.dll", "QOVExt2Adv.dll", "QOVVideo.dll", "QOVVideoAdv.dll",
// "QOVSig.dll", "QOVSigAdv.dll"; the names end in ".dll" although the files
// hold text).
//
// File format, exactly as the readers take it:
// - 8-bit text, read line by line; a line ends at LF, a CR before it is
//   dropped.
// - A sequence of records of exactly six lines each; no header, no
//   separators. Lines 1, 7, 13, ... begin records.
// - Every line is "label:value". The value is everything after the LAST colon,
//   white space removed at both ends; a line without a colon is its own value.
//   Labels are never checked.
//   1. extension with its dot (".jpg")
//   2. largest size in bytes of a carved file of this type, decimal text
//   3. header bytes as hex text, two digits per byte, no separators; any
//      character that is not a hex digit counts as the digit 0; an odd last
//      digit is a byte of its own
//   4. 1-based offset of the first header byte inside a 512-byte sector
//   5. unused
//   6. description (shown in the signature search's extension list)
// - A last record with fewer than six lines is still taken; its missing lines
//   read as empty.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace torvane {

inline constexpr int kMaxSignatureHeaderBytes = 50;
inline constexpr int kSignatureSectorSize = 512;
inline constexpr int kLinesPerSignatureRecord = 6;

// One header signature.
struct FileType1 {
    std::int32_t keyPos = 0;     // 1-based offset of header[0] inside the sector
    std::int32_t keyByte = 0;    // header[0]
    std::array<std::int32_t, kMaxSignatureHeaderBytes> header{};
    std::int32_t headerLen = 0;  // 0..50
    std::string extension;       // ".jpg" (as written; upper-cased by the signature search)
    std::string maxSize;         // decimal text
    std::string headerHex;       // line 3 upper-cased

    // Two records are the same key when keyPos and keyByte match; the other
    // fields play no part in lookups.
    bool SameKey(const FileType1& other) const { return keyPos == other.keyPos && keyByte == other.keyByte; }

    // The largest carved size as a number (no digits gives 0).
    std::uint64_t MaxSizeBytes() const;

    // True when the whole header lies inside one 512-byte sector at keyPos:
    // keyPos >= 1, headerLen >= 1 and keyPos - 1 + headerLen <= 512. A record
    // that does not fit can never match; engines must test this before they
    // look at the sector (a corrupt file must not make them read outside it).
    bool FitsInSector() const;

    // True when the header matches the sector at its key offset. `sector`
    // holds `size` bytes; a record that does not fit never matches.
    bool MatchesSector(const std::uint8_t* sector, std::size_t size) const;
};

// Grammar helpers (exposed for tests and the signature search dialog).
//
// The value of a "label:value" line: text after the last colon, trimmed.
std::string SignatureLineValue(std::string_view line);
// Splits file text into lines: LF ends a line, a CR before it is dropped. A
// final line without LF still counts; an empty text has no lines.
std::vector<std::string> SplitSignatureLines(std::string_view text);
// Fills header, headerLen, keyByte and headerHex from the value of line 3.
// Headers longer than 50 bytes are cut at 50.
void ParseSignatureHeader(std::string_view value, FileType1& record);
// Line 4: leading white space, optional sign, digits up to the first
// non-digit; 0 without digits; saturates at the int32 limits.
std::int32_t ParseSignatureKeyOffset(std::string_view value);
// Line 2 as a number: leading white space, digits; 0 without digits;
// saturates at UINT64_MAX.
std::uint64_t ParseSignatureMaxSize(std::string_view value);

// One record as read from a file, with the texts the readers use.
struct SignatureFileEntry {
    FileType1 record;           // extension kept as written
    std::string description;    // value of line 6
    int firstLine = 0;          // 1-based line number of the record's line 1
    int lineCount = 0;          // 6, or fewer for a short last record
};

// A parsed signature data file.
struct SignatureDataFile {
    std::vector<SignatureFileEntry> entries;
    std::size_t lineCount = 0;

    static SignatureDataFile Parse(std::string_view text);
    // Reads and parses a file. On failure returns nullopt and, when `reason`
    // is given, stores the system's description of the failure.
    static std::optional<SignatureDataFile> Load(const std::string& path, std::string* reason = nullptr);
};

// A list of signatures and the distinct key offsets among them (first-seen
// order, which is also the probe order per sector).
struct SignatureList {
    std::vector<FileType1> records;
    std::vector<std::int32_t> keyPositions;

    void Append(const FileType1& record);
    void Clear();
    bool Empty() const { return records.empty(); }
};

// From the element after `after` (from the first when none), the position of
// the first record with the key's keyPos and keyByte; nullopt when none.
// Calling again with the returned position yields the next one.
std::optional<std::size_t> FindSignatureRecord(const SignatureList& list, const FileType1& key,
                                               std::optional<std::size_t> after = std::nullopt);

// The text the signature search's extension check-list shows for a record's
// line 1: the value with its leading dot removed, upper-cased (".mp4" gives
// "MP4"). The value is trimmed before the dot is dropped, so a blank after the
// colon cannot end up in the list.
std::string SignatureListItemText(std::string_view extensionLine);

// The photo search's two lists, loaded once at start-up and read-only after.
struct PhotoSignatureLists {
    SignatureList general;   // "General" pass (first photo file)
    SignatureList advance;   // "Thorough" pass (second photo file)
};

// The program-wide photo lists (filled by LoadSignatureFiles before any
// window or worker exists; read-only afterwards).
PhotoSignatureLists& SharedPhotoSignatures();

// Appends every record of `file` to `list` (extension kept as written).
void AppendSignatureFile(const SignatureDataFile& file, SignatureList& list);

// What start-up needs to check the signature data files.
struct SignatureFileSet {
    std::string executablePath;        // the program's own path (sets ProgramBaseName)
    std::string folder;                // the program's folder
    std::array<std::string, 6> names;  // "QOVExt2.dll" ... in profile order (with or without a leading separator)
    bool photo = true;                 // EnablePhotoSearch
    bool video = false;                // EnableVideoSearch
    bool signature = true;             // EnableSignatureSearch
};

// Full path of one signature data file in `folder` (a leading "\" or "/" of
// the name is dropped).
std::string SignatureFilePath(const std::string& folder, std::string_view name);

struct SignatureLoadResult {
    bool ok = true;
    std::string failedPath;   // the file that could not be opened
    std::string message;      // "Couldn't open source file: " + reason
};

// Start-up step: loads the photo pair into `photo` (when the photo search is
// enabled) and checks that every data file of the enabled searches opens, in
// the order photo pair, video pair, signature pair. Stops at the first file
// that cannot be opened.
SignatureLoadResult LoadSignatureFiles(const SignatureFileSet& files, PhotoSignatureLists& photo);

// The executable's file name without its folder, trimmed, with a trailing
// ".exe" removed only where there is one.
std::string ProgramBaseNameFromPath(std::string_view executablePath);

// The program's base name ("torvane"), which names the top output folder of
// every carving search. Set by LoadSignatureFiles from the executable path
// (before any worker exists; read-only afterwards); "torvane" until then.
const std::string& ProgramBaseName();

}  // namespace torvane
