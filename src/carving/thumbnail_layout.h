// The result views of the carving searches, as rules without widgets:
//
// - where a carved picture is drawn on its 110 x 80 thumbnail (scaled to fit,
//   centred across the other direction, enlarged when smaller);
// - how many items a result view holds before it is cleared (2,000 thumbnails
//   in the Photo Search, 2,000 carved files in the signature search);
// - the arrival order: thumbnails are decoded by several threads at once and
//   finish out of order, but the view shows them in the order the files were
//   carved. ArrivalOrderBuffer holds what finished early until the items
//   before it are in.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <utility>
#include <vector>

namespace torvane {

inline constexpr int kThumbnailWidth = 110;
inline constexpr int kThumbnailHeight = 80;

// Items a result view holds; the one that would be the 2,001st empties the
// view first and becomes its item 0.
inline constexpr std::size_t kCarvedViewCap = 2000;

// How long the "cleared" note stays up while a result view is emptied.
inline constexpr int kClearingPopupMs = 1000;

// The view follows every fifth new item (the first, the sixth, ...).
inline constexpr int kThumbnailScrollEvery = 5;

struct ThumbnailPlacement {
    bool placeholder = true;  // nothing to draw: the picture has no size
    int x = 0, y = 0;         // where the scaled picture goes on the canvas
    int width = 0, height = 0;  // its drawn size
};

// Scale = the smaller of 110 / w and 80 / h. When the picture fills the
// width (110 / w <= 80 / h) it is centred vertically, otherwise
// horizontally; offsets and sizes are truncated toward zero. A picture
// without a width or a height gets the placeholder (the division would have
// no meaning).
ThumbnailPlacement PlaceThumbnail(std::int64_t pictureWidth, std::int64_t pictureHeight);

// Hands items on in the order of their sequence numbers (0, 1, 2, ...),
// whatever order they are put in. A sequence number that will never come
// (its work was dropped) is skipped with Skip().
template <class T>
class ArrivalOrderBuffer {
public:
    // Puts item `seq` in; returns the items now due, in order. An item whose
    // number was already handed on (or skipped) is dropped.
    std::vector<T> Put(std::uint64_t seq, T item)
    {
        if (seq < next_)
            return {};
        waiting_.emplace(seq, std::move(item));
        return TakeDue();
    }
    // Marks `seq` as never coming; returns the items now due.
    std::vector<T> Skip(std::uint64_t seq)
    {
        if (seq < next_)
            return {};
        skipped_.emplace(seq, true);
        return TakeDue();
    }
    // Forgets everything waiting; the next item due is `next`.
    void Reset(std::uint64_t next = 0)
    {
        waiting_.clear();
        skipped_.clear();
        next_ = next;
    }
    std::uint64_t NextDue() const { return next_; }
    std::size_t Waiting() const { return waiting_.size(); }

private:
    std::vector<T> TakeDue()
    {
        std::vector<T> due;
        for (;;) {
            if (auto w = waiting_.find(next_); w != waiting_.end()) {
                due.push_back(std::move(w->second));
                waiting_.erase(w);
            } else if (auto s = skipped_.find(next_); s != skipped_.end()) {
                skipped_.erase(s);
            } else {
                break;
            }
            ++next_;
        }
        return due;
    }

    std::uint64_t next_ = 0;
    std::map<std::uint64_t, T> waiting_;
    std::map<std::uint64_t, bool> skipped_;
};

}  // namespace torvane
