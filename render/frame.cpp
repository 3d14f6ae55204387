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

// A title-bar button's wash while under the pointer (look: its fill and glyph then); returns the
// pen of its glyph.
Pen titleButtonPen(Graphics& graphics, const PageElement& button, const ButtonLook& look, ARGB glyph,
                   float scale) {
    if (button.states.hovered) {
        SolidBrush brush{Color(look.hoverFill)};
        fillRect(graphics, brush, button.rect);
    }
    return Pen(Color(button.states.hovered ? look.text : glyph), 1.2f * scale);
}

void drawLine(Graphics& graphics, const Pen& pen, POINT centre, float x1, float y1, float x2, float y2) {
    const auto x = static_cast<REAL>(centre.x);
    const auto y = static_cast<REAL>(centre.y);
    graphics.DrawLine(&pen, x + x1, y + y1, x + x2, y + y2);
}

// The glyphs are 10 units wide, centred in their buttons.
void paintTitleButtons(Graphics& graphics, const PageModel& model, const Palette& palette) {
    const float scale = model.layout.scale;
    const float d = 5.0f * scale;
    if (const PageElement* close = findElement(model, ElementId::Close)) {
        const Pen cross = titleButtonPen(graphics, *close, palette.close, palette.glyph, scale);
        const POINT c = centreOf(close->rect);
        drawLine(graphics, cross, c, -d, -d, d, d);
        drawLine(graphics, cross, c, d, -d, -d, d);
    }
    if (const PageElement* minimize = findElement(model, ElementId::Minimize)) {
        const Pen dash = titleButtonPen(graphics, *minimize, palette.minimize, palette.glyph, scale);
        drawLine(graphics, dash, centreOf(minimize->rect), -d, 0, d, 0);
    }
}
} // namespace

void paintSidebar(Graphics& graphics, int height, float scale, const RenderResources& resources) {
    const Palette& palette = resources.palette;
    const SidePanelLayout layout = sidePanelLayout(height, scale);
    const RECT& panel = layout.panel;
    const GraphicsState saved = graphics.Save();
    graphics.SetClip(asRect(panel), CombineModeReplace);
    if (palette.highContrast) {
        // No gradient and no ribbons: the panel is the window's colour with the logo on it.
        SolidBrush background{Color(palette.panelTop)};
        fillRect(graphics, background, panel);
    } else {
        LinearGradientBrush background(Point(0, panel.top), Point(0, panel.bottom), Color(palette.panelTop),
                                       Color(palette.panelBottom));
        background.SetWrapMode(WrapModeTile);
        fillRect(graphics, background, panel);
        // The ribbons are drawn in logical units.
        if (scale != 1.0f)
            graphics.ScaleTransform(scale, scale);
        const float h = static_cast<float>(height) / scale;
        for (const Ribbon& ribbon : ribbons)
            paintRibbon(graphics, ribbon, h);
        graphics.ResetTransform();
    }

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
            SolidBrush ink{Color(palette.logo)};
            graphics.FillPath(&ink, logo.get());
        }
    }
    graphics.Restore(saved);
}

namespace {
void fillBackground(Graphics& graphics, int width, int height, const Palette& palette) {
    SolidBrush background{Color(palette.background)};
    graphics.FillRectangle(&background, 0, 0, width, height);
}

bool sidebarCacheFits(const RenderResources& resources, int height, float scale) {
    const SidebarCache& cache = resources.sidebarCache;
    return cache.bitmap && cache.height == height && cache.scale == scale &&
           cache.background == resources.palette.background && cache.logoColour == resources.palette.logo &&
           cache.logo == resources.logoPath.get() && cache.icon == resources.appIcon.get();
}

// Paints the panel into a bitmap compatible with dc, over the background as a frame has it there,
// so copying it gives the pixels painting it would.
void refreshSidebarCache(HDC dc, int height, float scale, RenderResources& resources) {
    resources.sidebarCache = {};
    const int width = widthOf(sidePanelLayout(height, scale).panel);
    const UniqueMemoryDc memory(CreateCompatibleDC(dc));
    UniqueGdiObject bitmap(CreateCompatibleBitmap(dc, width, height));
    if (!memory || !bitmap)
        return;
    HGDIOBJ previous = SelectObject(memory.get(), bitmap.get());
    {
        Graphics graphics(memory.get());
        graphics.SetSmoothingMode(SmoothingModeHighQuality);
        fillBackground(graphics, width, height, resources.palette);
        paintSidebar(graphics, height, scale, resources);
    }
    SelectObject(memory.get(), previous);
    resources.sidebarCache = {std::move(bitmap),
                              height,
                              scale,
                              resources.palette.background,
                              resources.palette.logo,
                              resources.logoPath.get(),
                              resources.appIcon.get()};
}

bool copyCachedSidebar(Graphics& graphics, int height, float scale, RenderResources& resources) {
    HDC dc = graphics.GetHDC();
    if (!dc)
        return false;
    if (!sidebarCacheFits(resources, height, scale))
        refreshSidebarCache(dc, height, scale, resources);
    bool copied = false;
    if (resources.sidebarCache.bitmap) {
        const UniqueMemoryDc source(CreateCompatibleDC(dc));
        HGDIOBJ previous = SelectObject(source.get(), resources.sidebarCache.bitmap.get());
        const RECT panel = sidePanelLayout(height, scale).panel;
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
    const Palette& palette = resources.palette;
    fillBackground(graphics, width, height, palette);

    FontFamily family(L"Segoe UI");
    // The strings the workers write, copied once so the whole frame shows one state.
    const SharedSnapshot shared = takeSharedSnapshot();
    const PageModel model = currentPageModel(shared, width, height);
    const Layout& layout = model.layout;
    const float scale = layout.scale;

    if (panel == PanelSource::Painted || !copyCachedSidebar(graphics, height, scale, resources))
        paintSidebar(graphics, height, scale, resources);
    Pen separator{Color(palette.line), lineWidth(scale)};
    const RECT& side = layout.sidePanel.panel;
    drawLine(graphics, separator, side.right, side.top, side.right, side.bottom);
    const Font title = makeFont(family, 13, true, scale);
    drawText(graphics, model.title, title, palette.brightText, layout.windowTitle);
    const RECT& bar = layout.titleBar;
    drawLine(graphics, separator, bar.left, bar.bottom - 1, bar.right, bar.bottom - 1);
    paintTitleButtons(graphics, model, palette);

    const PageContext page{graphics, family, shared, model, palette};
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
            drawFocusRing(graphics, focused->rect, palette.focusRing, scale);
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
    resources.palette = systemPalette();
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
