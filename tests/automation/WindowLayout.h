// The main window's layout as its description gives it at 96 dots per inch,
// and the check that a real window shows it at its scale: every size scaled
// on its own and rounded to the nearest pixel, a half up; a height made of
// several sizes is the sum of the scaled ones.
#pragma once
#include <windows.h>
#include <gtest/gtest.h>
#include "Automation.h"

#include <ostream>

// Rectangles compare and print by their edges.
inline bool operator==(const RECT& a, const RECT& b) {
    return a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom;
}
inline std::ostream& operator<<(std::ostream& out, const RECT& r) {
    return out << "{" << r.left << ", " << r.top << ", " << r.right << ", " << r.bottom << "}";
}

namespace vlmtest {

struct DesignRect {
    int Left, Top, Width, Height;
};

struct WindowDesign {
    int ClientWidth;
    DesignRect Abbruch, Weiter;
    bool StatusBelowLog;
    int CompactOuterHeight, RunOuterHeight;  // 0: the client height decides
};

inline const WindowDesign kDirectoryWindow{388, {210, 50, 85, 25}, {296, 50, 85, 25}, false, 0, 0};
inline const WindowDesign kRegisteredWindow{389, {208, 55, 85, 25}, {299, 55, 85, 25}, true, 170, 340};

inline int Px(int design, UINT dpi) { return (design * static_cast<int>(dpi) + 48) / 96; }

constexpr int kStatusHeight = 19, kLogHeight = 180;

// The directory updater's compact client height: button top and height, the
// status line and a 40-pixel margin.
inline int CompactClientHeight(const WindowDesign& d, UINT dpi) {
    return Px(d.Abbruch.Top, dpi) + Px(d.Abbruch.Height, dpi) + Px(kStatusHeight, dpi) + Px(40, dpi);
}

inline RECT Expected(const DesignRect& r, UINT dpi) {
    const int left = Px(r.Left, dpi), top = Px(r.Top, dpi);
    return RECT{left, top, left + Px(r.Width, dpi), top + Px(r.Height, dpi)};
}

// The window's sizes and controls, compact or with the log, at the scale;
// without checkHeight the window's height is left to the caller.
inline void ExpectLayout(HWND main, const WindowDesign& d, UINT dpi, bool withLog, bool checkHeight = true) {
    SCOPED_TRACE(withLog ? "with the log" : "compact");
    const SIZE client = ClientSize(main);
    EXPECT_EQ(client.cx, Px(d.ClientWidth, dpi));
    if (!checkHeight) {
    } else if (d.CompactOuterHeight) {
        EXPECT_EQ(OuterSize(main).cy, Px(withLog ? d.RunOuterHeight : d.CompactOuterHeight, dpi));
    } else {
        EXPECT_EQ(client.cy, CompactClientHeight(d, dpi) + (withLog ? Px(kLogHeight, dpi) : 0));
    }
    EXPECT_EQ(RectInClient(main, ButtonOf(main, L"Abbruch")), Expected(d.Abbruch, dpi));
    EXPECT_EQ(RectInClient(main, ButtonOf(main, L"Weiter")), Expected(d.Weiter, dpi));
    EXPECT_EQ(LogVisible(main), withLog);
    const int status = Px(kStatusHeight, dpi), log = withLog ? Px(kLogHeight, dpi) : 0;
    const int statusTop = d.StatusBelowLog ? client.cy - status : client.cy - log - status;
    EXPECT_EQ(RectInClient(main, ChildOfClass(main, L"msctls_statusbar32")),
              (RECT{0, statusTop, client.cx, statusTop + status}));
    if (withLog) {
        const int logTop = d.StatusBelowLog ? client.cy - status - log : client.cy - log;
        EXPECT_EQ(RectInClient(main, ChildOfClass(main, L"RICHEDIT50W")), (RECT{0, logTop, client.cx, logTop + log}));
    }
}

}  // namespace vlmtest
