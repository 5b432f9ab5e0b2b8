#pragma once
// Where the window goes so that its frame's bottom-right corner is the work area's, from what
// the window manager says of its frame (_NET_FRAME_EXTENTS) and of the work area, however the
// manager's reports are ordered around the window's mapping. Toolkit-free: every figure is in
// the window system's own pixels, the positions are those of the frame's top-left corner.
#include <optional>

namespace koravex {

struct PixelPoint {
    int x = 0;
    int y = 0;
    friend bool operator==(const PixelPoint&, const PixelPoint&) = default;
};

struct PixelSize {
    int width = 0;
    int height = 0;
    friend bool operator==(const PixelSize&, const PixelSize&) = default;
};

struct PixelRect {
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
    friend bool operator==(const PixelRect&, const PixelRect&) = default;
};

// The frame's widths around the client window: _NET_FRAME_EXTENTS' left, right, top, bottom.
struct FrameExtents {
    int left = 0;
    int right = 0;
    int top = 0;
    int bottom = 0;
    friend bool operator==(const FrameExtents&, const FrameExtents&) = default;
};

// The frame's top-left corner for which the frame's bottom-right corner is the area's. A
// window larger than the area keeps its top-left corner (and with it the title bar) inside it.
PixelPoint cornerFrameOrigin(const PixelRect& workArea, const PixelSize& client,
                             const FrameExtents& frame);

// Follows one window from the request to put it in the corner to the manager's last word on
// its frame. Each call that returns a point asks for the frame to go there (asking again for
// the same point changes nothing on the screen); nothing is returned while nothing has to move.
//   - place(): the window is to go to the corner now (before it is mapped, or when it is shown
//     again). The extents the manager gave are used; where it gave none (yet), the ones used
//     last (none at first), and the window goes again once the manager says what they are.
//   - mapped(): the manager mapped the window. When the extents are known by then, the frame
//     is asked once more for its place: a manager that read the position given before the map
//     by another gravity than meant puts it right.
//   - extentsChanged(): the manager set or changed _NET_FRAME_EXTENTS. While the window is
//     placed, new extents move it (a frame added after the map, a title bar of another height
//     than the manager first estimated); the same extents again move nothing.
//   - workAreaChanged(): a panel came, went or changed size; the window follows while placed.
//   - withdrawn(): the window is hidden; nothing moves it until the next place().
class CornerPlacement {
  public:
    PixelPoint place(const PixelRect& workArea, const PixelSize& client,
                     std::optional<FrameExtents> extents);
    std::optional<PixelPoint> mapped(std::optional<FrameExtents> extents);
    std::optional<PixelPoint> extentsChanged(std::optional<FrameExtents> extents);
    std::optional<PixelPoint> workAreaChanged(const PixelRect& workArea);
    void withdrawn();

    bool placed() const { return placed_; }
    // The extents the last request was computed with.
    const FrameExtents& frame() const { return used_; }

  private:
    PixelPoint origin() const { return cornerFrameOrigin(area_, client_, used_); }

    bool placed_ = false;  // from place() to withdrawn()
    PixelRect area_;
    PixelSize client_;
    FrameExtents used_;  // the extents the last request used
};

}  // namespace koravex
