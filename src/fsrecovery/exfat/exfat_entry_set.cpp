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
        // Fields one by one: the name keeps its buffer from set to set.
        set_.name.clear();
        set_.deleted = (t & 0x80) == 0;
        set_.attributes = v.U16(4);
        set_.directory = (set_.attributes & kExfatDirectoryAttribute) != 0;
        set_.createTimestamp = v.U32(8);
        set_.firstCluster = 0;
        set_.validLength = 0;
        set_.dataLength = 0;
        set_.noFatChain = false;
        set_.entryByte = entryByte;
        set_.checksumOk = false;
        summed_ = 0;
        sumRead_ = 0;
        sumInUse_ = 0;
        storedSum_ = v.U16(2);
        Sum(e, true);
        return Step::Continue;
    }
    if (IsExfatStreamType(t) || IsExfatNameType(t) || IsOtherSecondary(t)) {
        if (!open_)
            return Step::Continue;   // a secondary without its file entry
        ++seen_;
        if (summed_ < 256)
            Sum(e, false);
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
    summed_ = 0;
}

void ExfatEntrySetAssembler::Sum(const std::uint8_t* e, bool fileEntry)
{
    // sum = (sum rotated right by one) + byte, over every byte but the
    // checksum field itself (bytes 2 and 3 of the file entry). The in-use
    // form differs only in bit 7 of each entry's type byte; it is summed only
    // for deleted sets, as a second chain beside the first.
    auto step = [](std::uint16_t s, std::uint8_t b) {
        return static_cast<std::uint16_t>(static_cast<std::uint16_t>((s >> 1) | (s << 15)) + b);
    };
    const std::size_t from = fileEntry ? 4 : 2;
    std::uint16_t a = step(sumRead_, e[0]);
    if (set_.deleted) {
        std::uint16_t b = step(sumInUse_, static_cast<std::uint8_t>(e[0] | 0x80));
        a = step(a, e[1]);
        b = step(b, e[1]);
        for (std::size_t i = from; i < kExfatEntrySize; ++i) {
            a = step(a, e[i]);
            b = step(b, e[i]);
        }
        sumInUse_ = b;
    } else {
        a = step(a, e[1]);
        for (std::size_t i = from; i < kExfatEntrySize; ++i)
            a = step(a, e[i]);
    }
    sumRead_ = a;
    ++summed_;
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
    Utf16UnitsToUtf8(units_.data(), n, set_.name);
    if (nameLength_ == 0) {
        // Without a length, trailing blanks are padding.
        while (!set_.name.empty() && (set_.name.back() == ' ' || set_.name.back() == '\t'))
            set_.name.pop_back();
    }
    // The checksum covers the file entry and all its secondaries. A deleted
    // set may carry the checksum of its in-use form (type bytes with bit 7
    // set) or one written after the deletion; either counts.
    if (expected_ != 0 && summed_ == expected_ + 1)
        set_.checksumOk = sumRead_ == storedSum_ || (set_.deleted && sumInUse_ == storedSum_);
    if (!set_.checksumOk)
        ++checksumMismatches;
    Drop();
    if (sink_)
        sink_(set_);
}

}  // namespace torvane
