#pragma once

#include <windows.h>

// Owns one Win32 handle and releases it on every way out of the scope that
// acquired it. Each handle family names its type, its "no handle" value and
// its release call once, in a traits struct below.
template <typename Traits>
class TScopedHandle {
public:
    using T = typename Traits::Type;

    TScopedHandle() = default;
    explicit TScopedHandle(T handle) : handle_(handle) {}
    ~TScopedHandle() { Reset(); }

    TScopedHandle(const TScopedHandle&) = delete;
    TScopedHandle& operator=(const TScopedHandle&) = delete;

    T Get() const { return handle_; }
    bool Valid() const { return handle_ != Traits::Invalid(); }
    // For calls that return the handle through an out parameter.
    T* Receive()
    {
        Reset();
        return &handle_;
    }
    // Gives the handle up without releasing it.
    T Release()
    {
        const T handle = handle_;
        handle_ = Traits::Invalid();
        return handle;
    }
    void Reset(T handle = Traits::Invalid())
    {
        if (Valid()) {
            Traits::Close(handle_);
        }
        handle_ = handle;
    }

private:
    T handle_ = Traits::Invalid();
};

struct TRegKeyTraits {
    using Type = HKEY;
    static HKEY Invalid() { return nullptr; }
    static void Close(HKEY key) { RegCloseKey(key); }
};
struct TFindTraits {
    using Type = HANDLE;
    static HANDLE Invalid() { return INVALID_HANDLE_VALUE; }
    static void Close(HANDLE find) { FindClose(find); }
};
struct TFileTraits {
    using Type = HANDLE;
    static HANDLE Invalid() { return INVALID_HANDLE_VALUE; }
    static void Close(HANDLE file) { CloseHandle(file); }
};
struct TChangeTraits {
    using Type = HANDLE;
    static HANDLE Invalid() { return INVALID_HANDLE_VALUE; }
    static void Close(HANDLE change) { FindCloseChangeNotification(change); }
};
struct TKernelTraits {
    using Type = HANDLE;
    static HANDLE Invalid() { return nullptr; }
    static void Close(HANDLE handle) { CloseHandle(handle); }
};
struct THookTraits {
    using Type = HHOOK;
    static HHOOK Invalid() { return nullptr; }
    static void Close(HHOOK hook) { UnhookWindowsHookEx(hook); }
};
struct TMenuTraits {
    using Type = HMENU;
    static HMENU Invalid() { return nullptr; }
    static void Close(HMENU menu) { DestroyMenu(menu); }
};
struct TServiceTraits {
    using Type = SC_HANDLE;
    static SC_HANDLE Invalid() { return nullptr; }
    static void Close(SC_HANDLE service) { CloseServiceHandle(service); }
};
// A COM object, released.
template <typename I>
struct TComTraits {
    using Type = I*;
    static I* Invalid() { return nullptr; }
    static void Close(I* object) { object->Release(); }
};
struct TFontTraits {
    using Type = HFONT;
    static HFONT Invalid() { return nullptr; }
    static void Close(HFONT font) { DeleteObject(font); }
};
struct TIconTraits {
    using Type = HICON;
    static HICON Invalid() { return nullptr; }
    static void Close(HICON icon) { DestroyIcon(icon); }
};

struct TAcceleratorTraits {
    using Type = HACCEL;
    static HACCEL Invalid() { return nullptr; }
    static void Close(HACCEL table) { DestroyAcceleratorTable(table); }
};

using TRegKey = TScopedHandle<TRegKeyTraits>;
using TFindHandle = TScopedHandle<TFindTraits>;
using TFileHandle = TScopedHandle<TFileTraits>;
using TKernelHandle = TScopedHandle<TKernelTraits>;
using TChangeHandle = TScopedHandle<TChangeTraits>;
using THookHandle = TScopedHandle<THookTraits>;
using TMenuHandle = TScopedHandle<TMenuTraits>;
using TFontHandle = TScopedHandle<TFontTraits>;
using TServiceHandle = TScopedHandle<TServiceTraits>;
using TIconHandle = TScopedHandle<TIconTraits>;
using TAcceleratorHandle = TScopedHandle<TAcceleratorTraits>;

// A window DC must be released against the window it came from.
class TWindowDC {
public:
    explicit TWindowDC(HWND wnd) : wnd_(wnd), dc_(GetWindowDC(wnd)) {}
    ~TWindowDC()
    {
        if (dc_ != nullptr) {
            ReleaseDC(wnd_, dc_);
        }
    }
    TWindowDC(const TWindowDC&) = delete;
    TWindowDC& operator=(const TWindowDC&) = delete;

    HDC Get() const { return dc_; }

private:
    HWND wnd_;
    HDC dc_;
};
