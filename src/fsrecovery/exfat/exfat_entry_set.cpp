#include "fsrecovery/exfat/exfat_entry_set.h"

#include "base/text_encoding.h"

namespace torvane {
namespace {

bool IsOtherSecondary(std::uint8_t t)
{
    // Secondary entries (bit 6 set) that carry nothing the readers need:
    // vendor extensions and vendor allocations, in use or deleted.
    return (t & 0x40) != 0 && !IsExfatStreamType(t) && !IsExfatNameType(t);
}

bool IsBenignPrimary(std::uint8_t t)
{
    switch (t) {
    case 0x01: case 0x02: case 0x03:
    case 0x81: case 0x82: case 0x83:
    case 0xA0: case 0xA1: case 0xA2:
    case 0x20: case 0x21: case 0x22:
        return true;
    default:
        return false;
    }
}

}  // namespace

ExfatEntrySetAssembler::Step ExfatEntrySetAssembler::Feed(const std::uint8_t* e, std::uint64_t entryByte)
{
    const ByteView v = ExfatEntryBytes(e);
    const std::uint8_t t = v.U8(0);
    if (t == 0x00) {
        Flush();
        return Step::EndOfDirectory;
    }
    if (IsExfatFileType(t)) {
        Flush();
        open_ = true;
        haveStream_ = false;
        expected_ = v.U8(1);
        seen_ = 0;
        names_ = 0;
        nameLength_ = 0;
        units_.clear();
        raw_.assign(e, e + kExfatEntrySize);
        set_ = ExfatEntrySet{};
        set_.deleted = (t & 0x80) == 0;
        set_.attributes = v.U16(4);
        set_.directory = (set_.attributes & kExfatDirectoryAttribute) != 0;
        set_.createTimestamp = v.U32(8);
        set_.entryByte = entryByte;
        return Step::Continue;
    }
    if (IsExfatStreamType(t) || IsExfatNameType(t) || IsOtherSecondary(t)) {
        if (!open_)
            return Step::Continue;   // a secondary without its file entry
        ++seen_;
        if (raw_.size() < 256 * kExfatEntrySize)
            raw_.insert(raw_.end(), e, e + kExfatEntrySize);
        if (IsExfatStreamType(t)) {
            if (!haveStream_) {
                haveStream_ = true;
                set_.noFatChain = (v.U8(1) & kExfatNoFatChainFlag) != 0;
                nameLength_ = v.U8(3);
                set_.validLength = v.U64(8);
                set_.firstCluster = v.U32(20);
                set_.dataLength = v.U64(24);
            }
        } else if (IsExfatNameType(t)) {
            if (haveStream_) {
                ++names_;
                for (int i = 0; i < 15; ++i)
                    units_.push_back(v.U16(2 + 2 * static_cast<unsigned>(i)));
            }
        }
        // The end of the set: by the name's length when the stream gives a
        // usable one, otherwise by the secondary count.
        bool complete = false;
        if (haveStream_ && nameLength_ != 0)
            complete = names_ * 15 >= nameLength_;
        else
            complete = expected_ != 0 && seen_ >= expected_;
        if (complete)
            Finish();
        return Step::Continue;
    }
    Flush();
    if (t == 0x81 || t == 0x01) {
        sawBitmap = true;
        bitmapLength = v.U64(24);
    } else if (t == 0x82 || t == 0x02) {
        sawUpcase = true;
        upcaseFirstCluster = v.U32(20);
        upcaseLength = v.U64(24);
        upcaseEntryByte = entryByte;
    }
    if (IsBenignPrimary(t))
        return Step::Continue;
    return Step::NotDirectory;
}

void ExfatEntrySetAssembler::Flush()
{
    if (open_ && haveStream_ && names_ > 0)
        Finish();
    Drop();
}

void ExfatEntrySetAssembler::Drop()
{
    open_ = false;
    haveStream_ = false;
    units_.clear();
    raw_.clear();
}

void ExfatEntrySetAssembler::Finish()
{
    if (!open_)
        return;
    open_ = false;
    if (!haveStream_ || names_ == 0) {
        Drop();
        return;
    }
    // The name: NameLength units when usable, cut at the first 0 unit.
    std::size_t n = units_.size();
    if (nameLength_ != 0 && nameLength_ < n)
        n = nameLength_;
    for (std::size_t i = 0; i < n; ++i)
        if (units_[i] == 0) {
            n = i;
            break;
        }
    std::vector<std::uint8_t> bytes(n * 2);
    for (std::size_t i = 0; i < n; ++i) {
        bytes[2 * i] = static_cast<std::uint8_t>(units_[i] & 0xFF);
        bytes[2 * i + 1] = static_cast<std::uint8_t>(units_[i] >> 8);
    }
    set_.name = Utf16LeToUtf8(bytes.data(), n);
    if (nameLength_ == 0) {
        // Without a length, trailing blanks are padding.
        while (!set_.name.empty() && (set_.name.back() == ' ' || set_.name.back() == '\t'))
            set_.name.pop_back();
    }
    // The checksum covers the file entry and all its secondaries. A deleted
    // set may carry the checksum of its in-use form (type bytes with bit 7
    // set) or one written after the deletion; either counts.
    if (expected_ != 0 && raw_.size() == (expected_ + 1) * kExfatEntrySize) {
        const std::uint16_t stored = ByteView(raw_.data(), raw_.size()).U16(2);
        set_.checksumOk = ExfatSetChecksum(raw_.data(), expected_ + 1) == stored;
        if (!set_.checksumOk && set_.deleted) {
            std::vector<std::uint8_t> check = raw_;
            for (std::size_t i = 0; i < check.size(); i += kExfatEntrySize)
                check[i] |= 0x80;
            set_.checksumOk = ExfatSetChecksum(check.data(), expected_ + 1) == stored;
        }
    }
    if (!set_.checksumOk)
        ++checksumMismatches;
    ExfatEntrySet done = set_;
    Drop();
    if (sink_)
        sink_(done);
}

}  // namespace torvane
