// Small owners for Win32 resources: each releases what it holds on every path.
#pragma once
#include <windows.h>
#include <commctrl.h>
#include <type_traits>
#include <utility>

// What an owner holds while it owns nothing. Either way, neither null nor
// INVALID_HANDLE_VALUE is ever closed: the platform gives one or the other on
// failure, depending on the function.
enum class Empty { Null, InvalidHandle };

// One owner for every Win32 handle type: Close releases it.
template <typename T, auto Close, Empty E = Empty::Null>
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
    explicit operator bool() const noexcept { return Valid(value_); }
    T release() noexcept { return std::exchange(value_, Invalid()); }
    void reset(T value = Invalid()) noexcept {
        T old = std::exchange(value_, value);
        if (Valid(old)) Close(old);
    }

private:
    static T Invalid() noexcept { return E == Empty::Null ? T{} : reinterpret_cast<T>(INVALID_HANDLE_VALUE); }
    static bool Valid(T value) noexcept { return value != T{} && value != reinterpret_cast<T>(INVALID_HANDLE_VALUE); }

    T value_ = Invalid();
};

using unique_hfile = UniqueResource<HANDLE, &::CloseHandle, Empty::InvalidHandle>;
using unique_handle = UniqueResource<HANDLE, &::CloseHandle>;
using unique_hkey = UniqueResource<HKEY, &::RegCloseKey>;
using unique_hfind = UniqueResource<HANDLE, &::FindClose, Empty::InvalidHandle>;
using unique_hgdiobj = UniqueResource<HGDIOBJ, &::DeleteObject>;
using unique_hicon = UniqueResource<HICON, &::DestroyIcon>;
using unique_himagelist = UniqueResource<HIMAGELIST, &::ImageList_Destroy>;
using unique_hmodule = UniqueResource<HMODULE, &::FreeLibrary>;

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
