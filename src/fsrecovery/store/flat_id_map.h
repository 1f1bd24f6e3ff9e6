// A hash map from 64-bit ids to small values, open addressing with linear
// probing in one flat array. The folder index of a scan holds up to millions
// of ids and is read once per folder placed; one probe into one array costs a
// single cache miss where a node-based map costs two or three.
#pragma once

#include "base/large_buffers.h"

#include <cstdint>
#include <vector>

namespace torvane {

template <class Value>
class FlatIdMap {
public:
    // Inserts `key` -> `value` unless `key` is present; returns the stored value.
    Value Emplace(std::uint64_t key, Value value)
    {
        if ((count_ + 1) * 2 > slots_.size())
            Grow();
        std::size_t i = Index(key);
        while (slots_[i].used) {
            if (slots_[i].key == key)
                return slots_[i].value;
            i = (i + 1) & (slots_.size() - 1);
        }
        slots_[i] = Slot{key, value, true};
        ++count_;
        return value;
    }
    // The value of `key`, or nullptr.
    Value* Find(std::uint64_t key)
    {
        if (slots_.empty())
            return nullptr;
        std::size_t i = Index(key);
        while (slots_[i].used) {
            if (slots_[i].key == key)
                return &slots_[i].value;
            i = (i + 1) & (slots_.size() - 1);
        }
        return nullptr;
    }
    const Value* Find(std::uint64_t key) const { return const_cast<FlatIdMap*>(this)->Find(key); }
    // Erases `key` (backward-shift deletion keeps the probe runs whole).
    void Erase(std::uint64_t key)
    {
        if (slots_.empty())
            return;
        std::size_t i = Index(key);
        while (slots_[i].used && slots_[i].key != key)
            i = (i + 1) & (slots_.size() - 1);
        if (!slots_[i].used)
            return;
        std::size_t mask = slots_.size() - 1;
        std::size_t hole = i;
        for (std::size_t j = (hole + 1) & mask; slots_[j].used; j = (j + 1) & mask) {
            std::size_t home = Index(slots_[j].key);
            // Move j into the hole unless its home lies cyclically in (hole, j].
            bool between = hole <= j ? (home > hole && home <= j) : (home > hole || home <= j);
            if (!between) {
                slots_[hole] = slots_[j];
                hole = j;
            }
        }
        slots_[hole].used = false;
        --count_;
    }
    std::size_t Size() const { return count_; }
    // Room for `n` keys without growing.
    void Reserve(std::size_t n)
    {
        std::size_t want = 64;
        while (want < n * 2)
            want *= 2;
        if (want <= slots_.size())
            return;
        std::vector<Slot> old;
        old.swap(slots_);
        Allocate(want);
        count_ = 0;
        for (const Slot& s : old)
            if (s.used)
                Emplace(s.key, s.value);
    }
    void Clear()
    {
        slots_.clear();
        count_ = 0;
    }

private:
    struct Slot {
        std::uint64_t key = 0;
        Value value{};
        bool used = false;
    };
    std::size_t Index(std::uint64_t key) const
    {
        std::uint64_t z = key + 0x9E3779B97F4A7C15ull;
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        z ^= z >> 31;
        return static_cast<std::size_t>(z) & (slots_.size() - 1);
    }
    // `n` empty slots (slots_ is empty): large tables in huge pages.
    void Allocate(std::size_t n)
    {
        ReserveLarge(slots_, n);
        slots_.assign(n, Slot{});
    }
    void Grow()
    {
        std::vector<Slot> old;
        old.swap(slots_);
        Allocate(old.empty() ? 64 : old.size() * 2);
        count_ = 0;
        for (const Slot& s : old)
            if (s.used)
                Emplace(s.key, s.value);
    }

    std::vector<Slot> slots_;
    std::size_t count_ = 0;
};

}  // namespace torvane
