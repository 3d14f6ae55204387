// Client coordinates of the layout where a person would click, shared by the window tests.
#pragma once

#include <windows.h>

inline constexpr POINT closePoint{758, 22};
inline constexpr POINT minimizePoint{714, 22};
inline constexpr POINT nextPoint{674, 460};
inline constexpr POINT backPoint{336, 460};
inline constexpr POINT desktopBoxPoint{274, 221};
inline constexpr POINT startMenuBoxPoint{274, 245};
inline constexpr POINT termsBoxPoint{274, 366};
inline constexpr POINT sidePanelPoint{100, 300}; // nothing clickable: a drag starts here

inline POINT languagePoint(int item) {
    return {505, 134 + 53 * item};
}
