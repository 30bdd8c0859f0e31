#pragma once
// One owner type per Win32 handle kind. The traits name the invalid value and the call that releases it.
#include <windows.h>
#include <utility>

namespace vantorix::win {

template <class Traits>
class unique_handle {
public:
    using pointer = typename Traits::pointer;
    unique_handle() noexcept = default;
    explicit unique_handle(pointer value) noexcept : value_(value) {}
    unique_handle(const unique_handle&) = delete;
    unique_handle& operator=(const unique_handle&) = delete;
    unique_handle(unique_handle&& other) noexcept : value_(other.release()) {}
    unique_handle& operator=(unique_handle&& other) noexcept {
        if (this != &other) reset(other.release());
        return *this;
    }
    ~unique_handle() { reset(); }

    pointer get() const noexcept { return value_; }
    explicit operator bool() const noexcept { return value_ != Traits::invalid(); }
    pointer release() noexcept { return std::exchange(value_, Traits::invalid()); }
    void reset(pointer value = Traits::invalid()) noexcept {
        pointer old = std::exchange(value_, value);
        if (old != Traits::invalid()) Traits::close(old);
    }
    // Fills the owner from an out parameter: CreateSomething(..., handle.put()).
    pointer* put() noexcept {
        reset();
        return &value_;
    }

private:
    pointer value_ = Traits::invalid();
};

struct kernel_handle_traits {  // events, processes, threads: NULL when absent
    using pointer = HANDLE;
    static pointer invalid() noexcept { return nullptr; }
    static void close(pointer h) noexcept { ::CloseHandle(h); }
};
struct file_handle_traits {  // CreateFile and FindFirstFile's kin: INVALID_HANDLE_VALUE when absent
    using pointer = HANDLE;
    static pointer invalid() noexcept { return INVALID_HANDLE_VALUE; }
    static void close(pointer h) noexcept { ::CloseHandle(h); }
};
struct find_handle_traits {
    using pointer = HANDLE;
    static pointer invalid() noexcept { return INVALID_HANDLE_VALUE; }
    static void close(pointer h) noexcept { ::FindClose(h); }
};
struct hkey_traits {
    using pointer = HKEY;
    static pointer invalid() noexcept { return nullptr; }
    static void close(pointer h) noexcept { ::RegCloseKey(h); }
};
struct hmodule_traits {
    using pointer = HMODULE;
    static pointer invalid() noexcept { return nullptr; }
    static void close(pointer h) noexcept { ::FreeLibrary(h); }
};
struct hicon_traits {
    using pointer = HICON;
    static pointer invalid() noexcept { return nullptr; }
    static void close(pointer h) noexcept { ::DestroyIcon(h); }
};
struct hmenu_traits {
    using pointer = HMENU;
    static pointer invalid() noexcept { return nullptr; }
    static void close(pointer h) noexcept { ::DestroyMenu(h); }
};
struct gdi_object_traits {
    using pointer = HGDIOBJ;
    static pointer invalid() noexcept { return nullptr; }
    static void close(pointer h) noexcept { ::DeleteObject(h); }
};
struct memory_dc_traits {
    using pointer = HDC;
    static pointer invalid() noexcept { return nullptr; }
    static void close(pointer h) noexcept { ::DeleteDC(h); }
};
struct hwnd_traits {  // a window this thread made: DestroyWindow (its child windows go with it)
    using pointer = HWND;
    static pointer invalid() noexcept { return nullptr; }
    static void close(pointer h) noexcept { ::DestroyWindow(h); }
};
struct sc_handle_traits {  // the service manager and its services: OpenSCManager, OpenService, CreateService
    using pointer = SC_HANDLE;
    static pointer invalid() noexcept { return nullptr; }
    static void close(pointer h) noexcept { ::CloseServiceHandle(h); }
};
struct local_memory_traits {  // memory the system allocated for the caller with LocalAlloc (security descriptors)
    using pointer = HLOCAL;
    static pointer invalid() noexcept { return nullptr; }
    static void close(pointer h) noexcept { ::LocalFree(h); }
};
struct virtual_block_traits {
    using pointer = void*;
    static pointer invalid() noexcept { return nullptr; }
    static void close(pointer p) noexcept { ::VirtualFree(p, 0, MEM_RELEASE); }
};
struct mapped_view_traits {
    using pointer = void*;
    static pointer invalid() noexcept { return nullptr; }
    static void close(pointer p) noexcept { ::UnmapViewOfFile(p); }
};

using unique_kernel_handle = unique_handle<kernel_handle_traits>;
using unique_hfile = unique_handle<file_handle_traits>;
using unique_find = unique_handle<find_handle_traits>;
using unique_hkey = unique_handle<hkey_traits>;
using unique_hmodule = unique_handle<hmodule_traits>;
using unique_hicon = unique_handle<hicon_traits>;
using unique_hmenu = unique_handle<hmenu_traits>;
using unique_gdi_object = unique_handle<gdi_object_traits>;
using unique_memory_dc = unique_handle<memory_dc_traits>;
using unique_hwnd = unique_handle<hwnd_traits>;
using unique_sc_handle = unique_handle<sc_handle_traits>;
using unique_local_memory = unique_handle<local_memory_traits>;
using unique_virtual_block = unique_handle<virtual_block_traits>;
using unique_mapped_view = unique_handle<mapped_view_traits>;

// A window DC belongs to its window: released with ReleaseDC, so the owner keeps both.
class unique_window_dc {
public:
    unique_window_dc() = default;
    unique_window_dc(HWND window, HDC dc) noexcept : window_(window), dc_(dc) {}
    static unique_window_dc ForWindow(HWND window) noexcept { return {window, ::GetWindowDC(window)}; }
    static unique_window_dc ClientOf(HWND window) noexcept { return {window, ::GetDC(window)}; }
    unique_window_dc(const unique_window_dc&) = delete;
    unique_window_dc& operator=(const unique_window_dc&) = delete;
    unique_window_dc(unique_window_dc&& o) noexcept : window_(o.window_), dc_(std::exchange(o.dc_, nullptr)) {}
    unique_window_dc& operator=(unique_window_dc&& o) noexcept {
        if (this != &o) {
            reset();
            window_ = o.window_;
            dc_ = std::exchange(o.dc_, nullptr);
        }
        return *this;
    }
    ~unique_window_dc() { reset(); }
    HDC get() const noexcept { return dc_; }
    explicit operator bool() const noexcept { return dc_ != nullptr; }
    void reset() noexcept {
        if (dc_) ::ReleaseDC(window_, std::exchange(dc_, nullptr));
    }

private:
    HWND window_ = nullptr;
    HDC dc_ = nullptr;
};

// The DC of one paint cycle: BeginPaint opens it, EndPaint closes it.
class unique_paint_dc {
public:
    explicit unique_paint_dc(HWND window) noexcept : window_(window), dc_(::BeginPaint(window, &paint_)) {}
    unique_paint_dc(const unique_paint_dc&) = delete;
    unique_paint_dc& operator=(const unique_paint_dc&) = delete;
    ~unique_paint_dc() {
        if (dc_) ::EndPaint(window_, &paint_);
    }
    HDC get() const noexcept { return dc_; }
    explicit operator bool() const noexcept { return dc_ != nullptr; }

private:
    HWND window_;
    PAINTSTRUCT paint_{};
    HDC dc_;
};

// A GDI object selected into a DC for as long as the owner lives: the DC's earlier object is put back
// before either is released (declare it after the owners of the DC and the object).
class unique_selection {
public:
    unique_selection() = default;
    unique_selection(HDC dc, HGDIOBJ object) noexcept : dc_(dc), previous_(::SelectObject(dc, object)) {}
    unique_selection(const unique_selection&) = delete;
    unique_selection& operator=(const unique_selection&) = delete;
    unique_selection(unique_selection&& o) noexcept
        : dc_(std::exchange(o.dc_, nullptr)), previous_(std::exchange(o.previous_, nullptr)) {}
    unique_selection& operator=(unique_selection&& o) noexcept {
        if (this != &o) {
            reset();
            dc_ = std::exchange(o.dc_, nullptr);
            previous_ = std::exchange(o.previous_, nullptr);
        }
        return *this;
    }
    ~unique_selection() { reset(); }
    void reset() noexcept {
        if (dc_ && previous_) ::SelectObject(dc_, previous_);
        dc_ = nullptr;
        previous_ = nullptr;
    }

private:
    HDC dc_ = nullptr;
    HGDIOBJ previous_ = nullptr;
};

}  // namespace vantorix::win
