// Both carving searches over the carving fixture: real files made by real
// tools, planted in random bytes (tests/fixtures/make-carving-image.sh).
//
// Every planted file must come out carved, from its first byte, in its
// extension's folder under the name the search gives it; a carved file holds
// exactly the image's bytes from the planted file's sector up to the sector
// where the next file of its pass begins, or the end of the range. A planted
// file that ends where the next one begins, or at the range end, is carved
// byte for byte.
#include "carving/carving_search_job.h"
#include "carving/signature_selection.h"

#include "../e2e/sha256.h"
#include "carving_test_support.h"
#include "support/fixtures.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <map>
#include <sstream>

namespace torvane {
namespace {

namespace fs = std::filesystem;

struct PlantedFile {
    std::uint64_t sector = 0;
    std::uint64_t size = 0;
    std::string sha256;
    std::string search;     // "photo" or "signature"
    std::string pass;       // "general" or "thorough"
    std::string extension;  // lower case
    std::string source;
};

std::vector<PlantedFile> LoadCarvingManifest()
{
    std::ifstream in(test::FixtureImage("carving.img.manifest"));
    std::vector<PlantedFile> files;
    std::string line;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == '#')
            continue;
        std::istringstream fields(line);
        PlantedFile f;
        std::string sector, size;
        std::getline(fields, sector, '\t');
        std::getline(fields, size, '\t');
        std::getline(fields, f.sha256, '\t');
        std::getline(fields, f.search, '\t');
        std::getline(fields, f.pass, '\t');
        std::getline(fields, f.extension, '\t');
        std::getline(fields, f.source);
        f.sector = std::stoull(sector);
        f.size = std::stoull(size);
        files.push_back(f);
    }
    return files;
}

std::string Sha256Of(const std::string& bytes)
{
    return test::Sha256Hex(bytes);
}

std::string Upper(std::string s)
{
    for (char& c : s)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return s;
}

SignatureList Shipped(const char* name, bool upper)
{
    auto file = SignatureDataFile::Load(SignatureFilePath(TORVANE_RES_DIR, name));
    EXPECT_TRUE(file) << name;
    SignatureList list;
    if (upper)
        AppendCheckedSignatures(*file, {}, list);
    else
        AppendSignatureFile(*file, list);
    return list;
}

class CarvingFixture : public ::testing::Test {
protected:
    void SetUp() override
    {
        const fs::path image = test::FixtureImage("carving.img");
        ASSERT_TRUE(fs::exists(image)) << image << " (tests/fixtures/carving.tar.zst unpacked by the build)";
        device = OpenFileDevice(image.string());
        ASSERT_TRUE(device);
        planted = LoadCarvingManifest();
        ASSERT_GE(planted.size(), 40u);
        imageSectors = device->SizeBytes() / kSectorSize;
    }

    // Runs a search over [0, end) and checks every carved file against the
    // planted ones; the carved files go to `carvedFiles`.
    void CarveAndCheck(const std::string& search, std::uint64_t end)
    {
        const bool photo = search == "photo";
        test::RecordingEvents events;
        std::unique_ptr<CarvingSearchJob> job;
        CarvingSearchRequest base;
        base.device = device;
        base.startSector = 0;
        base.endSector = end;
        base.destination = dir.path().string();
        base.thoroughPass = true;
        if (photo) {
            PhotoSearchRequest request;
            static_cast<CarvingSearchRequest&>(request) = base;
            request.general = Shipped("QOVExt2.dll", false);
            request.advance = Shipped("QOVExt2Adv.dll", false);
            job = std::make_unique<PhotoSearchJob>(request, &events);
        } else {
            SignatureSearchRequest request;
            static_cast<CarvingSearchRequest&>(request) = base;
            request.general = Shipped("QOVSig.dll", true);
            request.thorough = Shipped("QOVSigAdv.dll", true);
            job = std::make_unique<SignatureSearchJob>(request, &events);
        }
        EXPECT_TRUE(job->RunHere());
        EXPECT_EQ(job->Finished(), 0);
        EXPECT_TRUE(events.questions.empty());

        // What each pass should carve, in image order.
        std::vector<const PlantedFile*> expected;
        for (const char* pass : {"general", "thorough"}) {
            for (const PlantedFile& f : planted) {
                if (f.search == search && f.pass == pass && f.sector < end)
                    expected.push_back(&f);
            }
        }
        EXPECT_EQ(events.files.size(), expected.size());
        std::map<std::string, std::uint64_t> perExtension;  // signature numbering
        std::uint64_t photoCounter = 0;
        std::string lastPass;
        for (std::size_t i = 0; i < std::min(events.files.size(), expected.size()); ++i) {
            const PlantedFile& want = *expected[i];
            const CarvedFile& got = events.files[i];
            SCOPED_TRACE(want.source + " at sector " + std::to_string(want.sector));
            if (want.pass != lastPass)
                photoCounter = 0;
            lastPass = want.pass;
            const bool general = want.pass == "general";
            // The name and folder the search gives it.
            const std::string ext = photo ? want.extension : Upper(want.extension);
            const std::uint64_t number = photo ? ++photoCounter : ++perExtension[ext];
            char digits[32];
            std::snprintf(digits, sizeof digits, "%05llu", static_cast<unsigned long long>(number));
            const std::string prefix = photo ? (general ? "GNDR" : "THDR") : ext;
            const fs::path path = dir.path() / "torvane" / (photo ? "Photo Search" : "Signature Search") /
                                  (general ? "General" : "Omitted") / Upper(want.extension) /
                                  (prefix + digits + "." + ext);
            EXPECT_EQ(got.path, path.string());
            EXPECT_EQ(got.extension, ext);
            EXPECT_EQ(got.firstSector, want.sector);
            EXPECT_EQ(got.pass, general ? CarvingPassKind::General : CarvingPassKind::Thorough);
            EXPECT_TRUE(got.complete);

            // Its bytes: the image from the planted sector to the next file of
            // the same pass, or the end of the range.
            std::uint64_t stop = end;
            for (const PlantedFile* next : expected) {
                if (next->pass == want.pass && next->sector > want.sector) {
                    stop = next->sector;
                    break;
                }
            }
            const std::string carved = test::ReadFile(got.path);
            ASSERT_EQ(carved.size(), (stop - want.sector) * kSectorSize);
            EXPECT_EQ(got.size, carved.size());
            EXPECT_TRUE(carved == test::DeviceBytes(*device, want.sector * kSectorSize, carved.size()));
            // The whole original file, from its first byte.
            ASSERT_GE(carved.size(), want.size);
            EXPECT_EQ(Sha256Of(carved.substr(0, want.size)), want.sha256);
            if (want.sector + (want.size + kSectorSize - 1) / kSectorSize == stop && want.size % kSectorSize == 0)
                ++exactCopies;
            ++counts[(photo ? "photo " : "signature ") + want.pass + " " + Upper(want.extension)];
        }
        carvedFiles = events.files;
    }

