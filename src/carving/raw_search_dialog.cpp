#include "carving/raw_search_dialog.h"

#include "base/program_state.h"
#include "carving/carved_items_view.h"

#include <QVBoxLayout>

#include <algorithm>
#include <thread>

namespace torvane {

namespace {

// Two decoders are enough to keep ahead of a disk; more would compete with
// the carving for the processor.
int DecoderThreads()
{
    const unsigned n = std::thread::hardware_concurrency();
    return n >= 4 ? 2 : 1;
}

constexpr std::size_t kThumbnailsOnTheirWay = 32;

}  // namespace

CRawSearch::CRawSearch(QWidget* parent) : CarvingSearchDialog(kModePhoto, QStringLiteral("Photo"), parent)
{
    setObjectName(QStringLiteral("CRawSearch"));
    m_pThumbs = new CThumbsListCtrl(this);
    m_pThumbs->setMinimumHeight(120);
    ResultsLayout()->addWidget(m_pThumbs, 1);
    SetClearedNoteText(QString::fromLatin1(kThumbnailsClearedText));
    m_pFeeder = new CarvedViewFeeder(m_pThumbs, this, ClearedNoteWidget(), QString::fromLatin1(kClearingPreviewText),
                                     QString::fromLatin1(kThumbnailsClearedText), this);

    m_pool = std::make_unique<ThumbnailDecodePool>(DecoderThreads(), kThumbnailsOnTheirWay);
    m_pool->SetDeliver([this](ThumbnailDecodePool::Decoded decoded) {
        PostToGui([this, decoded = std::move(decoded)]() mutable { OnThumbnailDecoded(std::move(decoded)); });
    });
    m_pFeeder->SetDoneHook([this](const CarvedItem& item) { m_pool->Release(item.tag); });
    connect(m_pFeeder, &CarvedViewFeeder::itemPlaced, this, &CRawSearch::thumbnailPlaced);
    connect(m_pThumbs, &CCarvedItemList::itemOpened, this, [this](const QString& path) { OpenCarvedFile(this, path); });
}

CRawSearch::~CRawSearch()
{
    StopRunningWork();
    // The decoders end before anything they report to is gone.
    m_pool->SetDeliver({});
    m_pool.reset();
}

bool CRawSearch::ThumbnailsPending() const
{
    return m_pool->OnTheirWay() > 0 || m_order.Waiting() > 0 || m_pFeeder->Waiting() > 0 || m_pFeeder->Clearing();
}

void CRawSearch::PrepareResultViews()
{
    m_pFeeder->Reset();
    m_pThumbs->ClearItems();
    m_pool->Open();
    m_order.Reset(0);
    m_nextSeq = 0;
    m_pThumbs->show();
}

void CRawSearch::ClearResultViews()
{
    m_pool->Close();
    m_order.Reset(0);
    m_pFeeder->Reset();
    m_pThumbs->ClearItems();
}

void CRawSearch::OnCarvedFileOnWorker(const CarvedFile& file)
{
    ThumbnailDecodePool::Work work;
    work.seq = m_nextSeq.fetch_add(1);
    work.path = QString::fromStdString(file.path);
    work.name = QString::fromStdString(file.name);
    // Waits while the view is behind; a stop lets it go at once.
    m_pool->Submit(std::move(work));
}

void CRawSearch::OnSearchStopping()
{
    // No thumbnail is added once the search is told to stop.
    m_pool->Close();
    m_order.Reset(0);
    m_pFeeder->Reset();
}

void CRawSearch::OnThumbnailDecoded(ThumbnailDecodePool::Decoded decoded)
{
    if (decoded.generation != m_pool->Generation())
        return;   // from a search that was stopped or left
    const std::uint64_t seq = decoded.seq;
    for (ThumbnailDecodePool::Decoded& due : m_order.Put(seq, std::move(decoded))) {
        CarvedItem item;
        item.name = due.name;
        item.path = due.path;
        item.icon = m_pThumbs->IconOf(due.image);
        item.tag = due.generation;
        m_pFeeder->Add(std::move(item));
    }
}

}  // namespace torvane
