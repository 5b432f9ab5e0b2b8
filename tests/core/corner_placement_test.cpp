#include "core/corner_placement.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace koravex {
namespace {

// GNOME's work area below its top bar, KDE's above its panel, a screen of 1280x800.
constexpr PixelRect kGnomeArea{0, 32, 1280, 768};
constexpr PixelRect kKdeArea{0, 0, 1280, 756};
constexpr PixelSize kClient{373, 201};
// What the managers put around the window: mutter's title bar, KWin's, openbox's frame.
constexpr FrameExtents kMutter{0, 0, 35, 0};
constexpr FrameExtents kKwin{0, 0, 29, 0};
constexpr FrameExtents kOpenbox{1, 1, 21, 5};

TEST(CornerFrameOriginTest, FrameBottomRightIsTheAreaCorner) {
    const struct {
        PixelRect area;
        PixelSize client;
        FrameExtents frame;
        PixelPoint origin;
    } cases[] = {
        {kGnomeArea, kClient, kMutter, {907, 564}},            // 800 - 201 - 35
        {kKdeArea, kClient, kKwin, {907, 526}},                // 756 - 201 - 29
        {kKdeArea, kClient, kOpenbox, {905, 529}},             // 1280 - 375, 756 - 227
        {kKdeArea, kClient, {}, {907, 555}},                   // no frame
        {{1280, 0, 1920, 1040}, kClient, kKwin, {2827, 810}},  // a second screen on the right
        {{0, 0, 2560, 1512}, {746, 402}, {0, 0, 58, 0}, {1814, 1052}},  // twice the pixels
        // Larger than the area: the top-left corner, and with it the title bar, stays inside.
        {{0, 20, 300, 150}, kClient, kMutter, {0, 20}},
    };
    for (const auto& c : cases) {
        const PixelPoint origin = cornerFrameOrigin(c.area, c.client, c.frame);
        EXPECT_EQ(origin.x, c.origin.x) << c.area.x << "," << c.area.y;
        EXPECT_EQ(origin.y, c.origin.y) << c.area.x << "," << c.area.y;
    }
}

// One report of the window manager, or the program's own request to go to the corner.
struct Step {
    enum Kind { Place, Mapped, Extents, WorkArea, Withdrawn } kind;
    std::optional<FrameExtents> extents;  // what _NET_FRAME_EXTENTS reads at that moment
    PixelRect area = kGnomeArea;
    // The frame is asked to go where its bottom-right corner is the area's corner with these
    // extents; nothing is asked when empty.
    std::optional<FrameExtents> movesFor;
};

std::optional<PixelPoint> run(CornerPlacement& placement, const Step& step) {
    switch (step.kind) {
        case Step::Place:
            return placement.place(step.area, kClient, step.extents);
        case Step::Mapped:
            return placement.mapped(step.extents);
        case Step::Extents:
            return placement.extentsChanged(step.extents);
        case Step::WorkArea:
            return placement.workAreaChanged(step.area);
        case Step::Withdrawn:
            placement.withdrawn();
            return std::nullopt;
    }
    return std::nullopt;
}

TEST(CornerPlacementTest, EveryOrderOfTheManagersReportsEndsInTheCorner) {
    using S = Step;
    const FrameExtents none{};
    const struct {
        const char* name;
        std::vector<Step> steps;
    } cases[] = {
        {"extents before the map (answered request): placed right at once, no move after",
         {{S::Place, kMutter, kGnomeArea, kMutter},
          {S::Mapped, kMutter, kGnomeArea, kMutter},  // the same place asked again
          {S::Extents, kMutter, kGnomeArea, std::nullopt}}},
        {"extents with the map: placed without a frame, moved once the map reports it",
         {{S::Place, std::nullopt, kGnomeArea, none},
          {S::Mapped, kKwin, kGnomeArea, kKwin},
          {S::Extents, kKwin, kGnomeArea, std::nullopt}}},
        {"extents after the map: moved when they come",
         {{S::Place, std::nullopt, kGnomeArea, none},
          {S::Mapped, std::nullopt, kGnomeArea, std::nullopt},
          {S::Extents, kMutter, kGnomeArea, kMutter}}},
        {"extents never: placed as frameless, never moved again",
         {{S::Place, std::nullopt, kGnomeArea, none},
          {S::Mapped, std::nullopt, kGnomeArea, std::nullopt},
          {S::Extents, std::nullopt, kGnomeArea, std::nullopt}}},
        {"estimated before the map, another frame after: follows the real one",
         {{S::Place, kKwin, kGnomeArea, kKwin},
          {S::Mapped, kKwin, kGnomeArea, kKwin},
          {S::Extents, FrameExtents{0, 0, 30, 0}, kGnomeArea, FrameExtents{0, 0, 30, 0}}}},
        {"frame added in two steps after the map",
         {{S::Place, std::nullopt, kGnomeArea, none},
          {S::Mapped, std::nullopt, kGnomeArea, std::nullopt},
          {S::Extents, FrameExtents{1, 1, 1, 1}, kGnomeArea, FrameExtents{1, 1, 1, 1}},
          {S::Extents, kOpenbox, kGnomeArea, kOpenbox}}},
        {"extents changed while hidden move nothing; the next showing uses them",
         {{S::Place, kMutter, kGnomeArea, kMutter},
          {S::Withdrawn, std::nullopt, kGnomeArea, std::nullopt},
          {S::Extents, kOpenbox, kGnomeArea, std::nullopt},
          {S::WorkArea, std::nullopt, kKdeArea, std::nullopt},
          {S::Place, kOpenbox, kKdeArea, kOpenbox}}},
        {"shown again after the manager dropped the extents: the last ones are the estimate",
         {{S::Place, std::nullopt, kGnomeArea, none},
          {S::Extents, kMutter, kGnomeArea, kMutter},
          {S::Withdrawn, std::nullopt, kGnomeArea, std::nullopt},
          {S::Place, std::nullopt, kGnomeArea, kMutter},
          {S::Mapped, kMutter, kGnomeArea, kMutter}}},
        {"a panel appears after the map: the window follows the work area",
         {{S::Place, kKwin, {0, 0, 1280, 800}, kKwin},
          {S::Mapped, kKwin, {0, 0, 1280, 800}, kKwin},
          {S::WorkArea, std::nullopt, kKdeArea, kKwin},
          {S::WorkArea, std::nullopt, kKdeArea, std::nullopt}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        CornerPlacement placement;
        PixelRect area = kGnomeArea;
        std::optional<PixelPoint> last;
        std::optional<FrameExtents> lastFrame;
        for (std::size_t i = 0; i < c.steps.size(); ++i) {
            const Step& step = c.steps[i];
            if (step.kind == Step::Place || step.kind == Step::WorkArea)
                area = step.area;
            const std::optional<PixelPoint> asked = run(placement, step);
            SCOPED_TRACE("step " + std::to_string(i));
            ASSERT_EQ(asked.has_value(), step.movesFor.has_value());
            if (asked) {
                const PixelPoint expected = cornerFrameOrigin(area, kClient, *step.movesFor);
                EXPECT_EQ(asked->x, expected.x);
                EXPECT_EQ(asked->y, expected.y);
                last = asked;
            }
            if (step.extents)
                lastFrame = step.extents;
        }
        // Wherever the last request put the frame, with the frame the manager last reported
        // (none when it never did), its bottom-right corner is the work area's.
        ASSERT_TRUE(last.has_value());
        const FrameExtents frame = lastFrame.value_or(FrameExtents{});
        EXPECT_EQ(last->x + frame.left + kClient.width + frame.right, area.x + area.width);
        EXPECT_EQ(last->y + frame.top + kClient.height + frame.bottom, area.y + area.height);
    }
}

}  // namespace
}  // namespace koravex
