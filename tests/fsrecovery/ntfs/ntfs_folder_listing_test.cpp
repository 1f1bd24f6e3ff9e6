// Listing the files of an NTFS folder: entries the sweep named are listed
// as they are; entries without a name or a size are completed from their
// FILE record (index entries through the $MFT run table, only while the
// record holds the same generation); index duplicates are listed once.
#include "fsrecovery/ntfs/mft_sweep.h"
#include "fsrecovery/ntfs/ntfs_folder_listing.h"
#include "fsrecovery/ntfs/ntfs_record.h"
#include "support/fixtures.h"

#include <gtest/gtest.h>

#include <array>
#include <map>

namespace torvane {
namespace {

class NtfsListingFixture : public ::testing::Test {
protected:
    void SetUp() override
    {
        const test::FixtureStatus status = test::ScanNtfsFixture(partition_, results_, table_);
        if (status == test::FixtureStatus::NotUnpacked)
            GTEST_SKIP() << "fixture ntfs.img not unpacked";
        ASSERT_EQ(status, test::FixtureStatus::Ready);
        volume_ = NtfsVolumeOf(partition_);
    }

    std::uint64_t FolderId(const std::string& name)
    {
        for (std::size_t i = 0; i < results_.FolderCount(); ++i)
            if (results_.FolderAt(i)->name == name)
                return results_.FolderAt(i)->selfId;
        ADD_FAILURE() << "no folder " << name;
        return 0;
    }

    CurrentPartition partition_;
    ScanResults results_;
    NtfsVolume volume_;
    MftRunTable table_;
};

TEST_F(NtfsListingFixture, ListsAndCompletesEntries)
{
    const std::uint64_t sizes = FolderId("Sizes");
    NtfsListing before = ListNtfsFolderFiles(results_, sizes, volume_, &table_);
    ASSERT_EQ(before.files.size(), 6u);  // 0, 1, 511, 512, 4096 and the deleted 4096

    // Forget what the sweep learnt of the entries: the listing reads it back.
    std::map<std::string, std::uint64_t> want;
    for (const NtfsListedFile& f : before.files)
        want[f.name] = f.size;
    {
        auto lk = results_.Lock();
        FoundEntryStore& store = results_.FoundEntries();
        for (std::size_t i = 0; i < store.size(); ++i)
            if (store[i].parentId == sizes) {
                store[i].name.clear();
                store[i].size = 0;
                store[i].stamp = 0;
            }
    }
    NtfsListing after = ListNtfsFolderFiles(results_, sizes, volume_, &table_);
    ASSERT_EQ(after.files.size(), 6u);
    for (const NtfsListedFile& f : after.files) {
        ASSERT_TRUE(want.count(f.name)) << f.name;
        EXPECT_EQ(f.size, want[f.name]) << f.name;
        EXPECT_NE(f.fileTime, 0u) << f.name;
        EXPECT_EQ(results_.FoundEntries()[f.entryIndex].name, f.name);  // written back
    }
    EXPECT_TRUE(after.foundAny);
}

TEST_F(NtfsListingFixture, IndexEntriesResolveThroughTheRunTable)
{
    const std::uint64_t docs = FolderId("Documents");
    NtfsListing listing = ListNtfsFolderFiles(results_, docs, volume_, &table_);
    const NtfsListedFile* notes = nullptr;
    for (const NtfsListedFile& f : listing.files)
        if (f.name == "Notes.txt")
            notes = &f;
    ASSERT_TRUE(notes);
    const std::uint64_t record = *table_.SectorToMftRecord(notes->ownId);
    std::array<std::uint8_t, kMftRecordSize> buf{};
    ASSERT_EQ(ReadMftRecord(volume_, notes->ownId, buf.data()), MftRecordRead::Ok);
    NtfsRecordHeader h;
    ReadNtfsRecordHeader(NtfsBytes(buf.data(), buf.size()), h);
    const std::uint64_t reference = (std::uint64_t(h.sequenceNumber) << 48) | record;
    {
        auto lk = results_.Lock();
        // The same file from an index record: a duplicate that is not listed.
        results_.FoundEntries().push_back(FoundEntry{"Notes.txt", docs, reference, 700, 1, 0, true});
        // A file known only from an index record: completed through the table.
        results_.FoundEntries().push_back(FoundEntry{"", docs, reference, 0, 0, 0, true});
        // A reference to a record reused since (another sequence number): left as it is.
        results_.FoundEntries().push_back(
            FoundEntry{"", docs, reference + (std::uint64_t(1) << 48), 0, 0, 0, true});
    }
    results_.SortFoundEntries();
    NtfsListing again = ListNtfsFolderFiles(results_, docs, volume_, &table_);
    EXPECT_EQ(again.files.size(), listing.files.size());  // nothing new: all three are duplicates or nameless

    // Without the table the index entries cannot be completed: no change.
    NtfsListing noTable = ListNtfsFolderFiles(results_, docs, volume_, nullptr);
    EXPECT_EQ(noTable.files.size(), listing.files.size());
    std::size_t completed = 0;
    for (const FoundEntry& e : std::as_const(results_).FoundEntries())
        if (e.parentId == docs && e.fromIndex && e.name == "Notes.txt" && e.size == 700)
            ++completed;
    EXPECT_EQ(completed, 2u);  // the duplicate and the one completed through the table
}

TEST_F(NtfsListingFixture, StopEndsTheListing)
{
    NtfsListing listing = ListNtfsFolderFiles(results_, FolderId("Sizes"), volume_, &table_, [] { return true; });
    EXPECT_TRUE(listing.stopped);
    EXPECT_TRUE(listing.files.empty());
}

}  // namespace
}  // namespace torvane
