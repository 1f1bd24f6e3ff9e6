#include "carving/signature_file.h"

#include "base/text_encoding.h"
#include "base/text_routines.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <limits>
#include <sstream>

namespace torvane {
namespace {

bool IsBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
}

std::string_view Trim(std::string_view text)
{
    while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
    while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
    return text;
}

}  // namespace

std::uint64_t FileType1::MaxSizeBytes() const
{
    return ParseSignatureMaxSize(maxSize);
}

bool FileType1::FitsInSector() const
{
    return keyPos >= 1 && headerLen >= 1 && headerLen <= kMaxSignatureHeaderBytes &&
           static_cast<std::int64_t>(keyPos) - 1 + headerLen <= kSignatureSectorSize;
}

bool FileType1::MatchesSector(const std::uint8_t* sector, std::size_t size) const
{
    if (!FitsInSector() || sector == nullptr) return false;
    const std::size_t start = static_cast<std::size_t>(keyPos - 1);
    if (start + static_cast<std::size_t>(headerLen) > size) return false;
    for (int i = 0; i < headerLen; ++i) {
        if (sector[start + static_cast<std::size_t>(i)] != static_cast<std::uint8_t>(header[static_cast<std::size_t>(i)]))
            return false;
    }
    return true;
}

std::string SignatureLineValue(std::string_view line)
{
    const auto colon = line.rfind(':');
    if (colon != std::string_view::npos) line.remove_prefix(colon + 1);
    return std::string(Trim(line));
}

std::vector<std::string> SplitSignatureLines(std::string_view text)
{
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        const bool last = end == std::string_view::npos;
        if (last) end = text.size();
        std::string_view line = text.substr(start, end - start);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        lines.emplace_back(line);
        if (last) break;
        start = end + 1;
    }
    return lines;
}

void ParseSignatureHeader(std::string_view value, FileType1& record)
{
    record.headerHex = AsciiUpper(value);
    record.header.fill(0);
    record.headerLen = 0;
    const std::string& hex = record.headerHex;
    for (std::size_t i = 0; i < hex.size() && record.headerLen < kMaxSignatureHeaderBytes; i += 2) {
        // A last single digit is a byte of its own with that digit's value.
        const int byte = HexTextToInt(std::string_view(hex).substr(i, 2));
        record.header[static_cast<std::size_t>(record.headerLen++)] = byte;
    }
    // With an empty header the key byte stays 0; such a record never matches.
    record.keyByte = record.headerLen > 0 ? record.header[0] : 0;
}

std::int32_t ParseSignatureKeyOffset(std::string_view value)
{
    std::size_t i = 0;
    while (i < value.size() && IsBlank(value[i])) ++i;
    bool negative = false;
    if (i < value.size() && (value[i] == '+' || value[i] == '-')) {
        negative = value[i] == '-';
        ++i;
    }
    std::int64_t result = 0;
    for (; i < value.size() && value[i] >= '0' && value[i] <= '9'; ++i) {
        result = result * 10 + (value[i] - '0');
        if (result > std::numeric_limits<std::int32_t>::max()) {
            return negative ? std::numeric_limits<std::int32_t>::min() : std::numeric_limits<std::int32_t>::max();
        }
    }
    return static_cast<std::int32_t>(negative ? -result : result);
}

std::uint64_t ParseSignatureMaxSize(std::string_view value)
{
    std::size_t i = 0;
    while (i < value.size() && IsBlank(value[i])) ++i;
    if (i < value.size() && value[i] == '+') ++i;
    std::uint64_t result = 0;
    for (; i < value.size() && value[i] >= '0' && value[i] <= '9'; ++i) {
        const unsigned digit = static_cast<unsigned>(value[i] - '0');
        if (result > (std::numeric_limits<std::uint64_t>::max() - digit) / 10) return std::numeric_limits<std::uint64_t>::max();
        result = result * 10 + digit;
    }
    return result;
}

SignatureDataFile SignatureDataFile::Parse(std::string_view text)
{
    SignatureDataFile file;
    const std::vector<std::string> lines = SplitSignatureLines(text);
    file.lineCount = lines.size();
    for (std::size_t first = 0; first < lines.size(); first += kLinesPerSignatureRecord) {
        // Missing lines of a short last record read as empty.
        auto value = [&](int lineInRecord) -> std::string {
            const std::size_t index = first + static_cast<std::size_t>(lineInRecord - 1);
            return index < lines.size() ? SignatureLineValue(lines[index]) : std::string();
        };
        SignatureFileEntry entry;
        entry.firstLine = static_cast<int>(first + 1);
        entry.lineCount = static_cast<int>(std::min<std::size_t>(kLinesPerSignatureRecord, lines.size() - first));
        entry.record.extension = value(1);
        entry.record.maxSize = value(2);
        ParseSignatureHeader(value(3), entry.record);
        entry.record.keyPos = ParseSignatureKeyOffset(value(4));
        entry.description = value(6);
        file.entries.push_back(std::move(entry));
    }
    return file;
}

