// The probe index gives exactly the hits of the linear walk over the list,
// in the same order.
#include "carving/signature_probe.h"

#include "carving_test_support.h"

#include <gtest/gtest.h>

#include <fstream>
#include <random>

namespace torvane {
namespace {

using test::ListOf;
using test::Sig;

// The walk the probe stands for: key offsets in first-seen order, then every
// record of (offset, byte) in list order through FindSignatureRecord.
std::vector<std::uint32_t> LinearWalk(const SignatureList& list, const std::uint8_t* sector, bool firstOnly)
{
    std::vector<std::uint32_t> hits;
    for (std::int32_t pos : list.keyPositions) {
        if (pos < 1 || pos > kSignatureSectorSize)
            continue;
        FileType1 key;
        key.keyPos = pos;
        key.keyByte = sector[pos - 1];
        for (auto at = FindSignatureRecord(list, key); at; at = FindSignatureRecord(list, key, at)) {
            const FileType1& r = list.records[*at];
            if (r.MatchesSector(sector, kSignatureSectorSize) && !CarvedExtensionText(r.extension).empty()) {
                hits.push_back(static_cast<std::uint32_t>(*at));
                if (firstOnly)
                    return hits;
            }
        }
    }
    return hits;
}

TEST(SignatureProbe, SameHitsInTheSameOrderAsTheLinearWalk)
{
    std::mt19937 rng(1234);
    for (int round = 0; round < 200; ++round) {
        // Small alphabets so that records share key bytes and sectors match.
        SignatureList list;
        const int records = 1 + static_cast<int>(rng() % 40);
        for (int i = 0; i < records; ++i) {
            FileType1 r;
            r.extension = (rng() % 10 == 0) ? ".." : ".e" + std::to_string(rng() % 5);
            r.maxSize = "100";
            r.headerLen = 1 + static_cast<int>(rng() % 4);
            for (int j = 0; j < r.headerLen; ++j)
                r.header[static_cast<std::size_t>(j)] = static_cast<std::int32_t>(rng() % 3);
            r.keyByte = r.header[0];
            r.keyPos = (rng() % 8 == 0) ? 511 + static_cast<int>(rng() % 4) - 2 : 1 + static_cast<int>(rng() % 6);
            if (rng() % 20 == 0)
                r.keyPos = 0;
            list.Append(r);
        }
        const SignatureProbe probe(list);
        for (int s = 0; s < 50; ++s) {
            std::vector<std::uint8_t> sector(512);
            for (auto& b : sector)
                b = static_cast<std::uint8_t>(rng() % 3);
            const std::vector<std::uint32_t> every = LinearWalk(list, sector.data(), false);
            std::vector<std::uint32_t> got;
            probe.AllHits(sector.data(), got);
            ASSERT_EQ(got, every) << "round " << round;
            const int first = probe.FirstHit(sector.data());
            ASSERT_EQ(first, every.empty() ? -1 : static_cast<int>(every.front())) << "round " << round;
        }
    }
}

TEST(SignatureProbe, KeyBytesAcrossTheWholeByteRange)
{
    // Bytes at the ends of each 64-byte word of the index's byte sets.
    const std::uint8_t alphabet[] = {0, 1, 62, 63, 64, 65, 127, 128, 191, 192, 254, 255};
    std::mt19937 rng(99);
    for (int round = 0; round < 200; ++round) {
        SignatureList list;
        const int records = 1 + static_cast<int>(rng() % 60);
        for (int i = 0; i < records; ++i) {
            FileType1 r;
            r.extension = ".e" + std::to_string(rng() % 5);
            r.maxSize = "100";
            r.headerLen = 1 + static_cast<int>(rng() % 2);
            for (int j = 0; j < r.headerLen; ++j)
                r.header[static_cast<std::size_t>(j)] = alphabet[rng() % std::size(alphabet)];
            r.keyByte = r.header[0];
            r.keyPos = 1 + static_cast<int>(rng() % 4);
            list.Append(r);
        }
        const SignatureProbe probe(list);
        for (int s = 0; s < 50; ++s) {
            std::vector<std::uint8_t> sector(512);
            for (auto& b : sector)
                b = alphabet[rng() % std::size(alphabet)];
            const std::vector<std::uint32_t> every = LinearWalk(list, sector.data(), false);
            std::vector<std::uint32_t> got;
            probe.AllHits(sector.data(), got);
            ASSERT_EQ(got, every) << "round " << round;
            ASSERT_EQ(probe.FirstHit(sector.data()), every.empty() ? -1 : static_cast<int>(every.front()));
        }
    }
}

TEST(SignatureProbe, IndexGrowsWithTheRecordsNotTheKeyOffsets)
{
    // One record at each of the 512 key offsets: the index stays a few dozen
    // bytes per record (a table of 257 entries per offset would be 1 KiB each).
    SignatureList list;
    for (int pos = 1; pos <= 512; ++pos) {
        FileType1 r;
        r.extension = ".k";
        r.maxSize = "100";
        r.headerLen = 1;
        r.header[0] = pos % 256;
        r.keyByte = r.header[0];
        r.keyPos = pos;
        list.Append(r);
    }
    const SignatureProbe probe(list);
    EXPECT_EQ(probe.KeyCount(), 512u);
    EXPECT_LT(probe.IndexBytes(), 512u * 80);
    std::vector<std::uint8_t> sector(512, 0);
    sector[299] = 300 % 256;
    EXPECT_EQ(probe.FirstHit(sector.data()), 255);  // offset 256 holds byte 0 too: the first in list order
    sector[255] = 1;
    EXPECT_EQ(probe.FirstHit(sector.data()), 299);
}

TEST(SignatureProbe, RecordsThatCannotMatch)
{
    // Key offset 0, a header running past the sector, an empty header and an
    // extension that leaves no name never match; the rest still do.
    const SignatureList list = ListOf({Sig(".a", 1, "00", 0), Sig(".b", 1, "0000", 512), Sig(".c", 1, "", 1),
                                       Sig("./", 1, "00", 1), Sig(".d", 1, "0000", 511)});
    const SignatureProbe probe(list);
    std::vector<std::uint8_t> zeros(512, 0);
    EXPECT_EQ(probe.KeyCount(), 1u);
    EXPECT_EQ(probe.FirstHit(zeros.data()), 4);
    EXPECT_TRUE(SignatureProbe(ListOf({Sig(".a", 1, "00", 0)})).Empty());
    EXPECT_TRUE(SignatureProbe().Empty());
}

}  // namespace
}  // namespace torvane
