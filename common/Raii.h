// Small owners for Win32 resources: each releases what it holds on every path.
#pragma once
#include <windows.h>
#include <commctrl.h>
#include <type_traits>
#include <utility>

template <typename T, typename Traits>
class UniqueResource {
public:
    UniqueResource() noexcept = default;
    explicit UniqueResource(T value) noexcept : value_(value) {}
    UniqueResource(const UniqueResource&) = delete;
    UniqueResource& operator=(const UniqueResource&) = delete;
    UniqueResource(UniqueResource&& other) noexcept : value_(other.release()) {}
    UniqueResource& operator=(UniqueResource&& other) noexcept {
        if (this != &other) reset(other.release());
        return *this;
    }
    ~UniqueResource() { reset(); }

    T get() const noexcept { return value_; }
    T* put() noexcept {
        reset();
        return &value_;
    }
    explicit operator bool() const noexcept { return Traits::valid(value_); }
    T release() noexcept { return std::exchange(value_, Traits::invalid()); }
    void reset(T value = Traits::invalid()) noexcept {
        T old = std::exchange(value_, value);
        if (Traits::valid(old)) Traits::close(old);
    }

private:
    T value_ = Traits::invalid();
};

struct FileHandleTraits {
    static HANDLE invalid() noexcept { return INVALID_HANDLE_VALUE; }
    static bool valid(HANDLE h) noexcept { return h != INVALID_HANDLE_VALUE && h != nullptr; }
    static void close(HANDLE h) noexcept { ::CloseHandle(h); }
};
struct HandleTraits {
    static HANDLE invalid() noexcept { return nullptr; }
    static bool valid(HANDLE h) noexcept { return h != nullptr && h != INVALID_HANDLE_VALUE; }
    static void close(HANDLE h) noexcept { ::CloseHandle(h); }
};
struct RegKeyTraits {
    static HKEY invalid() noexcept { return nullptr; }
    static bool valid(HKEY h) noexcept { return h != nullptr; }
    static void close(HKEY h) noexcept { ::RegCloseKey(h); }
};
struct FindHandleTraits {
    static HANDLE invalid() noexcept { return INVALID_HANDLE_VALUE; }
    static bool valid(HANDLE h) noexcept { return h != INVALID_HANDLE_VALUE; }
    static void close(HANDLE h) noexcept { ::FindClose(h); }
};
struct GdiObjectTraits {
    static HGDIOBJ invalid() noexcept { return nullptr; }
    static bool valid(HGDIOBJ h) noexcept { return h != nullptr; }
    static void close(HGDIOBJ h) noexcept { ::DeleteObject(h); }
};
struct IconTraits {
    static HICON invalid() noexcept { return nullptr; }
    static bool valid(HICON h) noexcept { return h != nullptr; }
    static void close(HICON h) noexcept { ::DestroyIcon(h); }
};
struct ImageListTraits {
    static HIMAGELIST invalid() noexcept { return nullptr; }
    static bool valid(HIMAGELIST h) noexcept { return h != nullptr; }
    static void close(HIMAGELIST h) noexcept { ::ImageList_Destroy(h); }
};
struct ModuleTraits {
    static HMODULE invalid() noexcept { return nullptr; }
    static bool valid(HMODULE h) noexcept { return h != nullptr; }
    static void close(HMODULE h) noexcept { ::FreeLibrary(h); }
};

using unique_hfile = UniqueResource<HANDLE, FileHandleTraits>;
using unique_handle = UniqueResource<HANDLE, HandleTraits>;
using unique_hkey = UniqueResource<HKEY, RegKeyTraits>;
using unique_hfind = UniqueResource<HANDLE, FindHandleTraits>;
using unique_hgdiobj = UniqueResource<HGDIOBJ, GdiObjectTraits>;
using unique_hicon = UniqueResource<HICON, IconTraits>;
using unique_himagelist = UniqueResource<HIMAGELIST, ImageListTraits>;
using unique_hmodule = UniqueResource<HMODULE, ModuleTraits>;

// A window's device context, released when it goes.
class WindowDC {
public:
    explicit WindowDC(HWND window) : window_(window), dc_(::GetDC(window)) {}
    WindowDC(const WindowDC&) = delete;
    WindowDC& operator=(const WindowDC&) = delete;
    ~WindowDC() { ::ReleaseDC(window_, dc_); }
    HDC get() const { return dc_; }

private:
    HWND window_;
    HDC dc_;
};

// Sets the application-wide cursor and puts the previous one back when it goes.
class CursorChange {
public:
    explicit CursorChange(LPCWSTR cursor) : previous_(::SetCursor(::LoadCursorW(nullptr, cursor))) {}
    CursorChange(const CursorChange&) = delete;
    CursorChange& operator=(const CursorChange&) = delete;
    ~CursorChange() { ::SetCursor(previous_); }

private:
    HCURSOR previous_;
};

// Runs a callable when it goes, on every way out of the scope, unless it was
// released first: the cleanup of a step that only a complete success keeps
// from running. The callable must not throw.
template <typename F>
class scope_exit {
public:
    explicit scope_exit(F f) noexcept(std::is_nothrow_move_constructible_v<F>) : f_(std::move(f)) {}
    scope_exit(scope_exit&& other) noexcept(std::is_nothrow_move_constructible_v<F>)
        : f_(std::move(other.f_)), active_(std::exchange(other.active_, false)) {}
    scope_exit(const scope_exit&) = delete;
    scope_exit& operator=(const scope_exit&) = delete;
    scope_exit& operator=(scope_exit&&) = delete;
    ~scope_exit() {
        if (active_) f_();
    }
    void release() noexcept { active_ = false; }

private:
    F f_;
    bool active_ = true;
};
