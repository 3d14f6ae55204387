#include "render/frame.h"

#include "i18n/language_table.h"
#include "render/layout.h"
#include "render/logo.h"
#include "render/page_model.h"
#include "render/pages.h"
#include "render/widgets.h"
#include "state/setup_state.h"
#include "win/handles.h"

using namespace Gdiplus;

namespace {
struct Ribbon {
    PointF start;
    PointF bezier[6];
    PointF lineTo;
    PointF gradientA, gradientB;
    ARGB colour1, colour2;
};

// y values are fractions of the height, except the two sentinels: top (y = -10) and
// belowBottom (y = H + 10).
PointF ribbonPoint(float x, float y, float height) {
    if (y == -10.0f)
        return PointF(x, -10.0f);
    if (y == 1000.0f)
        return PointF(x, height + 10.0f);
    return PointF(x, height * y);
}

constexpr float top = -10.0f;
constexpr float belowBottom = 1000.0f;

const Ribbon ribbons[] = {
    {{103.5f, top},
     {{69, 0.08f}, {149.5f, 0.16f}, {110.4f, 0.26f}, {69, 0.36f}, {138, 0.40f}, {230, 0.32f}},
     {230, top},
     {92, top},
     {230, 0.35f},
     0xB4081E78,
     0x8C0A28A0},
    {{133.4f, top},
     {{96.6f, 0.06f}, {172.5f, 0.12f}, {128.8f, 0.22f}, {87.4f, 0.32f}, {161, 0.34f}, {230, 0.26f}},
     {230, top},
     {115, top},
     {230, 0.30f},
     0xC80F32C8,
     0xB41446E6},
    {{161, top},
     {{126.5f, 0.04f}, {195.5f, 0.08f}, {156.4f, 0.18f}, {115, 0.28f}, {184, 0.28f}, {230, 0.20f}},
     {230, top},
     {149.5f, top},
     {230, 0.22f},
     0xDC1E50F6,
     0xFF2864FF},
    {{-10, 0.72f},
     {{80.5f, 0.66f}, {23, 0.82f}, {103.5f, 0.88f}, {149.5f, 0.92f}, {69, 1.02f}, {-10, belowBottom}},
     {-10, 0.72f},
     {0, 0.70f},
     {92, 1.0f},
     0xA00A238C,
     0xB40F32B4},
    {{-10, 0.80f},
     {{64.4f, 0.74f}, {11.5f, 0.88f}, {80.5f, 0.93f}, {119.6f, 0.96f}, {50.6f, 1.04f}, {-10, belowBottom}},
     {-10, 0.80f},
     {0, 0.78f},
     {80.5f, 1.0f},
     0xC81237D2,
     0xDC1946F0},
    {{-10, 0.87f},
     {{46, 0.82f}, {0, 0.93f}, {57.5f, 0.97f}, {92, 0.99f}, {34.5f, 1.05f}, {-10, belowBottom}},
     {-10, 0.87f},
     {0, 0.85f},
     {69, 1.0f},
     0xE61E50F6,
     0xFF286EFF},
};

void paintRibbon(Graphics& graphics, const Ribbon& ribbon, float height) {
    GraphicsPath path(FillModeAlternate);
    const PointF start = ribbonPoint(ribbon.start.X, ribbon.start.Y, height);
    PointF b[6];
    for (int i = 0; i < 6; ++i)
        b[i] = ribbonPoint(ribbon.bezier[i].X, ribbon.bezier[i].Y, height);
    path.StartFigure();
    path.AddBezier(start, b[0], b[1], b[2]);
    path.AddBezier(b[2], b[3], b[4], b[5]);
    path.AddLine(b[5], ribbonPoint(ribbon.lineTo.X, ribbon.lineTo.Y, height));
    path.CloseFigure();
    LinearGradientBrush brush(ribbonPoint(ribbon.gradientA.X, ribbon.gradientA.Y, height),
                              ribbonPoint(ribbon.gradientB.X, ribbon.gradientB.Y, height),
                              Color(ribbon.colour1), Color(ribbon.colour2));
    brush.SetWrapMode(WrapModeTile);
    graphics.FillPath(&brush, &path);
}

// Through GDI+'s integer overload: LONG coordinates would be ambiguous.
void drawLine(Graphics& graphics, const Pen& pen, int x1, int y1, int x2, int y2) {
    graphics.DrawLine(&pen, x1, y1, x2, y2);
}

void fillRect(Graphics& graphics, const Brush& brush, const RECT& rect) {
    graphics.FillRectangle(&brush, rect.left, rect.top, widthOf(rect), heightOf(rect));
}

// A title-bar button's wash while under the pointer; returns the pen of its glyph.
Pen titleButtonPen(Graphics& graphics, const PageElement& button, ARGB wash, ARGB hoveredGlyph) {
    if (button.states.hovered) {
        SolidBrush brush{Color(wash)};
        fillRect(graphics, brush, button.rect);
    }
    return Pen(Color(button.states.hovered ? hoveredGlyph : 0xA0FFFFFF), 1.2f);
}

// The glyphs are 10 pixels wide, centred in their buttons.
void paintTitleButtons(Graphics& graphics, const PageModel& model) {
    if (const PageElement* close = findElement(model, ElementId::Close)) {
        const Pen cross = titleButtonPen(graphics, *close, 0xFFE81123, 0xFFFFFFFF);
        const POINT c = centreOf(close->rect);
        drawLine(graphics, cross, c.x - 5, c.y - 5, c.x + 5, c.y + 5);
        drawLine(graphics, cross, c.x + 5, c.y - 5, c.x - 5, c.y + 5);
    }
    if (const PageElement* minimize = findElement(model, ElementId::Minimize)) {
        const Pen dash = titleButtonPen(graphics, *minimize, 0x1EFFFFFF, 0xDCFFFFFF);
        const POINT m = centreOf(minimize->rect);
        drawLine(graphics, dash, m.x - 5, m.y, m.x + 5, m.y);
    }
}
} // namespace