    test::TempDir dir;
    DevicePtr device;
    std::vector<PlantedFile> planted;
    std::uint64_t imageSectors = 0;
    int exactCopies = 0;
    std::vector<CarvedFile> carvedFiles;
    std::map<std::string, int> counts;
};

void PrintCounts(const std::map<std::string, int>& counts)
{
    std::string line;
    for (const auto& [type, n] : counts)
        line += "  " + type + ": " + std::to_string(n) + "\n";
    std::printf("carved per type:\n%s", line.c_str());
}

TEST_F(CarvingFixture, PhotoSearchCarvesEveryPlantedPicture)
{
    CarveAndCheck("photo", imageSectors);
    EXPECT_EQ(exactCopies, 1);  // the PNG of whole sectors, followed at once by a JPEG
    PrintCounts(counts);
    for (const char* type : {"JPG", "PNG", "GIF", "BMP", "TIF", "PSD", "WEBP", "HEIC"})
        EXPECT_GE(counts[std::string("photo general ") + type], 1) << type;
    for (const char* type : {"JP2", "AVIF", "JPG"})
        EXPECT_GE(counts[std::string("photo thorough ") + type], 1) << type;
}

TEST_F(CarvingFixture, SignatureSearchCarvesEveryPlantedDocumentAudioAndVideo)
{
    CarveAndCheck("signature", imageSectors);
    // The SQLite file followed at once by a WAVE file, the WAVE file of whole
    // sectors followed at once by the last SQLite file, and that one at the
    // range end.
    EXPECT_EQ(exactCopies, 3);
    PrintCounts(counts);
    for (const char* type : {"PDF", "ZIP", "MP4", "MOV", "AVI", "MP3", "7Z", "FLAC", "SQLITE", "WAV", "M4A", "MKV",
                             "FLV", "WMV", "3GP", "M4V", "3G2"})
        EXPECT_GE(counts[std::string("signature general ") + type], 1) << type;
    // A DOCX is carved as a ZIP.
    EXPECT_EQ(counts["signature general ZIP"], 2);
}

TEST_F(CarvingFixture, APictureEndingAtTheRangeEndIsCarvedWhole)
{
    const PlantedFile* whole = nullptr;
    for (const PlantedFile& f : planted) {
        if (f.search == "photo" && f.size % kSectorSize == 0)
            whole = &f;
    }
    ASSERT_NE(whole, nullptr);
    const std::uint64_t end = whole->sector + whole->size / kSectorSize;
    CarveAndCheck("photo", end);
    const std::vector<CarvedFile>& files = carvedFiles;
    ASSERT_FALSE(files.empty());
    const CarvedFile& last = files[files.size() - 1 - static_cast<std::size_t>(
        std::count_if(files.begin(), files.end(), [](const CarvedFile& f) { return f.pass == CarvingPassKind::Thorough; }))];
    EXPECT_EQ(last.firstSector, whole->sector);
    EXPECT_EQ(last.size, whole->size);
    EXPECT_EQ(Sha256Of(test::ReadFile(last.path)), whole->sha256);
}

}  // namespace
}  // namespace torvane
