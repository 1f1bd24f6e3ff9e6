// Text conversions. Core text is UTF-8; names on disk are UTF-16LE (FAT long
// names, exFAT, NTFS) or an 8-bit code page (FAT short names: Windows-1252).
// Decoding never fails: unpaired surrogates and invalid input become U+FFFD.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>


namespace torvane {

// `units` UTF-16 code units (little-endian byte pairs at `bytes`) to UTF-8.
std::string Utf16LeToUtf8(const std::uint8_t* bytes, std::size_t units);
std::string Utf16ToUtf8(std::u16string_view text);
// The same from `n` code units into `out` (emptied first; its room is reused).
void Utf16UnitsToUtf8(const std::uint16_t* units, std::size_t n, std::string& out);
// UTF-8 to UTF-16; invalid sequences become U+FFFD.
std::u16string Utf8ToUtf16(std::string_view text);
// Windows-1252 bytes to UTF-8 (undefined bytes 0x81, 0x8D, 0x8F, 0x90, 0x9D map to U+FFFD).
std::string Windows1252ToUtf8(std::string_view bytes);
// ASCII-only upper/lower case (the C locale), for names and extensions.
std::string AsciiUpper(std::string_view text);
std::string AsciiLower(std::string_view text);

}  // namespace torvane
