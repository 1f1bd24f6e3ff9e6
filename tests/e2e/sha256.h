// A small SHA-256 for comparing saved files with the fixture manifests.
#pragma once

#include <array>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

namespace torvane::test {

class Sha256 {
public:
    void Update(const void* data, std::size_t length)
    {
        const auto* p = static_cast<const std::uint8_t*>(data);
        total_ += length;
        while (length > 0) {
            std::size_t n = std::min<std::size_t>(64 - used_, length);
            for (std::size_t i = 0; i < n; ++i)
                block_[used_ + i] = p[i];
            used_ += n;
            p += n;
            length -= n;
            if (used_ == 64) {
                Compress();
                used_ = 0;
            }
        }
    }
    std::string HexDigest()
    {
        std::uint64_t bits = total_ * 8;
        std::uint8_t pad = 0x80;
        Update(&pad, 1);
        std::uint8_t zero = 0;
        while (used_ != 56)
            Update(&zero, 1);
        std::uint8_t len[8];
        for (int i = 0; i < 8; ++i)
            len[i] = static_cast<std::uint8_t>(bits >> (56 - 8 * i));
        Update(len, 8);
        std::string out;
        char buf[9];
        for (std::uint32_t v : h_) {
            std::snprintf(buf, sizeof buf, "%08x", v);
            out += buf;
        }
        return out;
    }

private:
    static std::uint32_t Rot(std::uint32_t x, int n) { return (x >> n) | (x << (32 - n)); }
    void Compress()
    {
        static constexpr std::uint32_t k[64] = {
            0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
            0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
            0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
            0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
            0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
            0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
            0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
            0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2};
        std::uint32_t w[64];
        for (int i = 0; i < 16; ++i)
            w[i] = (std::uint32_t(block_[4 * i]) << 24) | (std::uint32_t(block_[4 * i + 1]) << 16) |
                   (std::uint32_t(block_[4 * i + 2]) << 8) | block_[4 * i + 3];
        for (int i = 16; i < 64; ++i) {
            std::uint32_t s0 = Rot(w[i - 15], 7) ^ Rot(w[i - 15], 18) ^ (w[i - 15] >> 3);
            std::uint32_t s1 = Rot(w[i - 2], 17) ^ Rot(w[i - 2], 19) ^ (w[i - 2] >> 10);
            w[i] = w[i - 16] + s0 + w[i - 7] + s1;
        }
        std::uint32_t a = h_[0], b = h_[1], c = h_[2], d = h_[3], e = h_[4], f = h_[5], g = h_[6], h = h_[7];
        for (int i = 0; i < 64; ++i) {
            std::uint32_t t1 = h + (Rot(e, 6) ^ Rot(e, 11) ^ Rot(e, 25)) + ((e & f) ^ (~e & g)) + k[i] + w[i];
            std::uint32_t t2 = (Rot(a, 2) ^ Rot(a, 13) ^ Rot(a, 22)) + ((a & b) ^ (a & c) ^ (b & c));
            h = g; g = f; f = e; e = d + t1; d = c; c = b; b = a; a = t1 + t2;
        }
        h_[0] += a; h_[1] += b; h_[2] += c; h_[3] += d; h_[4] += e; h_[5] += f; h_[6] += g; h_[7] += h;
    }

    std::array<std::uint32_t, 8> h_{0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
                                    0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};
    std::uint8_t block_[64]{};
    std::size_t used_ = 0;
    std::uint64_t total_ = 0;
};

// SHA-256 of bytes as lower-case hex.
inline std::string Sha256Hex(const std::string& bytes)
{
    Sha256 h;
    h.Update(bytes.data(), bytes.size());
    return h.HexDigest();
}

// SHA-256 of a file as lower-case hex; empty when it cannot be read.
inline std::string Sha256OfFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return {};
    Sha256 h;
    std::vector<char> buf(1 << 16);
    while (in) {
        in.read(buf.data(), static_cast<std::streamsize>(buf.size()));
        if (in.gcount() > 0)
            h.Update(buf.data(), static_cast<std::size_t>(in.gcount()));
    }
    return h.HexDigest();
}

}  // namespace torvane::test
