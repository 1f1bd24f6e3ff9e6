#include "results/file_type_texts.h"

#include <array>
#include <cstdio>
#include <initializer_list>

namespace torvane {
namespace {

struct TypeRow {
    std::initializer_list<const char*> extensions;
    const char* text;
};

// Looked up top to bottom; the first row that lists the extension wins.
const std::array<TypeRow, 37>& TypeTable()
{
    static const std::array<TypeRow, 37> table{{
        {{".DOC", ".DOCX"}, "Microsoft Word File"},
        {{".PPT", ".PPTX", ".PPSX", ".PPS"}, "Microsoft Power Point File"},
        {{".XLS", ".XLSX"}, "Microsoft Excel File"},
        {{".ICO"}, "Icon file"},
        {{".PDF"}, "PDF file"},
        {{".EXE", ".BAT", ".COM"}, "Executable file"},
        {{".TTF", ".FON", ".FNT", ".OTF"}, "Font file"},
        {{".PS", ".AI", ".BMP", ".GIF", ".PNG", ".PSD", ".PSP", ".THM", ".TIF", ".TIFF", ".DRW", ".DXF", ".EPS",
          ".SVG", ".JPG", ".MNG", ".PCT", ".JPEG", ".JPE"},
         "Image File"},
        {{".ZIP", ".RAR", ".7Z", ".DEB", ".GZ", ".PKG", ".SEA", ".SIT", ".SITX"}, "Winzip File"},
        {{".HTM", ".HTML", ".ASP", ".ASPX", ".CSS", ".JS", ".JSP", ".PHP", ".XHTML"}, "Web file"},
        {{".CHM"}, "Help File"},
        {{".REG"}, "Registry file"},
        {{".WAV", ".AU", ".MP3", ".M4A", ".MID", ".MIDI", ".MPA", ".WMA", ".AMR", ".RA", ".RAM", ".M3U", ".IFF",
          ".AIF", ".AAC"},
         "Sound file"},
        {{".AVI", ".MOV", ".MKV", ".FLV", ".ASX", ".ASF", ".3GP", ".3G2", ".MP4", ".MPG", ".MPEG", ".SWF", ".VOB",
          ".WMV", ".QT", ".RM"},
         "Video File"},
        {{".CPP", ".C"}, "C++ file"},
        {{".BAK", ".BUP", ".GHO", ".OLD", ".ORI"}, "Backup File"},
        {{".VB", ".WS"}, "Scripting File"},
        {{".LNK", ".SYS"}, "System File"},
        {{".ISO", ".VCD"}, "Disk File"},
        {{".MDBX", ".SQL", ".MDB", ".DB"}, "Database File"},
        {{".JAVA"}, "Java Source Code File"},
        {{".PIF"}, "Program Information File"},
        {{".TORRENT"}, "BitTorrent File"},
        {{".PL"}, "Perl Script File"},
        {{".TMP"}, "Temporary File"},
        {{".H"}, "Header file"},
        {{".MSI"}, "Windows Installer Package File"},
        {{".RTF"}, "Rich Text Format File"},
        {{".MSG"}, "Mail Message File"},
        {{".CSV"}, "Comma Separated Values File"},
        {{".DAT"}, "Data File"},
        {{".DLL"}, "Dynamic Link Library File"},
        {{".XML"}, "XML Document"},
        {{".WKS"}, "Microsoft Works Spreadsheet File"},
        {{".TXT", ".LOG"}, "Text file"},
        {{".VCF"}, "vCard File"},
        {{".CONTACT"}, "Contact File"},
    }};
    return table;
}

bool IsBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
}

char AsciiUpper(char c)
{
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

std::string Upper(std::string_view s)
{
    std::string out(s);
    for (char& c : out)
        c = AsciiUpper(c);
    return out;
}

std::string Trim(std::string_view s)
{
    std::size_t b = 0, e = s.size();
    while (b < e && IsBlank(s[b]))
        ++b;
    while (e > b && IsBlank(s[e - 1]))
        --e;
    return std::string(s.substr(b, e - b));
}

std::string TwoDigits(long v)
{
    char buf[24];
    std::snprintf(buf, sizeof buf, "%ld", v);
    std::string s(buf);
    if (s.size() == 1)
        s.insert(s.begin(), '0');
    return s;
}

// Days since 1970-01-01 to a civil date (proleptic Gregorian).
void CivilFromDays(std::int64_t z, std::int64_t& y, unsigned& m, unsigned& d)
{
    z += 719468;
    const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const unsigned doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    y = static_cast<std::int64_t>(yoe) + era * 400;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    d = doy - (153 * mp + 2) / 5 + 1;
    m = mp < 10 ? mp + 3 : mp - 9;
    if (m <= 2)
        ++y;
}

}  // namespace

std::string FileNameExtension(std::string_view name)
{
    const std::size_t dot = name.rfind('.');
    if (dot == std::string_view::npos)
        return {};
    // A separator after the dot means the dot belongs to a folder name.
    std::string_view ext = name.substr(dot);
    for (char c : ext)
        if (c == '\\' || c == '/' || c == ' ')
            return {};
    return std::string(ext);
}

std::string GetFileTypeText(std::string_view extension, std::string_view /*name*/)
{
    const std::string ext = Upper(Trim(extension));
    if (ext.empty())
        return "File";
    for (const TypeRow& row : TypeTable())
        for (const char* e : row.extensions)
            if (ext == e)
                return row.text;
    std::string_view bare(ext);
    if (!bare.empty() && bare.front() == '.')
        bare.remove_prefix(1);
    return std::string(bare) + " File";
}

std::string GetFileTypeTextOfName(std::string_view name)
{
    return GetFileTypeText(FileNameExtension(name), name);
}

std::string FormatFileTime(std::uint64_t fileTime, std::string* date, std::string* time, std::time_t now)
{
    std::string d, t;
    if (fileTime == 0) {
        std::tm tmv{};
        localtime_r(&now, &tmv);
        static const char* const kMonths[12] = {"JAN", "FEB", "MAR", "APR", "MAY", "JUN",
                                                "JUL", "AUG", "SEP", "OCT", "NOV", "DEC"};
        char buf[32];
        std::snprintf(buf, sizeof buf, "%02d-%s-%04d", tmv.tm_mday, kMonths[tmv.tm_mon % 12], tmv.tm_year + 1900);
        d = buf;
        std::snprintf(buf, sizeof buf, "%02d:%02d:%02d", tmv.tm_hour, tmv.tm_min, tmv.tm_sec);
        t = buf;
    } else if (fileTime > 0x7FFFFFFFFFFFFFFFull) {
        // Beyond what the system's converter accepts: a fixed text in the same shapes.
        d = "00-ERR-0000";
        t = "00:00:00";
    } else {
        static const char* const kMonths[13] = {"ERR", "JAN", "FEB", "MAR", "APR", "MAY", "JUN",
                                                "JUL", "AUG", "SEP", "OCT", "NOV", "DEC"};
        const std::uint64_t seconds = fileTime / 10000000ull;          // since 1601-01-01
        const std::int64_t days = static_cast<std::int64_t>(seconds / 86400) - 134774;  // to 1970-01-01
        const std::uint64_t rest = seconds % 86400;
        std::int64_t y = 0;
        unsigned m = 0, dd = 0;
        CivilFromDays(days, y, m, dd);
        char year[32];
        std::snprintf(year, sizeof year, "%lld", static_cast<long long>(y));
        d = TwoDigits(static_cast<long>(dd)) + "-" + kMonths[m <= 12 ? m : 0] + "-" + year;
        t = TwoDigits(static_cast<long>(rest / 3600)) + ":" + TwoDigits(static_cast<long>(rest / 60 % 60)) + ":" +
            TwoDigits(static_cast<long>(rest % 60));
    }
    if (date)
        *date = d;
    if (time)
        *time = t;
    return d;
}

std::string FormatFileTime(std::uint64_t fileTime, std::string* date, std::string* time)
{
    return FormatFileTime(fileTime, date, time, std::time(nullptr));
}

}  // namespace torvane
