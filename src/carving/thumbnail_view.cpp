#include "carving/thumbnail_view.h"

#include "carving/thumbnail_layout.h"

#include <QImageReader>
#include <QPainter>
#include <QPixmap>

#include <algorithm>

namespace torvane {

QImage DecodeThumbnail(const QString& path)
{
    QImageReader reader(path);
    reader.setDecideFormatFromContent(true);
    reader.setAutoTransform(false);
    QImage picture;
    ThumbnailPlacement place;
    const QSize size = reader.size();
    if (size.isValid() && !size.isEmpty()) {
        place = PlaceThumbnail(size.width(), size.height());
        if (place.placeholder)
            return {};
        // Decoded straight at the drawn size where the format can (JPEG
        // scales while it decodes), else decoded whole and scaled.
        reader.setScaledSize(QSize(place.width, place.height));
        picture = reader.read();
    } else {
        picture = reader.read();
        if (picture.isNull())
            return {};
        place = PlaceThumbnail(picture.width(), picture.height());
        if (place.placeholder)
            return {};
        picture = picture.scaled(place.width, place.height, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    }
    if (picture.isNull() || picture.width() <= 0 || picture.height() <= 0)
        return {};
    QImage canvas(kThumbnailWidth, kThumbnailHeight, QImage::Format_RGB32);
    canvas.fill(Qt::white);
    QPainter painter(&canvas);
    painter.drawImage(QRect(place.x, place.y, place.width, place.height), picture);
    painter.end();
    return canvas;
}

QImage PlaceholderThumbnail()
{
    // A framed landscape sign on light grey: "a picture that could not be shown".
    QImage canvas(kThumbnailWidth, kThumbnailHeight, QImage::Format_RGB32);
    canvas.fill(QColor(236, 238, 241));
    QPainter p(&canvas);
    p.setRenderHint(QPainter::Antialiasing);
    const QRect frame(30, 16, 50, 40);
    p.setPen(QPen(QColor(150, 156, 166), 2));
    p.setBrush(Qt::white);
    p.drawRect(frame);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(170, 176, 186));
    p.drawEllipse(QPoint(43, 28), 5, 5);
    QPolygon hills;
    hills << QPoint(32, 54) << QPoint(48, 36) << QPoint(58, 46) << QPoint(66, 38) << QPoint(78, 54);
    p.drawPolygon(hills);
    p.setPen(QPen(QColor(190, 60, 60), 3));
    p.drawLine(QPoint(70, 50), QPoint(86, 66));
    p.drawLine(QPoint(86, 50), QPoint(70, 66));
    p.end();
    return canvas;
}

// ---- the pool ----------------------------------------------------------------------------

ThumbnailDecodePool::ThumbnailDecodePool(int threads, std::size_t capacity)
    : capacity_(std::max<std::size_t>(capacity, 1)), decoder_(DecodeThumbnail)
{
    const int n = std::max(threads, 1);
    for (int i = 0; i < n; ++i)
        threads_.emplace_back([this] { Decode(); });
}

ThumbnailDecodePool::~ThumbnailDecodePool()
{
    {
        std::lock_guard lock(mutex_);
        quit_ = true;
        open_ = false;
        queue_.clear();
    }
    workCv_.notify_all();
    roomCv_.notify_all();
    for (std::thread& t : threads_)
        t.join();
}

void ThumbnailDecodePool::SetDeliver(std::function<void(Decoded)> deliver)
{
    std::lock_guard lock(mutex_);
    deliver_ = std::move(deliver);
}

void ThumbnailDecodePool::SetDecoder(std::function<QImage(const QString&)> decoder)
{
    std::lock_guard lock(mutex_);
    decoder_ = std::move(decoder);
}

bool ThumbnailDecodePool::Submit(Work work)
{
    std::unique_lock lock(mutex_);
    roomCv_.wait(lock, [this] { return !open_ || onTheirWay_ < capacity_; });
    if (!open_)
        return false;
    queue_.push_back(std::move(work));
    ++onTheirWay_;
    peak_ = std::max(peak_, onTheirWay_);
    lock.unlock();
    workCv_.notify_one();
    return true;
}

void ThumbnailDecodePool::Release(std::uint64_t generation)
{
    {
        std::lock_guard lock(mutex_);
        if (generation != generation_ || onTheirWay_ == 0)
            return;
        --onTheirWay_;
    }
    roomCv_.notify_one();
}

void ThumbnailDecodePool::Close()
{
    {
        std::lock_guard lock(mutex_);
        open_ = false;
        queue_.clear();
        ++generation_;
        onTheirWay_ = 0;
    }
    roomCv_.notify_all();
}

void ThumbnailDecodePool::Open()
{
    {
        std::lock_guard lock(mutex_);
        queue_.clear();
        ++generation_;
        onTheirWay_ = 0;
        peak_ = 0;
        open_ = true;
    }
    roomCv_.notify_all();
}

std::uint64_t ThumbnailDecodePool::Generation() const
{
    std::lock_guard lock(mutex_);
    return generation_;
}

std::size_t ThumbnailDecodePool::OnTheirWay() const
{
    std::lock_guard lock(mutex_);
    return onTheirWay_;
}

std::size_t ThumbnailDecodePool::PeakOnTheirWay() const
{
    std::lock_guard lock(mutex_);
    return peak_;
}

void ThumbnailDecodePool::Decode()
{
    for (;;) {
        Work work;
        std::uint64_t generation = 0;
        std::function<QImage(const QString&)> decoder;
        {
            std::unique_lock lock(mutex_);
            workCv_.wait(lock, [this] { return quit_ || !queue_.empty(); });
            if (quit_)
                return;
            work = std::move(queue_.front());
            queue_.pop_front();
            generation = generation_;
            decoder = decoder_;
        }
        Decoded done;
        done.seq = work.seq;
        done.generation = generation;
        done.path = std::move(work.path);
        done.name = std::move(work.name);
        done.image = decoder ? decoder(done.path) : QImage();
        std::function<void(Decoded)> deliver;
        {
            std::lock_guard lock(mutex_);
            if (quit_)
                return;
            deliver = deliver_;
        }
        if (deliver)
            deliver(std::move(done));
    }
}

// ---- the view -------------------------------------------------------------------------------

CThumbsListCtrl::CThumbsListCtrl(QWidget* parent)
    : CCarvedItemList(QSize(kThumbnailWidth, kThumbnailHeight), kThumbnailScrollEvery, parent)
{
    setObjectName(QStringLiteral("ThumbnailView"));
    m_placeholder = QIcon(QPixmap::fromImage(PlaceholderThumbnail()));
}

QIcon CThumbsListCtrl::IconOf(const QImage& thumbnail) const
{
    if (thumbnail.isNull())
        return m_placeholder;
    return QIcon(QPixmap::fromImage(thumbnail));
}

}  // namespace torvane