std::optional<SignatureDataFile> SignatureDataFile::Load(const std::string& path, std::string* reason)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        if (reason) *reason = path + ": " + std::strerror(errno);
        return std::nullopt;
    }
    std::ostringstream buffer;
    buffer << in.rdbuf();
    if (in.bad()) {
        if (reason) *reason = path + ": read error";
        return std::nullopt;
    }
    return Parse(buffer.str());
}

void SignatureList::Append(const FileType1& record)
{
    records.push_back(record);
    if (std::find(keyPositions.begin(), keyPositions.end(), record.keyPos) == keyPositions.end())
        keyPositions.push_back(record.keyPos);
}

void SignatureList::Clear()
{
    records.clear();
    keyPositions.clear();
}

std::optional<std::size_t> FindSignatureRecord(const SignatureList& list, const FileType1& key,
                                               std::optional<std::size_t> after)
{
    const std::size_t start = after ? *after + 1 : 0;
    for (std::size_t i = start; i < list.records.size(); ++i) {
        if (list.records[i].SameKey(key)) return i;
    }
    return std::nullopt;
}

std::string SignatureListItemText(std::string_view extensionLine)
{
    std::string value = SignatureLineValue(extensionLine);
    if (!value.empty()) value.erase(0, 1);
    return AsciiUpper(Trim(value));
}

PhotoSignatureLists& SharedPhotoSignatures()
{
    static PhotoSignatureLists lists;
    return lists;
}

void AppendSignatureFile(const SignatureDataFile& file, SignatureList& list)
{
    for (const SignatureFileEntry& entry : file.entries) list.Append(entry.record);
}

std::string SignatureFilePath(const std::string& folder, std::string_view name)
{
    while (!name.empty() && (name.front() == '\\' || name.front() == '/')) name.remove_prefix(1);
    if (folder.empty()) return std::string(name);
    std::string path = folder;
    if (path.back() != '/') path += '/';
    path += name;
    return path;
}

namespace {

std::string& ProgramBaseNameStorage()
{
    static std::string name = "torvane";
    return name;
}

}  // namespace

const std::string& ProgramBaseName()
{
    return ProgramBaseNameStorage();
}

SignatureLoadResult LoadSignatureFiles(const SignatureFileSet& files, PhotoSignatureLists& photo)
{
    SignatureLoadResult result;
    if (!files.executablePath.empty()) {
        std::string base = ProgramBaseNameFromPath(files.executablePath);
        if (!base.empty()) ProgramBaseNameStorage() = std::move(base);
    }
    auto fail = [&](const std::string& path, const std::string& reason) {
        result.ok = false;
        result.failedPath = path;
        result.message = "Couldn't open source file: " + reason;
        return result;
    };
    auto opens = [&](std::string_view name, std::string& path, std::string& reason) {
        path = SignatureFilePath(files.folder, name);
        std::ifstream in(path, std::ios::binary);
        if (!in) {
            reason = path + ": " + std::strerror(errno);
            return false;
        }
        return true;
    };

    std::string path, reason;
    if (files.photo) {
        // The two photo lists: General from the first file, Advance from the second.
        for (int i = 0; i < 2; ++i) {
            path = SignatureFilePath(files.folder, files.names[static_cast<std::size_t>(i)]);
            std::optional<SignatureDataFile> file = SignatureDataFile::Load(path, &reason);
            if (!file) return fail(path, reason);
            SignatureList& list = i == 0 ? photo.general : photo.advance;
            list.Clear();
            AppendSignatureFile(*file, list);
        }
    }
    if (files.video) {
        for (int i = 2; i < 4; ++i) {
            if (!opens(files.names[static_cast<std::size_t>(i)], path, reason)) return fail(path, reason);
        }
    }
    if (files.signature) {
        for (int i = 4; i < 6; ++i) {
            if (!opens(files.names[static_cast<std::size_t>(i)], path, reason)) return fail(path, reason);
        }
    }
    return result;
}

std::string ProgramBaseNameFromPath(std::string_view executablePath)
{
    const auto slash = executablePath.find_last_of("/\\");
    std::string_view name = slash == std::string_view::npos ? executablePath : executablePath.substr(slash + 1);
    name = Trim(name);
    if (name.size() >= 4) {
        const std::string tail = AsciiUpper(name.substr(name.size() - 4));
        if (tail == ".EXE") name.remove_suffix(4);
    }
    return std::string(name);
}

}  // namespace torvane
