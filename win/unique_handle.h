#pragma once
// One owner type per Win32 handle kind. The traits name the invalid value and the call that releases it.
#include <windows.h>
#include <objbase.h>

#include <cstdint>
#include <utility>

namespace vantorix::win {

// unique_any<Pointer, Close, Invalid>: owns one value of a handle kind. `Close` is the function that
// releases it (a plain function of ours, so that calls needing more than the handle, such as VirtualFree, and
// imported functions, whose address is not a constant, fit the same shape); `Invalid` is the value that means
// "none", as an integer because INVALID_HANDLE_VALUE is not a constant a template can take.
template <class Pointer, void (*Close)(Pointer) noexcept, std::intptr_t Invalid = 0>
class unique_any {
public:
    using pointer = Pointer;
    static pointer invalid() noexcept { return reinterpret_cast<pointer>(Invalid); }

    unique_any() noexcept = default;
    explicit unique_any(pointer value) noexcept : value_(value) {}
    unique_any(const unique_any&) = delete;
    unique_any& operator=(const unique_any&) = delete;
    unique_any(unique_any&& other) noexcept : value_(other.release()) {}
    unique_any& operator=(unique_any&& other) noexcept {
        if (this != &other) reset(other.release());
        return *this;
    }
    ~unique_any() { reset(); }

    pointer get() const noexcept { return value_; }
    explicit operator bool() const noexcept { return value_ != invalid(); }
    pointer release() noexcept { return std::exchange(value_, invalid()); }
    void reset(pointer value = invalid()) noexcept {
        pointer old = std::exchange(value_, value);
        if (old != invalid()) Close(old);
    }
    // Fills the owner from an out parameter: CreateSomething(..., handle.put()).
    pointer* put() noexcept {
        reset();
        return &value_;
    }

private:
    pointer value_ = invalid();
};

// The release calls, one line each.
namespace close {
inline void kernel_handle(HANDLE h) noexcept { ::CloseHandle(h); }
inline void find(HANDLE h) noexcept { ::FindClose(h); }
inline void hkey(HKEY h) noexcept { ::RegCloseKey(h); }
inline void hmodule(HMODULE h) noexcept { ::FreeLibrary(h); }
inline void hicon(HICON h) noexcept { ::DestroyIcon(h); }
inline void hmenu(HMENU h) noexcept { ::DestroyMenu(h); }
inline void gdi_object(HGDIOBJ h) noexcept { ::DeleteObject(h); }
inline void memory_dc(HDC h) noexcept { ::DeleteDC(h); }
inline void hwnd(HWND h) noexcept { ::DestroyWindow(h); }
inline void virtual_block(void* p) noexcept { ::VirtualFree(p, 0, MEM_RELEASE); }
inline void mapped_view(void* p) noexcept { ::UnmapViewOfFile(p); }
template <class T>
void local_memory(T* p) noexcept { ::LocalFree(p); }
template <class T>
void cotaskmem(T* p) noexcept { ::CoTaskMemFree(p); }
}  // namespace close

constexpr std::intptr_t kInvalidHandleValue = -1;  // INVALID_HANDLE_VALUE

using unique_kernel_handle = unique_any<HANDLE, close::kernel_handle>;  // events, processes, threads: NULL when absent
using unique_hfile = unique_any<HANDLE, close::kernel_handle, kInvalidHandleValue>;  // CreateFile's kin
using unique_find = unique_any<HANDLE, close::find, kInvalidHandleValue>;
using unique_hkey = unique_any<HKEY, close::hkey>;
using unique_hmodule = unique_any<HMODULE, close::hmodule>;
using unique_hicon = unique_any<HICON, close::hicon>;
using unique_hmenu = unique_any<HMENU, close::hmenu>;
using unique_gdi_object = unique_any<HGDIOBJ, close::gdi_object>;
using unique_memory_dc = unique_any<HDC, close::memory_dc>;
using unique_hwnd = unique_any<HWND, close::hwnd>;  // a window this thread made (its child windows go with it)
using unique_virtual_block = unique_any<void*, close::virtual_block>;
using unique_mapped_view = unique_any<void*, close::mapped_view>;
// Memory the system hands out for the caller to free: LocalAlloc'd (FormatMessage, CommandLineToArgvW, the
// security descriptor and SID conversions) and CoTaskMemAlloc'd (known folders, COM out strings).
template <class T = void>
using unique_hlocal = unique_any<T*, close::local_memory<T>>;
template <class T = void>
using unique_cotaskmem = unique_any<T*, close::cotaskmem<T>>;
using unique_local_memory = unique_hlocal<>;  // HLOCAL as LocalAlloc hands it out
namespace close {
inline void sc_handle(SC_HANDLE h) noexcept { ::CloseServiceHandle(h); }
}  // namespace close
using unique_sc_handle = unique_any<SC_HANDLE, close::sc_handle>;  // the service manager and its services

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
