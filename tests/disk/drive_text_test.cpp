#include "disk/drive_text.h"

#include <gtest/gtest.h>

namespace torvane {
namespace {

TEST(DriveText, NormalizeFsName) {
    const std::pair<const char*, const char*> cases[] = {
        {"FAT", "FAT16"}, {"FAT12", "Unknown"}, {"exfat", "Unknown"}, {" NTFS ", "NTFS"},
        {"Partition - 3 ( FAT32 )", "FAT32"}, {"FAT16", "FAT16"}, {"exFAT", "exFAT"}, {"", "Unknown"}};
    for (auto [in, out] : cases) EXPECT_EQ(NormalizeFsName(in), out) << in;
}

TEST(DriveText, DiskTagRoundTrip) {
    EXPECT_EQ(FormatDiskTag(3), " (Disk3 - ");
    EXPECT_EQ(ParseDiskNumber("Fixed hard disk media" + FormatDiskTag(3) + "931.51 GB)"), 3);
    EXPECT_EQ(ParseDiskNumber("Removable Media (Disk17 - 14.91 GB)"), 17);
    EXPECT_EQ(ParseDiskNumber("Removable Media (Disk17 without dash"), 0);
    EXPECT_EQ(ParseDiskNumber("no parenthesis"), 0);
    EXPECT_EQ(ParseDiskNumber("(Di"), 0);
    EXPECT_EQ(GetTextInParentheses("Partition - 2 ( NTFS )"), "NTFS");
    EXPECT_EQ(GetTextInParentheses("Partition - 2 ( NTFS"), "");
}

TEST(DriveText, Trim) {
    EXPECT_EQ(TrimText("\t a b \n"), "a b");
}

}  // namespace
}  // namespace torvane
