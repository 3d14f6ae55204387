#include "render/logo.h"
Gdiplus::GraphicsPath* buildLogoPath() {
    return new Gdiplus::GraphicsPath(Gdiplus::FillModeAlternate);
}