void paintSidebar(Graphics& graphics, int height, const RenderResources& resources) {
    const SidePanelLayout layout = sidePanelLayout(height);
    const RECT& panel = layout.panel;
    const GraphicsState saved = graphics.Save();
    graphics.SetClip(asRect(panel), CombineModeReplace);
    LinearGradientBrush background(Point(0, panel.top), Point(0, panel.bottom), Color(0xFF02061E),
                                   Color(0xFF040A2D));
    background.SetWrapMode(WrapModeTile);
    fillRect(graphics, background, panel);

    const float h = static_cast<float>(height);
    for (const Ribbon& ribbon : ribbons)
        paintRibbon(graphics, ribbon, h);

    if (resources.appIcon) {
        graphics.SetInterpolationMode(InterpolationModeHighQualityBicubic);
        graphics.DrawImage(resources.appIcon.get(), asRect(layout.appIcon));
    }
    if (resources.logoPath) {
        Matrix placement;
        placement.Translate(layout.logoLeft, layout.logoBaseline, MatrixOrderPrepend);
        placement.Scale(layout.logoScale, layout.logoScale, MatrixOrderPrepend);
        std::unique_ptr<GraphicsPath> logo(resources.logoPath->Clone());
        if (logo) {
            logo->Transform(&placement);
            SolidBrush white{Color(0xFFFFFFFF)};
            graphics.FillPath(&white, logo.get());
        }
    }
    graphics.Restore(saved);
}

namespace {
void fillBackground(Graphics& graphics, int width, int height) {
    SolidBrush background{Color(static_cast<ARGB>(windowBackground))};
    graphics.FillRectangle(&background, 0, 0, width, height);
}

bool sidebarCacheFits(const RenderResources& resources, int height) {
    const SidebarCache& cache = resources.sidebarCache;
    return cache.bitmap && cache.height == height && cache.logo == resources.logoPath.get() &&
           cache.icon == resources.appIcon.get();
}

// Paints the panel into a bitmap compatible with dc, over the background as a frame has it there,
// so copying it gives the pixels painting it would.
void refreshSidebarCache(HDC dc, int height, RenderResources& resources) {
    resources.sidebarCache = {};
    const int width = widthOf(sidePanelLayout(height).panel);
    const UniqueMemoryDc memory(CreateCompatibleDC(dc));
    UniqueGdiObject bitmap(CreateCompatibleBitmap(dc, width, height));
    if (!memory || !bitmap)
        return;
    HGDIOBJ previous = SelectObject(memory.get(), bitmap.get());
    {
        Graphics graphics(memory.get());
        graphics.SetSmoothingMode(SmoothingModeHighQuality);
        fillBackground(graphics, width, height);
        paintSidebar(graphics, height, resources);
    }
    SelectObject(memory.get(), previous);
    resources.sidebarCache = {std::move(bitmap), height, resources.logoPath.get(), resources.appIcon.get()};
}

bool copyCachedSidebar(Graphics& graphics, int height, RenderResources& resources) {
    HDC dc = graphics.GetHDC();
    if (!dc)
        return false;
    if (!sidebarCacheFits(resources, height))
        refreshSidebarCache(dc, height, resources);
    bool copied = false;
    if (resources.sidebarCache.bitmap) {
        const UniqueMemoryDc source(CreateCompatibleDC(dc));
        HGDIOBJ previous = SelectObject(source.get(), resources.sidebarCache.bitmap.get());
        const RECT panel = sidePanelLayout(height).panel;
        copied =
            BitBlt(dc, panel.left, panel.top, widthOf(panel), heightOf(panel), source.get(), 0, 0, SRCCOPY);
        SelectObject(source.get(), previous);
    }
    graphics.ReleaseHDC(dc);
    return copied;
}
} // namespace

