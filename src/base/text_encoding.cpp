// Text conversions between the encodings found on disk and the program's UTF-8.
//
// Every decoder here is total: it accepts any input and never reads past the
// range it was given. What cannot be decoded becomes U+FFFD, so a damaged name
// on a broken volume still shows (and saves) as something readable.
#include "base/text_encoding.h"

#include <array>
#include <bit>
#include <cstdint>
#include <cstring>

namespace torvane {
namespace {

constexpr char32_t kReplacement = 0xFFFD;

void AppendUtf8(std::string& out, char32_t cp) {
    if (cp < 0x80) {
        out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
}

void AppendUtf16(std::u16string& out, char32_t cp) {
    if (cp < 0x10000) {
        out.push_back(static_cast<char16_t>(cp));
    } else {
        cp -= 0x10000;
        out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
        out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
    }
}

bool IsHighSurrogate(char32_t u) { return u >= 0xD800 && u <= 0xDBFF; }
bool IsLowSurrogate(char32_t u) { return u >= 0xDC00 && u <= 0xDFFF; }

// Shared UTF-16 walk over any unit source (`unit(i)` gives code unit i).
template <typename UnitAt>
void DecodeUtf16Into(std::size_t units, UnitAt unit, std::string& out) {
    out.reserve(out.size() + units + units / 2);
    for (std::size_t i = 0; i < units; ++i) {
        const char32_t u = unit(i);
        if (IsHighSurrogate(u)) {
            if (i + 1 < units) {
                const char32_t next = unit(i + 1);
                if (IsLowSurrogate(next)) {
                    AppendUtf8(out, 0x10000 + ((u - 0xD800) << 10) + (next - 0xDC00));
                    ++i;
                    continue;
                }
            }
            AppendUtf8(out, kReplacement);  // high surrogate without its partner
        } else if (IsLowSurrogate(u)) {
            AppendUtf8(out, kReplacement);  // stray low surrogate
        } else {
            AppendUtf8(out, u);
        }
    }
}

template <typename UnitAt>
std::string DecodeUtf16(std::size_t units, UnitAt unit) {
    std::string out;
    DecodeUtf16Into(units, unit, out);
    return out;
}

// The 32 code points of Windows-1252 at 0x80..0x9F; 0 marks the five bytes
// the code page leaves undefined.
constexpr std::array<char16_t, 32> kCp1252High = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0,      0x017D, 0,
    0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178,
};

}  // namespace

std::string Utf16LeToUtf8(const std::uint8_t* bytes, std::size_t units) {
    if (bytes == nullptr) return {};
    // Names on disk are mostly plain ASCII: one byte per unit, written at once.
    // Four units are tested per step where the host reads little-endian.
    std::size_t i = 0;
    if constexpr (std::endian::native == std::endian::little) {
        for (; i + 4 <= units; i += 4) {
            std::uint64_t four;
            std::memcpy(&four, bytes + 2 * i, sizeof four);
            if ((four & 0xFF80FF80FF80FF80ull) != 0) break;
        }
    }
    while (i < units && bytes[2 * i] < 0x80 && bytes[2 * i + 1] == 0)
        ++i;
    if (i == units) {
        std::string out(units, '\0');
        for (std::size_t k = 0; k < units; ++k)
            out[k] = static_cast<char>(bytes[2 * k]);
        return out;
    }
    return DecodeUtf16(units, [bytes](std::size_t i) {
        return static_cast<char32_t>(bytes[2 * i] | (bytes[2 * i + 1] << 8));
    });
}

void Utf16UnitsToUtf8(const std::uint16_t* units, std::size_t n, std::string& out) {
    out.clear();
    // Plain ASCII names (most of them) go straight in.
    std::size_t ascii = 0;
    while (ascii < n && units[ascii] < 0x80)
        ++ascii;
    out.resize(ascii);
    for (std::size_t i = 0; i < ascii; ++i)
        out[i] = static_cast<char>(units[i]);
    if (ascii < n)
        DecodeUtf16Into(n - ascii, [units, ascii](std::size_t i) { return static_cast<char32_t>(units[ascii + i]); }, out);
}

std::string Utf16ToUtf8(std::u16string_view text) {
    return DecodeUtf16(text.size(), [text](std::size_t i) { return static_cast<char32_t>(text[i]); });
}

// Decodes UTF-8 following the "maximal subpart" practice: each invalid or
// truncated sequence is replaced by one U+FFFD and decoding resumes at the
// first byte that cannot continue it. Overlong forms, encoded surrogates and
// values above U+10FFFF are invalid.
std::u16string Utf8ToUtf16(std::string_view text) {
    std::u16string out;
    out.reserve(text.size());
    const std::size_t n = text.size();
    std::size_t i = 0;
    while (i < n) {
        const auto b0 = static_cast<unsigned char>(text[i]);
        if (b0 < 0x80) {
            out.push_back(b0);
            ++i;
            continue;
        }
        std::size_t need;
        char32_t cp;
        unsigned char lo = 0x80, hi = 0xBF;  // allowed range of the second byte
        if (b0 >= 0xC2 && b0 <= 0xDF) {
            need = 1;
            cp = b0 & 0x1F;
        } else if (b0 >= 0xE0 && b0 <= 0xEF) {
            need = 2;
            cp = b0 & 0x0F;
            if (b0 == 0xE0) lo = 0xA0;        // no overlong 3-byte forms
            else if (b0 == 0xED) hi = 0x9F;   // no surrogates
        } else if (b0 >= 0xF0 && b0 <= 0xF4) {
            need = 3;
            cp = b0 & 0x07;
            if (b0 == 0xF0) lo = 0x90;        // no overlong 4-byte forms
            else if (b0 == 0xF4) hi = 0x8F;   // nothing above U+10FFFF
        } else {
            out.push_back(static_cast<char16_t>(kReplacement));
            ++i;
            continue;
        }
        std::size_t j = i + 1;
        bool ok = true;
        for (std::size_t k = 0; k < need; ++k, ++j) {
            if (j >= n) { ok = false; break; }
            const auto b = static_cast<unsigned char>(text[j]);
            const unsigned char min = (k == 0) ? lo : 0x80;
            const unsigned char max = (k == 0) ? hi : 0xBF;
            if (b < min || b > max) { ok = false; break; }
            cp = (cp << 6) | (b & 0x3F);
        }
        if (!ok) {
            out.push_back(static_cast<char16_t>(kReplacement));
            i = j;  // j points at the first byte that did not fit
            continue;
        }
        AppendUtf16(out, cp);
        i = j;
    }
    return out;
}

std::string Windows1252ToUtf8(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size() + bytes.size() / 2);
    for (const char c : bytes) {
        const auto b = static_cast<unsigned char>(c);
        if (b < 0x80) {
            out.push_back(c);
        } else if (b < 0xA0) {
            const char16_t cp = kCp1252High[b - 0x80];
            AppendUtf8(out, cp != 0 ? cp : kReplacement);
        } else {
            AppendUtf8(out, b);  // 0xA0..0xFF are Latin-1
        }
    }
    return out;
}

std::string AsciiUpper(std::string_view text) {
    std::string out(text);
    for (char& c : out) {
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    }
    return out;
}

std::string AsciiLower(std::string_view text) {
    std::string out(text);
    for (char& c : out) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return out;
}

}  // namespace torvane
