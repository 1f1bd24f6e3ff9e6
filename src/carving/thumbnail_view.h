// The Photo Search's thumbnails: each carved picture decoded at reduced size
// and drawn on a white 110 x 80 canvas (thumbnail_layout.h has the rule), a
// placeholder for a picture that does not decode.
//
// Decoding runs on a small pool of threads, never on the carving thread and
// never on the GUI thread. The carving thread hands each closed file to the
// pool; when the pool already has `capacity` pictures on their way (queued,
// decoding, or decoded and not yet placed by the GUI), the carving thread
// waits for room, so memory stays bounded whatever the speed of either side.
// A stop drops the queued work and wakes a waiting carving thread at once.
// The decoded thumbnails go to the GUI thread, which places them in the
// order the files were carved (ArrivalOrderBuffer).
#pragma once

#include "carving/carved_items_view.h"

#include <QImage>
#include <QString>

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace torvane {

// The picture at `path` scaled onto a 110 x 80 white canvas; a null image
// when it cannot be decoded (the caller shows the placeholder). Any thread.
QImage DecodeThumbnail(const QString& path);
// The placeholder picture (110 x 80). Any thread.
QImage PlaceholderThumbnail();

class ThumbnailDecodePool {
public:
    struct Work {
        std::uint64_t seq = 0;   // arrival number of the carved file
        QString path;
        QString name;
    };
    struct Decoded {
        std::uint64_t seq = 0;
        std::uint64_t generation = 0;  // the pool's generation when it was submitted
        QString path;
        QString name;
        QImage image;                  // null: the placeholder
    };

    // `threads` decoders; at most `capacity` pictures on their way.
    ThumbnailDecodePool(int threads, std::size_t capacity);
    ~ThumbnailDecodePool();
    ThumbnailDecodePool(const ThumbnailDecodePool&) = delete;
    ThumbnailDecodePool& operator=(const ThumbnailDecodePool&) = delete;

    // Where decoded pictures go; called on a decoder thread.
    void SetDeliver(std::function<void(Decoded)> deliver);
    // The decoder itself (tests slow it down); DecodeThumbnail by default.
    void SetDecoder(std::function<QImage(const QString&)> decoder);

    // Queues a picture; waits while `capacity` are on their way. False when
    // the pool is closed (then or while waiting): the picture is dropped.
    bool Submit(Work work);
    // A picture of `generation` was placed or given up: room for one more.
    void Release(std::uint64_t generation);
    // Stop: drops the queued work, refuses more, wakes a waiting Submit.
    // What is decoding now is still delivered, with the old generation.
    void Close();
    // A new search: accepts work again (a new generation).
    void Open();

    std::uint64_t Generation() const;
    std::size_t OnTheirWay() const;
    std::size_t Capacity() const { return capacity_; }
    // The most pictures that were on their way at once (since the last Open).
    std::size_t PeakOnTheirWay() const;

private:
    void Decode();

    const std::size_t capacity_;
    mutable std::mutex mutex_;
    std::condition_variable workCv_;   // decoders wait for work
    std::condition_variable roomCv_;   // Submit waits for room
    std::deque<Work> queue_;
    std::size_t onTheirWay_ = 0;
    std::size_t peak_ = 0;
    std::uint64_t generation_ = 1;
    bool open_ = true;
    bool quit_ = false;
    std::function<void(Decoded)> deliver_;
    std::function<QImage(const QString&)> decoder_;
    std::vector<std::thread> threads_;
};

// The thumbnail view of the Photo Search (110 x 80 pictures, the view
// follows every fifth new one).
class CThumbsListCtrl : public CCarvedItemList {
    Q_OBJECT
public:
    explicit CThumbsListCtrl(QWidget* parent = nullptr);
    // The icon an item shows for a decoded thumbnail (or the placeholder).
    QIcon IconOf(const QImage& thumbnail) const;

private:
    QIcon m_placeholder;   // m_hPlaceholderBitmap
};

}  // namespace torvane
