// The Photo Search dialog: carves pictures out of a sector range by their
// header signatures and shows each one as a thumbnail while the search runs.
//
// The wizard is CarvingSearchDialog's. On the search page the thumbnails are
// decoded by a small pool of threads (thumbnail_view.h) and placed in the
// order the pictures were carved; the view holds 2,000 and is then emptied
// (carved_items_view.h). Stop drops the thumbnails still on their way; the
// carved files stay.
#pragma once

#include "carving/carving_search_dialog.h"
#include "carving/thumbnail_layout.h"
#include "carving/thumbnail_view.h"

#include <atomic>
#include <memory>

namespace torvane {

class CarvedViewFeeder;

inline constexpr char kThumbnailsClearedText[] =
    "To maintain the speed of recovery, thumbnails preview window is cleared after every 2000 thumbnails.";
inline constexpr char kClearingPreviewText[] = "Clearing current preview window...";

class CRawSearch : public CarvingSearchDialog {
    Q_OBJECT
public:
    explicit CRawSearch(QWidget* parent = nullptr);
    ~CRawSearch() override;

    CThumbsListCtrl* ThumbnailView() const { return m_pThumbs; }
    CarvedViewFeeder* Feeder() const { return m_pFeeder; }
    ThumbnailDecodePool& DecodePool() { return *m_pool; }
    // Thumbnails of the running search not placed yet (decoding, waiting for
    // the ones before them, or for a clearing to end).
    bool ThumbnailsPending() const;

signals:
    void thumbnailPlaced(int row);

protected:
    void PrepareResultViews() override;
    void ClearResultViews() override;
    void OnCarvedFileOnWorker(const CarvedFile& file) override;
    void OnSearchStopping() override;

private:
    void OnThumbnailDecoded(ThumbnailDecodePool::Decoded decoded);

    CThumbsListCtrl* m_pThumbs = nullptr;   // 1225
    CarvedViewFeeder* m_pFeeder = nullptr;
    std::unique_ptr<ThumbnailDecodePool> m_pool;
    ArrivalOrderBuffer<ThumbnailDecodePool::Decoded> m_order;
    std::atomic<std::uint64_t> m_nextSeq{0};   // the worker numbers the carved pictures
};

}  // namespace torvane
