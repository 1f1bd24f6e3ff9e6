// Name, date and attribute rules shared by every FAT directory reader: what a
// scan accepts as a plausible name and time stamp, and the attribute-bit texts
// that the listing and the exFAT reader use.
#pragma once

#include <cstdint>
#include <ctime>
#include <string>
#include <string_view>

namespace torvane {

// The extension of a name the way the Windows shell finds it: the text from
// the last '.' on, where a later ' ' or '\' forgets an earlier '.'. Empty when
// there is none. "a b.txt" -> ".txt", "file.t xt" -> "".
std::string_view FindNameExtension(std::string_view name);

// Trims ASCII white space (space, tab, CR, LF, VT, FF) from both ends.
std::string TrimWhite(std::string_view text);

// A name (UTF-8) is plausible when it holds no control character U+0001..U+001F,
// none of  " \ / ? * < > | :  and no character U+0080..U+00FF, and its
// extension (after one leading '.', trimmed) is empty or ASCII letters and
// digits that are not all digits.
bool IsPlausibleFileName(std::string_view name);

// The name test of a FAT 8.3 name (its bytes decoded to UTF-8). Every 8.3 name
// must hold no control character U+0001..U+001F and none of  " \ / ? * < > | :
// (no FAT driver writes them). `strict` is for entries read where any file's
// data may stand instead of a directory: the name must then also hold no
// character U+0080..U+00FF (an OEM code-page letter such as 0xA5 for N-tilde
// decodes there) and its extension must be empty or ASCII letters and digits.
// Digits alone pass either way: BACKUP.001 and split archives are real files.
bool IsPlausibleShortName(std::string_view name, bool strict);

// The current local year. Tests may pin it.
int CurrentLocalYear();
void SetLocalYearForTesting(int year);   // 0 restores the clock

// The time a scan takes as "now": when it ran (ScanResults::ScanTime) and the
// time word of the miscellaneous folder it makes. Tests may pin it, so that
// what a scan writes into a scan log is the same at every run.
std::time_t CurrentScanClock();
void SetScanClockForTesting(std::time_t now);   // 0 restores the clock

// A FAT write date/time pair is valid when each word is 0 (which stands for
// today / now) or: month 1..12, day 1..31, hours <= 24, minutes <= 60,
// seconds (2 x field) <= 60. The year is not tested: a camera whose clock runs
// ahead writes dates in the future, and its files are real.
bool IsValidFatDateTime(std::uint16_t date, std::uint16_t time);

// Attribute-bit texts: 1..15 give four digits, 16..255 eight, others "".
std::string FormatBinaryDigits(int value);
// Left-pads `digits` with '0' to `width` characters.
std::string PadWithLeadingZeros(std::string digits, std::size_t width);
// The eight-digit attribute text of an attribute byte (FormatBinaryDigits padded to 8).
std::string AttributeBitText(std::uint8_t attribute);
// 1 when digit 3 (the 0x10 directory bit) of an attribute text is '1'.
int HasDirectoryBitText(std::string_view bits);
// 1 when neither digit 0 nor digit 1 (0x80, 0x40) is '1' and some digit is '1'.
int IsUsableAttributeText(std::string_view bits);
// Reads up to 32 binary digits, the last digit being bit 0; any character
// other than '1' counts as 0. Longer text: only the last 32 digits count.
std::uint32_t ParseBinaryDigits(std::string_view digits);
// "%X" of a value.
std::string FormatHexByte(unsigned value);

// One step of the FAT32 high-word guess: the candidate's low 32 bits, plus
// 0x10000 when a < b (unsigned).
std::uint32_t NextHighWordCandidate(std::uint32_t a, std::uint64_t b, std::uint64_t candidate);

// The current local time (CurrentScanClock) packed as a FAT time word
// (h*2048 + m*32 + s/2).
std::uint16_t CurrentFatTimeWord();

}  // namespace torvane
