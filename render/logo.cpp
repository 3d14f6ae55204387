#include "render/logo.h"

#include <span>
#include <vector>

using namespace Gdiplus;

namespace {
// A corner of an outline, or one of the two control points of the cubic Bezier that ends at the
// next corner. Each outline closes with a straight line back to its first corner.
struct LogoNode {
    float x;
    float y;
    bool control = false;
};
constexpr LogoNode c(float x, float y) {
    return {x, y, true};
}

// The OSTREL wordmark in its design space: baseline y = 0, cap height 95.41, x 1.07 to 542.16;
// constructed by res/make_logo.py.
// Vertical strokes are 15 wide, horizontal ones 13.4 so they look as heavy. Rounds are elliptic
// arcs split at their extremes, so no control point lies outside the letter. Counters are
// outlines of their own: the path fills alternately, so they stay open.
constexpr LogoNode letterO[] = {
    {48.77f, -95.41f},  c(22.43f, -95.41f), c(1.07f, -74.05f), {1.07f, -47.70f},   c(1.07f, -21.36f),
    c(22.43f, 0.00f),   {48.77f, 0.00f},    c(75.12f, 0.00f),  c(96.48f, -21.36f), {96.48f, -47.70f},
    c(96.48f, -74.05f), c(75.12f, -95.41f), {48.77f, -95.41f},
};
constexpr LogoNode counterO[] = {
    {48.77f, -82.01f},  c(30.71f, -82.01f), c(16.07f, -66.65f), {16.07f, -47.70f},  c(16.07f, -28.76f),
    c(30.71f, -13.40f), {48.77f, -13.40f},  c(66.84f, -13.40f), c(81.48f, -28.76f), {81.48f, -47.70f},
    c(81.48f, -66.65f), c(66.84f, -82.01f), {48.77f, -82.01f},
};
constexpr LogoNode letterS[] = {
    {181.97f, -81.52f},  c(176.50f, -90.07f), c(165.81f, -95.41f), {154.16f, -95.41f},  c(136.76f, -95.41f),
    c(122.66f, -83.69f), {122.66f, -69.23f},  c(122.66f, -54.78f), c(136.76f, -43.06f), {154.16f, -43.06f},
    c(164.38f, -43.06f), c(172.66f, -36.42f), {172.66f, -28.23f},  c(172.66f, -20.04f), c(164.38f, -13.40f),
    {154.16f, -13.40f},  c(147.32f, -13.40f), c(141.04f, -16.43f), {137.83f, -21.27f},  {124.58f, -14.98f},
    c(130.40f, -5.76f),  c(141.77f, 0.00f),   {154.16f, 0.00f},    c(172.66f, 0.00f),   c(187.66f, -12.64f),
    {187.66f, -28.23f},  c(187.66f, -43.82f), c(172.66f, -56.46f), {154.16f, -56.46f},  c(145.05f, -56.46f),
    c(137.66f, -62.18f), {137.66f, -69.23f},  c(137.66f, -76.29f), c(145.05f, -82.01f), {154.16f, -82.01f},
    c(160.26f, -82.01f), c(165.86f, -79.40f), {168.73f, -75.23f},
};
constexpr LogoNode letterT[] = {
    {211.25f, -95.41f}, {284.25f, -95.41f}, {284.25f, -82.01f}, {255.25f, -82.01f},
    {255.25f, 0.00f},   {240.25f, 0.00f},   {240.25f, -82.01f}, {211.25f, -82.01f},
};
constexpr LogoNode letterR[] = {
    {306.66f, 0.00f},   {306.66f, -95.41f},  {347.52f, -95.41f},  c(360.85f, -95.41f), c(371.66f, -83.13f),
    {371.66f, -67.98f}, c(371.66f, -52.83f), c(360.85f, -40.55f), {347.52f, -40.55f},  {373.66f, 0.00f},
    {355.10f, 0.00f},   {328.96f, -40.55f},  {321.66f, -40.55f},  {321.66f, 0.00f},
};
constexpr LogoNode counterR[] = {
    {321.66f, -82.01f},  {347.52f, -82.01f},  c(352.57f, -82.01f), c(356.66f, -75.73f), {356.66f, -67.98f},
    c(356.66f, -60.23f), c(352.57f, -53.95f), {347.52f, -53.95f},  {321.66f, -53.95f},
};
constexpr LogoNode letterE[] = {
    {401.67f, 0.00f},   {401.67f, -95.41f}, {458.67f, -95.41f}, {458.67f, -82.01f},
    {416.67f, -82.01f}, {416.67f, -54.91f}, {453.67f, -54.91f}, {453.67f, -41.51f},
    {416.67f, -41.51f}, {416.67f, -13.40f}, {458.67f, -13.40f}, {458.67f, 0.00f},
};
constexpr LogoNode letterL[] = {
    {488.16f, 0.00f},   {488.16f, -95.41f}, {503.16f, -95.41f},
    {503.16f, -13.40f}, {542.16f, -13.40f}, {542.16f, 0.00f},
};

constexpr std::span<const LogoNode> outlines[] = {letterO, counterO, letterS, letterT,
                                                  letterR, counterR, letterE, letterL};
} // namespace

GraphicsPath* buildLogoPath() {
    std::vector<PointF> points;
    std::vector<BYTE> types;
    for (const std::span<const LogoNode> outline : outlines) {
        bool afterControl = false;
        for (const LogoNode& node : outline) {
            BYTE type = PathPointTypeLine;
            if (&node == outline.data())
                type = PathPointTypeStart;
            else if (node.control || afterControl)
                type = PathPointTypeBezier;
            points.emplace_back(node.x, node.y);
            types.push_back(type);
            afterControl = node.control;
        }
        types.back() |= PathPointTypeCloseSubpath;
    }
    return new GraphicsPath(points.data(), types.data(), static_cast<INT>(points.size()), FillModeAlternate);
}
