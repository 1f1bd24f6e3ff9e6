// Small routines that turn numbers into the texts the program shows (sizes,
// elapsed times, FAT dates and times), read hexadecimal and decimal text, pad
// numbers, and take diagnostics.
//
// Everything here formats in the C locale whatever the process locale is: a
// size is "1.50 KB" with a decimal point and a month is "JAN" in every
// language setting. Text is UTF-8; widths and positions count characters
// (code points), not bytes.
#pragma once

#include <cstdint>
#include <ctime>
#include <string>
#include <string_view>

namespace torvane {

// "%u Byte" below 1024 bytes; otherwise the size in the largest unit of
// "KMGTPEZY" that keeps the value below 1024 (each step divides by 1024,
// rounding to nearest), printed "%6.2f %cB": "  1.50 KB", "1024.00 KB",
// "  4.66 GB", " 16.00 EB" for the largest 64-bit value.
// Returned by value: safe to call from any thread.
std::string FormatByteSize(std::uint64_t bytes);

// Elapsed-time text: prefix, then "\n\n" when `blankLines`, then
// " %d hours " (left out when 0), "%d minutes " (left out when 0) and
// "%d seconds " (always). The elapsed time is in milliseconds.
std::string FormatElapsedMilliseconds(std::string_view prefix, std::uint32_t elapsedMs, bool blankLines);
// The same, for the time since `startTick` (a GetTickCount() value); the
// 32-bit difference handles a wrap of the tick counter.
std::string FormatElapsedTime(std::string_view prefix, std::uint32_t startTick, bool blankLines);

// FAT date word (only the low 16 bits count) as "DD-MON-YYYY": day with two
// digits (not validated, 0 gives "00"), month "JAN".."DEC" or "ERR" for 0 and
// 13..15, year + 1980. A zero word gives the local date of `now` (or of the
// present moment) as "%d-%b-%Y", upper-cased: "09-DEC-2026".
std::string FormatFatDate(std::uint32_t fatDate);
std::string FormatFatDate(std::uint32_t fatDate, std::time_t now);

// FAT time word (low 16 bits) as "HH:MM:SS" with seconds doubled; values are
// not validated (31 hours or 62 seconds print as they come). A zero word
// gives the local time of `now` (or of the present moment) as "%H:%M:%S".
std::string FormatFatTime(std::uint32_t fatTime);
std::string FormatFatTime(std::uint32_t fatTime, std::time_t now);

// Hexadecimal text to int: the last character is the least significant digit;
// '1'-'9', 'A'-'F' and 'a'-'f' count, every other character (and '0') counts 0,
// so "0x1A" gives 26. Exact for up to 8 digits; longer texts wrap modulo 2^32
// instead of overflowing.
int HexTextToInt(std::string_view hexText);

// Prefixes "0" until the text has at least `width` characters.
std::string PadWithLeadingZeros(std::string_view text, int width);

// Diagnostic label of a search mode: "M" + "B" (1), "D" (2), "P" (3) or "S"
// (4 and 5); any other mode gives "M".
std::string GetModeLabel(int recoveryMode);
// The label of ProgramState::Instance().RecoveryMode.
std::string GetModeLabel();

// Readings of the decimal numbers kept as text in the working tables.
// Leading blanks are skipped, an optional sign is taken, then digits; text
// without leading digits ("A", the "used" mark) reads as 0.
// Unsigned 64-bit: overflow saturates at UINT64_MAX, a minus sign negates
// modulo 2^64 (as the C library's strtoull does).
std::uint64_t ParseDecimalU64(std::string_view text);
// Signed 32-bit: out-of-range values saturate at INT32_MIN / INT32_MAX.
std::int32_t ParseDecimalI32(std::string_view text);
// Signed 64-bit, saturating.
std::int64_t ParseDecimalI64(std::string_view text);

// Diagnostic sinks. They discard what they are given, so nothing reaches the
// user. For development, setting TORVANE_TRACE=1 in the environment copies
// the texts to standard error.
void DebugTrace(std::string_view text);
void WriteTraceLine(std::string_view text);
void LogTraceNote(std::string_view text, std::string_view code);
void LogCaughtError(std::string_view modeLabel, std::string_view stepText, std::string_view code1,
                    std::string_view code2);

// Number of characters (code points) of UTF-8 text.
std::size_t Utf8CharCount(std::string_view text);

}  // namespace torvane
