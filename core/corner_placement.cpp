#include "core/corner_placement.h"

#include <algorithm>

namespace koravex {

PixelPoint cornerFrameOrigin(const PixelRect& workArea, const PixelSize& client,
                             const FrameExtents& frame) {
    const int outerWidth = frame.left + client.width + frame.right;
    const int outerHeight = frame.top + client.height + frame.bottom;
    return {std::max(workArea.x, workArea.x + workArea.width - outerWidth),
            std::max(workArea.y, workArea.y + workArea.height - outerHeight)};
}

PixelPoint CornerPlacement::place(const PixelRect& workArea, const PixelSize& client,
                                  std::optional<FrameExtents> extents) {
    placed_ = true;
    area_ = workArea;
    client_ = client;
    if (extents)
        used_ = *extents;
    return origin();
}

std::optional<PixelPoint> CornerPlacement::mapped(std::optional<FrameExtents> extents) {
    if (!placed_ || !extents)
        return std::nullopt;
    used_ = *extents;
    return origin();
}

std::optional<PixelPoint> CornerPlacement::extentsChanged(std::optional<FrameExtents> extents) {
    if (!placed_ || !extents || *extents == used_)
        return std::nullopt;
    used_ = *extents;
    return origin();
}

std::optional<PixelPoint> CornerPlacement::workAreaChanged(const PixelRect& workArea) {
    if (!placed_ || workArea == area_)
        return std::nullopt;
    area_ = workArea;
    return origin();
}

void CornerPlacement::withdrawn() {
    placed_ = false;
}

}  // namespace koravex
