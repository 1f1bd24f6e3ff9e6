// Where a carved file starts and ends, which signatures open files, and how
// the files are named, on small devices with planted headers.
#include "carving/carving_search_job.h"

#include "carving_test_support.h"
#include "support/fixtures.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <map>

namespace torvane {
namespace {

namespace fs = std::filesystem;
using test::Bytes;
using test::ListOf;
using test::Sig;

// Headers no sector of the pattern device matches.
const std::string kJpgHeader = "AA55C33C";
const std::string kPngHeader = "5AA5C3E1";

struct Planted {
    std::uint64_t sector;
    std::size_t offset;  // inside the sector
    std::string hex;
};

struct Expected {
    std::uint64_t firstSector;
    std::uint64_t size;
};

class CarvingPassTest : public ::testing::Test {
protected:
    // Runs a Photo Search (General pass only) over [start, end) of a pattern
    // device of `sectors` sectors with `planted` headers.
    std::vector<CarvedFile> Photo(std::uint64_t sectors, std::uint64_t start, std::uint64_t end,
                                  const std::vector<Planted>& planted, SignatureList general)
    {
        device = test::PatternDevice(sectors);
        for (const Planted& p : planted)
            device->Write(p.sector * kSectorSize + p.offset, Bytes(p.hex));
        PhotoSearchRequest request;
        request.device = device;
        request.startSector = start;
        request.endSector = end;
        request.destination = dir.path().string();
        request.general = std::move(general);
        PhotoSearchJob job(request, &events);
        EXPECT_TRUE(job.RunHere());
        EXPECT_FALSE(job.Failed()) << job.ErrorText();
        return events.files;
    }

    // Every carved file holds exactly the device's bytes from its first sector on.
    void ExpectDeviceBytes(const std::vector<CarvedFile>& files)
    {
        for (const CarvedFile& f : files) {
            SCOPED_TRACE(f.path);
            const std::string bytes = test::ReadFile(f.path);
            EXPECT_EQ(bytes.size(), f.size);
            EXPECT_TRUE(bytes == test::DeviceBytes(*device, f.firstSector * kSectorSize, bytes.size()))
                << "not the device's bytes";
        }
    }