void paintFrame(Graphics& graphics, int width, int height, RenderResources& resources, PanelSource panel) {
    graphics.SetSmoothingMode(SmoothingModeHighQuality);
    graphics.SetTextRenderingHint(TextRenderingHintClearTypeGridFit);
    fillBackground(graphics, width, height);

    FontFamily family(L"Segoe UI");
    // The strings the workers write, copied once so the whole frame shows one state.
    const SharedSnapshot shared = takeSharedSnapshot();
    const PageModel model = currentPageModel(shared, width, height);
    const Layout& layout = model.layout;

    if (panel == PanelSource::Painted || !copyCachedSidebar(graphics, height, resources))
        paintSidebar(graphics, height, resources);
    Pen separator{Color(0xFF2A2D36), 1.0f};
    const RECT& side = layout.sidePanel.panel;
    drawLine(graphics, separator, side.right, side.top, side.right, side.bottom);
    const Font title = makeFont(family, 13, true);
    drawText(graphics, model.title, title, 0xFFF0F0F0, layout.windowTitle);
    const RECT& bar = layout.titleBar;
    drawLine(graphics, separator, bar.left, bar.bottom - 1, bar.right, bar.bottom - 1);
    paintTitleButtons(graphics, model);

    const PageContext page{graphics, family, shared, model};
    switch (model.page) {
    case SetupPage::LanguagePage:
        paintLanguagePage(page);
        break;
    case SetupPage::OptionsPage:
        paintOptionsPage(page);
        break;
    case SetupPage::TermsPage:
        paintTermsPage(page);
        break;
    case SetupPage::ProgressPage:
        paintProgressPage(page);
        break;
    }
    if (model.focusCues)
        if (const PageElement* focused = focusedElement(model))
            drawFocusRing(graphics, focused->rect);
}

void paintBuffered(HDC dc, int width, int height, RenderResources& resources, PanelSource panel) {
    const UniqueMemoryDc memory(CreateCompatibleDC(dc));
    const UniqueGdiObject buffer(CreateCompatibleBitmap(dc, width, height));
    if (!memory || !buffer)
        return;
    HGDIOBJ previous = SelectObject(memory.get(), buffer.get());
    {
        Graphics graphics(memory.get());
        paintFrame(graphics, width, height, resources, panel);
    }
    BitBlt(dc, 0, 0, width, height, memory.get(), 0, 0, SRCCOPY);
    SelectObject(memory.get(), previous);
}

void paintWindow(HWND window, HDC dc, RenderResources& resources) {
    RECT client;
    GetClientRect(window, &client);
    paintBuffered(dc, client.right, client.bottom, resources);
}

GdiplusSession::GdiplusSession() {
    const GdiplusStartupInput input;
    GdiplusStartup(&token_, &input, nullptr);
}

GdiplusSession::~GdiplusSession() {
    if (token_ != 0)
        GdiplusShutdown(token_);
}

RenderResources loadRenderResources(HINSTANCE instance) {
    RenderResources resources;
    resources.logoPath.reset(buildLogoPath());
    HICON icon = static_cast<HICON>(
        LoadImageW(instance, MAKEINTRESOURCEW(appIconResource), IMAGE_ICON, 256, 256, LR_DEFAULTCOLOR));
    if (!icon)
        return resources;
    std::unique_ptr<Bitmap> bitmap(Bitmap::FromHICON(icon));
    if (bitmap && bitmap->GetLastStatus() == Ok)
        resources.appIcon = std::move(bitmap);
    DestroyIcon(icon);
    return resources;
}
