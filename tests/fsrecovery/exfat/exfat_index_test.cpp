// The exFAT file index between scans and between files that share a first
// cluster: a record describes the very entry the scan made it for, and a
// scan sees only its own records.
#include "exfat_test_support.h"

#include "fsrecovery/basic_scan.h"
#include "fsrecovery/search_session.h"
#include "support/session_support.h"
#include "results/save_job.h"

#include <gtest/gtest.h>

namespace torvane {
namespace {

namespace fs = std::filesystem;

TEST(ExfatFileIndexTest, FilesSharingAFirstClusterKeepTheirOwnRecords)
{
    // A deleted file and the live one that reused its clusters: same own id,
    // same size; only the folder and the name tell them apart.
    ExfatFileIndex index;
    const ExfatFileKey deleted{4096, 5, "old.jpg", 8192};
    const ExfatFileKey live{4096, 5, "new.jpg", 8192};
    const ExfatFileKey elsewhere{4096, 9000, "new.jpg", 8192};
    index.Add(deleted, ExfatFileRecord{10, 8192, 8192, true});
    index.Add(live, ExfatFileRecord{10, 100, 8192, false});

    struct Case {
        const char* what;
        ExfatFileKey key;
        bool found;
        std::uint64_t validLength;
        bool noFatChain;
    };
    const Case cases[] = {
        {"deleted", deleted, true, 8192, true},
        {"live", live, true, 100, false},
        {"other folder", elsewhere, false, 0, false},
        {"other size", ExfatFileKey{4096, 5, "new.jpg", 4096}, false, 0, false},
        {"other id", ExfatFileKey{8192, 5, "new.jpg", 8192}, false, 0, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ExfatFileRecord rec;
        ASSERT_EQ(index.FindExact(c.key, rec), c.found);
        if (c.found) {
            EXPECT_EQ(rec.validLength, c.validLength);
            EXPECT_EQ(rec.noFatChain, c.noFatChain);
        }
    }

    // The same entry recorded twice with differing allocations cannot be
    // told apart: no record rather than a guess.
    index.Add(elsewhere, ExfatFileRecord{10, 1, 8192, true});
    index.Add(elsewhere, ExfatFileRecord{10, 2, 8192, false});
    ExfatFileRecord rec;
    EXPECT_FALSE(index.FindExact(elsewhere, rec));

    // By own id alone: the record of the size asked for, else the one added
    // last; records added after a look-up are found too.
    ExfatFileIndex byId;
    byId.Add(ExfatFileKey{512, 5, "a", 100}, ExfatFileRecord{3, 100, 100, false});
    byId.Add(ExfatFileKey{512, 5, "b", 200}, ExfatFileRecord{3, 200, 200, true});
    byId.Add(ExfatFileKey{1024, 5, "c", 300}, ExfatFileRecord{4, 300, 300, false});
    ASSERT_TRUE(byId.Find(512, rec, 100));
    EXPECT_EQ(rec.validLength, 100u);
    ASSERT_TRUE(byId.Find(512, rec));
    EXPECT_EQ(rec.validLength, 200u);
    EXPECT_FALSE(byId.Find(2048, rec));
    byId.Add(ExfatFileKey{512, 5, "d", 400}, ExfatFileRecord{3, 400, 400, false});
    ASSERT_TRUE(byId.Find(512, rec));
    EXPECT_EQ(rec.validLength, 400u);
    ASSERT_TRUE(byId.FindExact(ExfatFileKey{512, 5, "b", 200}, rec));
    EXPECT_TRUE(rec.noFatChain);
    EXPECT_EQ(byId.Size(), 4u);
}

// Scans `device` through `session` and saves the whole tree to `out`.
void ScanAndSave(SearchSession& session, DevicePtr device, const fs::path& out)
{
    ASSERT_TRUE(test::ScanAndSaveEverything(session, test::WholeVolume(device), out).ran);
}

TEST(ExfatFileIndexTest, SecondScanThroughOneSessionSeesOnlyItsOwnRecords)
{
    // Card A: the fixture volume. Card B: a copy whose Notes.txt holds only
    // 100 valid bytes (the rest of its 700 reads as zeros), and whose
    // "old draft.txt" set is gone.
    const std::string a = test::ReadWholeFile(test::FixtureImage("exfat.img"));
    ASSERT_FALSE(a.empty());
    std::string b = a;
    const std::size_t notes = test::FindFileEntry(b, "Notes.txt");
    ASSERT_NE(notes, std::string::npos);
    test::PutU64(b, notes + 32 + 8, 100);
    test::FixSetChecksum(b, notes);
    const std::size_t draft = test::FindFileEntry(b, "old draft.txt");
    ASSERT_NE(draft, std::string::npos);
    const auto draftEntries = static_cast<std::size_t>(static_cast<std::uint8_t>(b[draft + 1])) + 1;
    for (std::size_t i = 0; i < draftEntries; ++i)
        b[draft + 32 * i] = 0x05;   // no longer any set type

    test::TempDir tmp;
    SearchSession session;
    ScanAndSave(session, MakeMemoryDevice("card-a", a), tmp.path() / "a");
    ScanAndSave(session, MakeMemoryDevice("card-b", b), tmp.path() / "b");

    // B's Notes.txt: its 100 valid bytes, then zeros, not card A's 700 bytes.
    const auto findSaved = [](const fs::path& root, const std::string& name) {
        for (const auto& e : fs::recursive_directory_iterator(root))
            if (e.is_regular_file() && e.path().filename() == name)
                return test::ReadWholeFile(e.path());
        return std::string();
    };
    const std::string savedA = findSaved(tmp.path() / "a", "Notes.txt");
    const std::string savedB = findSaved(tmp.path() / "b", "Notes.txt");
    ASSERT_EQ(savedA.size(), 700u);
    ASSERT_EQ(savedB.size(), 700u);
    EXPECT_EQ(savedB.substr(0, 100), savedA.substr(0, 100));
    EXPECT_EQ(savedB.substr(100), std::string(600, '\0'));
    EXPECT_EQ(findSaved(tmp.path() / "b", "old draft.txt"), "");
}

}  // namespace
}  // namespace torvane
