// LZNT1 decompression: a unit compressed by ntfs-3g, hand-made chunks for
// each token form, and malformed input.
#include "fsrecovery/ntfs/lznt1.h"
#include "ntfs_test_records.h"
#include "../../e2e/sha256.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace torvane {
namespace {

using Bytes = std::vector<std::uint8_t>;

std::string Decompress(const Bytes& in, std::size_t outSize, bool* ok = nullptr)
{
    std::string out(outSize, '\x55');
    Lznt1Result r = DecompressLznt1(std::span<const std::uint8_t>(in.data(), in.size()),
                                    std::span<std::uint8_t>(reinterpret_cast<std::uint8_t*>(out.data()), out.size()));
    if (ok)
        *ok = r.ok;
    return out;
}

// A compressed chunk header for `dataBytes` bytes of tokens.
Bytes Header(std::size_t dataBytes, bool compressed = true)
{
    const std::uint16_t h = static_cast<std::uint16_t>(((dataBytes - 1) & 0x0FFF) | 0x3000 | (compressed ? 0x8000 : 0));
    return {static_cast<std::uint8_t>(h), static_cast<std::uint8_t>(h >> 8)};
}

Bytes Chunk(const Bytes& tokens, bool compressed = true)
{
    const Bytes header = Header(tokens.size(), compressed);
    Bytes out;
    out.reserve(header.size() + tokens.size());
    out.insert(out.end(), header.begin(), header.end());
    out.insert(out.end(), tokens.begin(), tokens.end());
    return out;
}

TEST(Lznt1, UnitCompressedByNtfs3g)
{
    // The first 64 KiB unit of a 100,000-byte text file that ntfs-3g wrote
    // into a compressed folder: 3 clusters of chunks, then sparse clusters.
    std::ifstream in(std::string(NTFS_TEST_DATA_DIR) + "/lznt1_unit_ntfs3g.bin", std::ios::binary);
    ASSERT_TRUE(in);
    Bytes packed((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    ASSERT_EQ(packed.size(), 12288u);
    bool ok = false;
    const std::string out = Decompress(packed, 65536, &ok);
    EXPECT_TRUE(ok);
    EXPECT_EQ(test::Sha256Hex(out), "23e049c671ac701ee01a4af12c661583a2b0e8f89456dc00b32dd920f8ca35af");
}

TEST(Lznt1, TokenForms)
{
    // Literals "abc", then a back-reference of distance 3 and length 9 at
    // position 3 (4 distance bits: token = (3-1) << 12 | (9-3)).
    Bytes tokens = {0x08, 'a', 'b', 'c', 0x06, 0x20};
    std::string out = Decompress(Chunk(tokens), 4096 + 10);
    EXPECT_EQ(out.substr(0, 12), "abcabcabcabc");
    // The rest of the chunk's 4096 bytes, and the unit after it, are zeros.
    EXPECT_EQ(out.substr(12), std::string(4096 + 10 - 12, '\0'));

    // Further into the chunk the distance takes more bits: at position 32
    // the split is 5 distance bits and 11 length bits.
    Bytes literals(32);
    for (int i = 0; i < 32; ++i)
        literals[i] = static_cast<std::uint8_t>('A' + (i % 26));
    Bytes t2;
    for (int g = 0; g < 4; ++g) {
        t2.push_back(0x00);
        t2.insert(t2.end(), literals.begin() + 8 * g, literals.begin() + 8 * g + 8);
    }
    // distance 32, length 40 -> token = (32-1) << 11 | (40-3)
    const std::uint16_t token = static_cast<std::uint16_t>((31 << 11) | 37);
    t2.push_back(0x01);
    t2.push_back(static_cast<std::uint8_t>(token));
    t2.push_back(static_cast<std::uint8_t>(token >> 8));
    std::string out2 = Decompress(Chunk(t2), 4096);
    std::string want(literals.begin(), literals.end());
    want += want + want.substr(0, 8);
    EXPECT_EQ(out2.substr(0, 72), want);

    // An uncompressed chunk holds its bytes as they are; a second chunk
    // follows at the next 4096 bytes; header 0 ends the unit.
    Bytes raw(4096, 0x7A);
    Bytes unit = Chunk(raw, false);
    Bytes second = Chunk({0x00, '1', '2', '3', '4', '5', '6', '7', '8'});
    unit.insert(unit.end(), second.begin(), second.end());
    unit.push_back(0);
    unit.push_back(0);
    unit.push_back(0xFF);  // after the end: ignored
    std::string out3 = Decompress(unit, 3 * 4096);
    EXPECT_EQ(out3.substr(0, 4096), std::string(4096, 'z'));
    EXPECT_EQ(out3.substr(4096, 8), "12345678");
    EXPECT_EQ(out3.substr(4104), std::string(2 * 4096 - 8, '\0'));
}

TEST(Lznt1, MalformedChunksStopWithZeros)
{
    struct Case { const char* what; Bytes in; };
    const Case cases[] = {
        {"back-reference before any byte", Chunk({0x01, 0x00, 0x10})},
        {"distance beyond the output", Chunk({0x02, 'a', 0x00, 0x30})},
        {"token cut short", Chunk({0x02, 'a', 0x00})},
        {"chunk longer than the input", Header(200)},
        {"length past the chunk's 4096 bytes", Chunk({0x02, 'a', 0xFF, 0x0F})},
    };
    for (const Case& c : cases) {
        bool ok = true;
        const std::string out = Decompress(c.in, 4096, &ok);
        EXPECT_FALSE(ok) << c.what;
        EXPECT_EQ(out, std::string(4096, '\0')) << c.what;
    }
    // A good chunk before a bad one keeps its bytes.
    Bytes unit = Chunk({0x00, 'g', 'o', 'o', 'd', '!', '!', '!', '!'});
    Bytes bad = Chunk({0x01, 0x00, 0x10});
    unit.insert(unit.end(), bad.begin(), bad.end());
    bool ok = true;
    const std::string out = Decompress(unit, 8192, &ok);
    EXPECT_FALSE(ok);
    EXPECT_EQ(out.substr(0, 8), "good!!!!");
    EXPECT_EQ(out.substr(4096), std::string(4096, '\0'));
    // Empty input and an empty output are fine.
    EXPECT_EQ(Decompress({}, 16), std::string(16, '\0'));
    EXPECT_EQ(Decompress(Chunk({0x00, 'x'}), 0), "");
}

}  // namespace
}  // namespace torvane