    test::TempDir dir;
    test::RecordingEvents events;
    std::shared_ptr<test::SparseDevice> device;
};

TEST_F(CarvingPassTest, FilesEndWhereTheRulesSay)
{
    const auto jpg = [](std::uint64_t max) { return ListOf({Sig(".jpg", max, kJpgHeader)}); };
    struct Case {
        const char* what;
        std::uint64_t sectors, start, end;
        std::vector<Planted> planted;
        SignatureList list;
        std::vector<Expected> files;
    };
    const std::vector<Case> cases = {
        {"a range of 512 sectors is one block; its end sector is not read", 1024, 0, 512,
         {{511, 0, kJpgHeader}, {512, 0, kJpgHeader}}, jpg(1 << 30), {{511, 512}}},
        {"700 sectors: a block and one of 188 sectors", 1024, 0, 700,
         {{600, 0, kJpgHeader}, {699, 0, kJpgHeader}, {700, 0, kJpgHeader}}, jpg(1 << 30),
         {{600, 99 * 512}, {699, 512}}},
        {"a header at key offset 5 in sector 10 starts the file at byte 5120", 64, 0, 64,
         {{10, 4, kJpgHeader}}, ListOf({Sig(".jpg", 1 << 30, kJpgHeader, 5)}), {{10, 54 * 512}}},
        {"headers in consecutive sectors: the first file is one sector", 64, 0, 64,
         {{3, 0, kJpgHeader}, {4, 0, kJpgHeader}}, jpg(1 << 30), {{3, 512}, {4, 60 * 512}}},
        {"largest size 100,000 from a block start, no other header", 2048, 0, 2048, {{0, 0, kJpgHeader}},
         jpg(100000), {{0, 100000}}},
        {"largest size 1,000,000: three whole blocks", 4096, 0, 4096, {{0, 0, kJpgHeader}}, jpg(1000000),
         {{0, 786432}}},
        {"the next header before any block end: the file keeps it all, past its largest size", 1024, 0, 1024,
         {{0, 0, kJpgHeader}, {400, 0, kJpgHeader}}, jpg(100000), {{0, 400 * 512}, {400, 112 * 512}}},
        {"capped in its first block: closed at the cap, a later header adds nothing", 2048, 0, 2048,
         {{0, 0, kJpgHeader}, {612, 0, kJpgHeader}}, jpg(100000), {{0, 100000}, {612, 100000}}},
        {"a file from the middle of a block: the next block end would pass the largest size", 2048, 0, 2048,
         {{300, 0, kJpgHeader}}, jpg(300000), {{300, 212 * 512}}},
        {"a largest size of 0 keeps nothing", 1024, 0, 1024, {{5, 0, kJpgHeader}, {600, 0, kJpgHeader}}, jpg(0),
         {{5, 0}, {600, 0}}},
        {"the end of the range ends the file", 1024, 100, 300, {{120, 0, kJpgHeader}}, jpg(1 << 30),
         {{120, 180 * 512}}},
        {"a range past the device's end stops at the device's end", 100, 0, 5000, {{90, 0, kJpgHeader}},
         jpg(1 << 30), {{90, 10 * 512}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        events.Clear();
        std::vector<CarvedFile> files = Photo(c.sectors, c.start, c.end, c.planted, c.list);
        ASSERT_EQ(files.size(), c.files.size());
        for (std::size_t i = 0; i < files.size(); ++i) {
            EXPECT_EQ(files[i].firstSector, c.files[i].firstSector) << i;
            EXPECT_EQ(files[i].size, c.files[i].size) << i;
            EXPECT_TRUE(files[i].complete);
        }
        ExpectDeviceBytes(files);
        fs::remove_all(dir.path() / "torvane");
    }
}

TEST_F(CarvingPassTest, PhotoTakesTheFirstMatchInProbeOrder)
{
    // Key byte AA at offset 1 matches both records; the first one's header is
    // wrong for sector 10, so the second is the hit. In sector 20 both match:
    // the first in list order wins, and no second file opens.
    const SignatureList list = ListOf({Sig(".jpg", 1 << 30, "AA55C33C"), Sig(".png", 1 << 30, "AA55"),
                                       Sig(".gif", 1 << 30, "C3E1", 3)});
    const auto files = Photo(64, 0, 64, {{10, 0, "AA5599"}, {20, 0, "AA55C33C"}, {30, 0, "0000C3E1"}}, list);
    ASSERT_EQ(files.size(), 3u);
    EXPECT_EQ(files[0].extension, "png");
    EXPECT_EQ(files[1].extension, "jpg");
    EXPECT_EQ(files[2].extension, "gif");
    // Key offsets are probed in the order the list first names them: offset 1
    // before offset 3, so a sector with both takes the offset-1 record.
    events.Clear();
    fs::remove_all(dir.path() / "torvane");
    const auto both = Photo(64, 0, 64, {{5, 0, "AA55C3E1"}}, list);
    ASSERT_EQ(both.size(), 1u);
    EXPECT_EQ(both[0].extension, "png");
}

TEST_F(CarvingPassTest, SignatureSearchOpensAFileForEveryMatch)
{
    device = test::PatternDevice(2048);
    device->WriteSector(10, Bytes("AA55C33C"));
    device->WriteSector(700, Bytes("5AA5C3E1"));
    SignatureSearchRequest request;
    request.device = device;
    request.startSector = 0;
    request.endSector = 2048;
    request.destination = dir.path().string();
    // Two records match sector 10: both open a file there; the next sector
    // that starts a file ends both, with the same bytes.
    request.general = ListOf({Sig(".JPG", 1 << 30, "AA55"), Sig(".BIN", 1 << 30, "AA55C3"),
                              Sig(".PNG", 1 << 30, "5AA5C3E1")});
    SignatureSearchJob job(request, &events);
    ASSERT_TRUE(job.RunHere());
    ASSERT_EQ(events.files.size(), 3u);
    EXPECT_EQ(events.files[0].name, "JPG00001.JPG");
    EXPECT_EQ(events.files[1].name, "BIN00001.BIN");
    EXPECT_EQ(events.files[2].name, "PNG00001.PNG");
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(events.files[i].firstSector, 10u);
        EXPECT_EQ(events.files[i].size, 690u * 512);
    }
    EXPECT_EQ(test::ReadFile(events.files[0].path), test::ReadFile(events.files[1].path));
    ExpectDeviceBytes(events.files);
    EXPECT_EQ(job.Counters().generalFiles.load(), 3u);
}

TEST_F(CarvingPassTest, SignatureFilesOfDifferentLargestSizesEndOnTheirOwn)
{
    // Opened in one sector, each file keeps its own size limit: the small one
    // closes at its cap, the large one goes on.
    device = test::PatternDevice(2048);
    device->WriteSector(0, Bytes("AA55C33C"));
    SignatureSearchRequest request;
    request.device = device;
    request.startSector = 0;
    request.endSector = 2048;
    request.destination = dir.path().string();
    request.general = ListOf({Sig(".BIG", 1 << 30, "AA55"), Sig(".SML", 1000, "AA55C3")});
    SignatureSearchJob job(request, &events);
    ASSERT_TRUE(job.RunHere());
    std::map<std::string, std::uint64_t> sizes;
    for (const CarvedFile& f : events.files)
        sizes[f.extension] = f.size;
    EXPECT_EQ(sizes["SML"], 1000u);
    EXPECT_EQ(sizes["BIG"], 2048u * 512);
    ExpectDeviceBytes(events.files);
}

TEST_F(CarvingPassTest, PhotoNamesCountAcrossTypesAndRestartInTheThoroughPass)
{
    device = test::PatternDevice(256);
    device->WriteSector(10, Bytes(kJpgHeader));
    device->WriteSector(20, Bytes(kPngHeader));
    device->WriteSector(30, Bytes(kJpgHeader));
    device->WriteSector(40, Bytes("C3C3A5A5"));
    PhotoSearchRequest request;
    request.device = device;
    request.startSector = 0;
    request.endSector = 256;
    request.destination = dir.path().string();
    request.thoroughPass = true;
    request.general = ListOf({Sig(".jpg", 1 << 30, kJpgHeader), Sig(".png", 1 << 30, kPngHeader)});
    request.advance = ListOf({Sig(".jpg", 1 << 30, "C3C3A5A5")});
    PhotoSearchJob job(request, &events);
    ASSERT_TRUE(job.RunHere());

    const fs::path base = dir.path() / "torvane" / "Photo Search";
    std::vector<std::string> paths;
    for (const CarvedFile& f : events.files)
        paths.push_back(fs::relative(f.path, base).string());
    EXPECT_THAT(paths, ::testing::ElementsAre("General/JPG/GNDR00001.jpg", "General/PNG/GNDR00002.png",
                                              "General/JPG/GNDR00003.jpg", "Omitted/JPG/THDR00001.jpg"));
    EXPECT_EQ(events.files[3].pass, CarvingPassKind::Thorough);
    EXPECT_EQ(job.SearchFolder(), base.string());
    // Both passes announce themselves with their texts.
    ASSERT_EQ(events.passes.size(), 2u);
    EXPECT_EQ(events.passes[0].statusText, "(Currently performing Search based on:  General Recovery Procedure)");
    EXPECT_EQ(events.passes[1].statusText, "(Currently performing Search based on:  Thorough Scanning Algorithm)");
    EXPECT_EQ(events.passes[0].rangeText, "sectors  of  total 256");
    // The thorough file runs to the range end: only thorough headers end it.
    EXPECT_EQ(events.files[3].size, (256u - 40) * 512);
}

TEST_F(CarvingPassTest, SignatureNumbersRunPerTypeAndIntoTheThoroughPass)
{
    device = test::PatternDevice(256);
    device->WriteSector(10, Bytes("AA55C33C"));
    device->WriteSector(20, Bytes("5AA5C3E1"));
    device->WriteSector(30, Bytes("AA55C33C"));
    device->WriteSector(40, Bytes("C3C3A5A5"));
    SignatureSearchRequest request;
    request.device = device;
    request.startSector = 0;
    request.endSector = 256;
    request.destination = dir.path().string();
    request.thoroughPass = true;
    request.modeText = "Signature";
    request.general = ListOf({Sig(".MP4", 1 << 30, "AA55C33C"), Sig(".PDF", 1 << 30, "5AA5C3E1")});
    request.thorough = ListOf({Sig(".MP4", 1 << 30, "C3C3A5A5")});
    SignatureSearchJob job(request, &events);
    ASSERT_TRUE(job.RunHere());

    const fs::path base = dir.path() / "torvane" / "Signature Search";
    std::vector<std::string> paths;
    for (const CarvedFile& f : events.files)
        paths.push_back(fs::relative(f.path, base).string());
    EXPECT_THAT(paths, ::testing::ElementsAre("General/MP4/MP400001.MP4", "General/PDF/PDF00001.PDF",
                                              "General/MP4/MP400002.MP4", "Omitted/MP4/MP400003.MP4"));
    ASSERT_EQ(events.passes.size(), 2u);
    EXPECT_EQ(events.passes[0].statusText, "(Searching files based on:  General Signature Recovery Procedure)");
    EXPECT_EQ(events.passes[1].statusText, "(Searching files based on:  Thorough Signature Scanning Algorithm)");
    const auto mp4 = job.ExtensionRows();
    ASSERT_EQ(mp4.size(), 2u);
    EXPECT_EQ(mp4[0].extension, "MP4");
    EXPECT_EQ(mp4[0].lastFileNo, 3u);
    EXPECT_EQ(mp4[0].filesFound, 3u);
    EXPECT_EQ(mp4[0].count, 1u);  // files in its folder in this (the Thorough) pass
    EXPECT_EQ(job.Counters().generalFiles.load(), 3u);
    EXPECT_EQ(job.Counters().omittedFiles.load(), 1u);
}

TEST_F(CarvingPassTest, ExtensionFoldersRollOverAfterTheirLimitInEveryPass)
{
    device = test::PatternDevice(128);
    for (std::uint64_t s : {10, 20, 30, 40, 50})
        device->WriteSector(s, Bytes(kJpgHeader));
    device->WriteSector(60, Bytes("C3C3A5A5"));
    PhotoSearchRequest request;
    request.device = device;
    request.startSector = 0;
    request.endSector = 128;
    request.destination = dir.path().string();
    request.thoroughPass = true;
    request.filesPerFolder = 2;  // kCarvedFilesPerFolder in real searches
    request.general = ListOf({Sig(".jpg", 1 << 30, kJpgHeader)});
    request.advance = ListOf({Sig(".jpg", 1 << 30, "C3C3A5A5")});
    PhotoSearchJob job(request, &events);
    ASSERT_TRUE(job.RunHere());

    const fs::path base = dir.path() / "torvane" / "Photo Search";
    std::vector<std::string> paths;
    for (const CarvedFile& f : events.files)
        paths.push_back(fs::relative(f.path, base).string());
    EXPECT_THAT(paths, ::testing::ElementsAre("General/JPG/GNDR00001.jpg", "General/JPG/GNDR00002.jpg",
                                              "General/JPG_001/GNDR00003_001.jpg",
                                              "General/JPG_001/GNDR00004_001.jpg",
                                              "General/JPG_002/GNDR00005_002.jpg", "Omitted/JPG/THDR00001.jpg"));
    for (const std::string& p : paths)
        EXPECT_TRUE(fs::is_regular_file(base / p)) << p;
    // Base, search, two passes and four extension folders.
    EXPECT_EQ(job.FoldersUsed(), 8u);
}

}  // namespace
}  // namespace torvane
