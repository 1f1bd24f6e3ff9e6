#include "carving/thumbnail_layout.h"

namespace torvane {

ThumbnailPlacement PlaceThumbnail(std::int64_t w, std::int64_t h)
{
    ThumbnailPlacement p;
    if (w <= 0 || h <= 0)
        return p;
    const double byWidth = static_cast<double>(kThumbnailWidth) / static_cast<double>(w);
    const double byHeight = static_cast<double>(kThumbnailHeight) / static_cast<double>(h);
    p.placeholder = false;
    if (byWidth <= byHeight) {
        const double drawn = static_cast<double>(h) * byWidth;
        p.x = 0;
        p.y = static_cast<int>((kThumbnailHeight - drawn) / 2);
        p.width = static_cast<int>(static_cast<double>(w) * byWidth);
        p.height = static_cast<int>(drawn);
    } else {
        const double drawn = static_cast<double>(w) * byHeight;
        p.x = static_cast<int>((kThumbnailWidth - drawn) / 2);
        p.y = 0;
        p.width = static_cast<int>(drawn);
        p.height = static_cast<int>(static_cast<double>(h) * byHeight);
    }
    // A sliver narrower than a pixel is still drawn as one.
    if (p.width < 1)
        p.width = 1;
    if (p.height < 1)
        p.height = 1;
    return p;
}

}  // namespace torvane
