// Move-only owners of GDI handles and device contexts, one traits type per kind. Each owner counts
// the handles it holds alive, so tests can show that windows give back everything they took
// (GetGuiResources is not available everywhere).
#pragma once

#include <windows.h>

#include <atomic>
#include <utility>

namespace kwrt {

// Live handles held by the owners below, by kind.
struct GdiHandleCounts {
    long objects = 0;  // bitmaps, regions, fonts, brushes
    long memoryDcs = 0;
    long windowDcs = 0;
};
GdiHandleCounts LiveGdiHandles();

namespace gdi_detail {
extern std::atomic<long> g_liveObjects;
extern std::atomic<long> g_liveMemoryDcs;
extern std::atomic<long> g_liveWindowDcs;
}  // namespace gdi_detail

// A GDI object (HBITMAP, HRGN, HFONT, HBRUSH) deleted with DeleteObject.
template <typename T>
class ScopedGdiObject {
  public:
    ScopedGdiObject() = default;
    explicit ScopedGdiObject(T handle) { Reset(handle); }
    ~ScopedGdiObject() { Reset(nullptr); }
    // A move hands the handle over; the count of live handles stays.
    ScopedGdiObject(ScopedGdiObject&& other) noexcept : m_handle(other.m_handle) {
        other.m_handle = nullptr;
    }
    ScopedGdiObject& operator=(ScopedGdiObject&& other) noexcept {
        if (this != &other) {
            Reset(nullptr);
            m_handle = other.m_handle;
            other.m_handle = nullptr;
        }
        return *this;
    }
    ScopedGdiObject(const ScopedGdiObject&) = delete;
    ScopedGdiObject& operator=(const ScopedGdiObject&) = delete;

    void Reset(T handle) {
        if (m_handle) {
            DeleteObject(m_handle);
            --gdi_detail::g_liveObjects;
        }
        m_handle = handle;
        if (m_handle) {
            ++gdi_detail::g_liveObjects;
        }
    }
    // Gives up ownership, for a call that takes the handle over (SetWindowRgn).
    T Release() {
        T handle = m_handle;
        if (handle) {
            --gdi_detail::g_liveObjects;
        }
        m_handle = nullptr;
        return handle;
    }
    T Get() const { return m_handle; }
    explicit operator bool() const { return m_handle != nullptr; }

  private:
    T m_handle = nullptr;
};

using ScopedBitmap = ScopedGdiObject<HBITMAP>;
using ScopedRegion = ScopedGdiObject<HRGN>;

// A memory device context from CreateCompatibleDC, deleted with DeleteDC.
class ScopedMemoryDC {
  public:
    explicit ScopedMemoryDC(HDC compatibleWith);
    ~ScopedMemoryDC();
    ScopedMemoryDC(const ScopedMemoryDC&) = delete;
    ScopedMemoryDC& operator=(const ScopedMemoryDC&) = delete;
    HDC Get() const { return m_hdc; }

  private:
    HDC m_hdc;
};

// A window's device context from GetDC (a null window: the screen), given back with ReleaseDC.
class ScopedGetDC {
  public:
    explicit ScopedGetDC(HWND window);
    ~ScopedGetDC();
    ScopedGetDC(const ScopedGetDC&) = delete;
    ScopedGetDC& operator=(const ScopedGetDC&) = delete;
    HDC Get() const { return m_hdc; }

  private:
    HWND m_hWnd;
    HDC m_hdc;
};

// An object selected into a device context, and the previous one selected back at the end.
class ScopedSelectObject {
  public:
    ScopedSelectObject(HDC hdc, HGDIOBJ object) : m_hdc(hdc), m_old(SelectObject(hdc, object)) {}
    ~ScopedSelectObject() {
        if (m_old) {
            SelectObject(m_hdc, m_old);
        }
    }
    ScopedSelectObject(const ScopedSelectObject&) = delete;
    ScopedSelectObject& operator=(const ScopedSelectObject&) = delete;

  private:
    HDC m_hdc;
    HGDIOBJ m_old;
};

// BeginPaint and EndPaint around one WM_PAINT.
class PaintDC {
  public:
    explicit PaintDC(HWND window) : m_hWnd(window) { m_hdc = BeginPaint(window, &m_ps); }
    ~PaintDC() { EndPaint(m_hWnd, &m_ps); }
    PaintDC(const PaintDC&) = delete;
    PaintDC& operator=(const PaintDC&) = delete;
    HDC Get() const { return m_hdc; }
    const RECT& PaintRect() const { return m_ps.rcPaint; }

  private:
    HWND m_hWnd;
    PAINTSTRUCT m_ps{};
    HDC m_hdc;
};

}  // namespace kwrt
