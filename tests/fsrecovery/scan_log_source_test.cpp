// Finding a scan log's source among the devices attached now: the exact
// identity, a disk with another number, a volume with another letter, two
// disks of one model and size told apart by the volume they hold.
#include "fsrecovery/scan_log_source.h"

#include "fsrecovery/scan_log_test_support.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace torvane {
namespace {

ScanLogDocument PhysicalLog(const std::string& identity, std::uint16_t number)
{
    ScanLogDocument doc;
    doc.header.sourceKind = "part";
    doc.source = MakePhysicalScanLogSource(identity, number);
    return doc;
}

ScanLogDocument LogicalLog(const std::string& path, std::uint64_t sectors)
{
    ScanLogDocument doc;
    doc.header.sourceKind = "Logical";
    doc.source = MakeLogicalScanLogSource(path, sectors);
    return doc;
}

std::vector<std::string> Paths(const std::vector<ScanLogCandidate>& candidates)
{
    std::vector<std::string> out;
    for (const ScanLogCandidate& c : candidates)
        out.push_back(c.devicePath + (c.exact ? " exact" : ""));
    return out;
}

TEST(ScanLogSource, CandidatesByIdentityAndBySize)
{
    const std::string card = "Card Reader USB Device||14.91 GB||31260672||";
    struct Case {
        const char* what;
        ScanLogDocument doc;
        ScanLogDevices devices;
        ScanLogReaderKind reader;
        std::vector<std::string> expected;
    };
    const std::vector<Case> cases = {
        {"the same disk", PhysicalLog(card + "2", 2), {{"Disk A||1 GB||2||0", card + "2"}, {}},
         ScanLogReaderKind::Basic, {"\\\\.\\PhysicalDrive2 exact"}},
        {"renumbered", PhysicalLog(card + "2", 2), {{"Disk A||1 GB||2||0", card + "3"}, {}}, ScanLogReaderKind::Basic,
         {"\\\\.\\PhysicalDrive3"}},
        {"two of a kind, the exact one first", PhysicalLog(card + "4", 4), {{card + "1", card + "4"}, {}},
         ScanLogReaderKind::Basic, {"\\\\.\\PhysicalDrive4 exact", "\\\\.\\PhysicalDrive1"}},
        {"Basic compares trimmed", PhysicalLog(" " + card + "2 ", 2), {{card + "2"}, {}}, ScanLogReaderKind::Basic,
         {"\\\\.\\PhysicalDrive2 exact"}},
        {"Deep compares as they are", PhysicalLog(" " + card + "2 ", 2), {{card + "2"}, {}}, ScanLogReaderKind::Deep,
         {"\\\\.\\PhysicalDrive2"}},
        {"not attached", PhysicalLog(card + "2", 2), {{"Disk A||1 GB||2||0"}, {}}, ScanLogReaderKind::Basic, {}},
        {"a number that is no disk", PhysicalLog(card + "2", 2), {{card + "x7", card + "99"}, {}},
         ScanLogReaderKind::Basic, {}},
        {"the same volume", LogicalLog("\\\\.\\E:", 1000), {{}, {"\\\\.\\D:|500", "\\\\.\\E:|1000"}},
         ScanLogReaderKind::Basic, {"\\\\.\\E: exact"}},
        {"another letter", LogicalLog("\\\\.\\E:", 1000), {{}, {"\\\\.\\D:|500", "\\\\.\\G:|1000"}},
         ScanLogReaderKind::Basic, {"\\\\.\\G:"}},
        {"no volume of that size", LogicalLog("\\\\.\\E:", 1000), {{}, {"\\\\.\\E:|999"}}, ScanLogReaderKind::Basic,
         {}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(Paths(ScanLogSourceCandidates(c.doc, c.devices, c.reader)), c.expected) << c.what;

    ScanLogDocument tagOnly = LogicalLog("", 0);
    tagOnly.source.form = ScanLogSourceForm::TagOnly;
    tagOnly.source.tag = "NET";
    EXPECT_TRUE(ScanLogSourceCandidates(tagOnly, {{card + "2"}, {"\\\\.\\E:|0"}}, ScanLogReaderKind::Basic).empty());
}

// Two disks of one model and size: the boot sector at the logged partition
// tells which one holds the scanned volume.
TEST(ScanLogSource, TheBootSectorPicksTheDiskThatHoldsTheLoggedVolume)
{
    test::ScopedTestRegistry registry;
    DeviceRegistry& r = DeviceRegistry::Instance();
    DevicePtr fat16 = OpenFileDevice(test::FixtureImage("fat16.img").string());
    DevicePtr fat32 = OpenFileDevice(test::FixtureImage("fat32.img").string());
    if (!fat16 || !fat32)
        GTEST_SKIP() << "fixtures not unpacked";
    const int other = r.RegisterMemoryDisk(fat32);
    const int blank = r.RegisterMemoryDisk(std::make_shared<test::SparseDevice>(fat16->SizeBytes()));
    const int right = r.RegisterMemoryDisk(fat16);

    CurrentPartition logged;
    logged.Descriptor.FsType = "FAT16";
    logged.Descriptor.EndSector = fat16->SizeBytes() / kSectorSize;
    ASSERT_TRUE(ReadVolumeParameters(logged, *fat16));
    logged.Device = nullptr;

    auto pick = [&](std::vector<int> disks) {
        std::vector<ScanLogCandidate> c;
        for (int d : disks)
            c.push_back({PhysicalDrivePath(d), d, false});
        std::optional<CurrentPartition> found = FindLoggedPartition(logged, c, r);
        return found ? ParsePhysicalDriveNumber(found->DevicePath) : -1;
    };
    EXPECT_EQ(pick({other, right}), right);
    EXPECT_EQ(pick({blank, right}), right);          // a confirmed one before an unreadable one
    EXPECT_EQ(pick({other, blank}), blank);          // an unreadable one may still be it
    EXPECT_EQ(pick({other}), -1);                    // another volume: media moved
    EXPECT_EQ(pick({}), -1);

    CurrentPartition fresh;
    EXPECT_EQ(CheckLoggedVolume(logged, *fat16, &fresh), LoggedVolumeCheck::Same);
    EXPECT_EQ(fresh.Geometry.SectorsPerCluster, logged.Geometry.SectorsPerCluster);
    EXPECT_GT(fresh.Geometry.TotalSectors, 0u);
    EXPECT_EQ(CheckLoggedVolume(logged, *fat32), LoggedVolumeCheck::Other);
}

// The attached devices as the drive lists name them.
TEST(ScanLogSource, TheAttachedDisksAreListedByTheirIdentities)
{
    test::ScopedTestRegistry registry;
    const int disk = test::AddFixtureDisk("fat16.img");
    if (disk < 0)
        GTEST_SKIP() << "fixture not unpacked";
    const ScanLogDevices devices = ListScanLogDevices(DeviceRegistry::Instance());
    ASSERT_EQ(devices.diskIdentities.size(), 1u);
    const std::string& identity = devices.diskIdentities[0];
    EXPECT_EQ(identity.substr(identity.rfind('|') + 1), std::to_string(disk));
    EXPECT_NE(identity.find("||32768||"), std::string::npos) << identity;
}

}  // namespace
}  // namespace torvane
