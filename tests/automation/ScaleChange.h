// The real window told that its monitor's scale changed, as the platform tells
// a window moved to a monitor of another scale, with a suggested rectangle;
// and what the window shows at a scale, read in its own process.
#pragma once
#include <windows.h>
#include <commctrl.h>
#include <gtest/gtest.h>
#include "Haupt.h"
#include "WindowLayout.h"

namespace vlmtest {

// The platform suggests the window's rectangle scaled about its top left, here
// moved a little as well. A change sent in-process leaves the frame as it is,
// so the suggested width is the frame and the design's client width at the
// new scale, which the layout is checked against.
inline RECT SuggestedRect(HWND main, const WindowDesign& d, UINT from, UINT to) {
    RECT outer;
    ::GetWindowRect(main, &outer);
    const int frameWidth = (outer.right - outer.left) - ClientSize(main).cx;
    const int left = outer.left + 20, top = outer.top + 10;
    return RECT{left, top, left + Px(d.ClientWidth, to) + frameWidth,
                top + ::MulDiv(outer.bottom - outer.top, static_cast<int>(to), static_cast<int>(from))};
}

inline int FontPixels(HWND control) {
    LOGFONTW font{};
    const auto handle = reinterpret_cast<HGDIOBJ>(::SendMessageW(control, WM_GETFONT, 0, 0));
    return ::GetObjectW(handle, sizeof(font), &font) ? -font.lfHeight : 0;
}

inline int GlyphPixels(HIMAGELIST images) {
    int cx = 0, cy = 0;
    ::ImageList_GetIconSize(images, &cx, &cy);
    return cx == cy ? cx : -1;
}

// Fonts and glyphs at the scale: the strip drawn for it (16, 20, 24 or 32
// pixels) on each button, with the glyph's right margin.
inline void ExpectFontsAndGlyphs(const TFHaupt& f, UINT dpi, int glyph) {
    EXPECT_EQ(FontPixels(f.SBStatus), Px(11, dpi));
    // The log answers in twips, converted at its process's system dpi.
    const int systemDpi = ::GetDeviceCaps(WindowDC(nullptr).get(), LOGPIXELSY);
    EXPECT_EQ(LogFontPixels(f.Handle, static_cast<UINT>(systemDpi)), Px(11, dpi));
    EXPECT_EQ(FontPixels(f.BtAbbruch), Px(13, dpi));
    EXPECT_EQ(FontPixels(f.BtWeiter), Px(13, dpi));
    EXPECT_EQ(GlyphPixels(f.ILButton.get()), glyph);
    EXPECT_EQ(::ImageList_GetImageCount(f.ILButton.get()), 3);
    for (HWND button : {f.BtAbbruch, f.BtWeiter}) {
        BUTTON_IMAGELIST attached{};
        ::SendMessageW(button, BCM_GETIMAGELIST, 0, reinterpret_cast<LPARAM>(&attached));
        EXPECT_EQ(GlyphPixels(attached.himl), glyph);
        EXPECT_EQ(attached.margin.right, Px(4, dpi));
    }
    int parts[2]{};
    EXPECT_EQ(::SendMessageW(f.SBStatus, SB_GETPARTS, 2, reinterpret_cast<LPARAM>(parts)), 1);
    EXPECT_EQ(parts[0], Px(380, dpi));
}

// Moves the window through the common scales and back to 96, each change
// checked: the suggested place, the layout it shows, fonts and glyphs, and
// the log's text and the focus as they were. Where the directory updater's
// window shows the log the user may have resized it: it keeps the suggested
// height.
inline void ExpectEveryScale(TFHaupt& f, const WindowDesign& d, bool withLog) {
    struct Scale {
        UINT Dpi;
        int Glyph;
    };
    const Scale scales[] = {{120, 20}, {144, 24}, {192, 32}, {96, 16}};
    const std::vector<std::wstring> log = LogLines(f.Handle);
    const HWND focus = ::GetFocus();
    ASSERT_TRUE(focus);
    UINT from = f.Dpi();
    for (const Scale& s : scales) {
        SCOPED_TRACE(testing::Message() << "to " << s.Dpi << " dpi");
        const RECT suggested = SuggestedRect(f.Handle, d, from, s.Dpi);
        ::SendMessageW(f.Handle, WM_DPICHANGED, MAKEWPARAM(s.Dpi, s.Dpi), reinterpret_cast<LPARAM>(&suggested));
        from = s.Dpi;
        EXPECT_EQ(f.Dpi(), s.Dpi);
        RECT outer;
        ::GetWindowRect(f.Handle, &outer);
        EXPECT_EQ(outer.left, suggested.left);
        EXPECT_EQ(outer.top, suggested.top);
        EXPECT_EQ(outer.right, suggested.right);
        const bool suggestedHeight = withLog && !d.RunOuterHeight;
        if (suggestedHeight) {
            EXPECT_EQ(outer.bottom, suggested.bottom);
        }
        ExpectLayout(f.Handle, d, s.Dpi, withLog, !suggestedHeight);
        ExpectFontsAndGlyphs(f, s.Dpi, s.Glyph);
        // What a run started or started again now builds on.
        if (!d.CompactOuterHeight) {
            EXPECT_EQ(f.CompactClientHeight(), CompactClientHeight(d, s.Dpi));
        }
        EXPECT_EQ(LogLines(f.Handle), log);
        EXPECT_EQ(::GetFocus(), focus);
    }
}

}  // namespace vlmtest
