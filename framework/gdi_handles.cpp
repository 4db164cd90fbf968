#include "framework/gdi_handles.h"

namespace kwrt {

namespace gdi_detail {
std::atomic<long> g_liveObjects{0};
std::atomic<long> g_liveMemoryDcs{0};
std::atomic<long> g_liveWindowDcs{0};
}  // namespace gdi_detail

GdiHandleCounts LiveGdiHandles() {
    return GdiHandleCounts{gdi_detail::g_liveObjects.load(), gdi_detail::g_liveMemoryDcs.load(),
                           gdi_detail::g_liveWindowDcs.load()};
}

ScopedMemoryDC::ScopedMemoryDC(HDC compatibleWith) : m_hdc(CreateCompatibleDC(compatibleWith)) {
    if (m_hdc) {
        ++gdi_detail::g_liveMemoryDcs;
    }
}

ScopedMemoryDC::~ScopedMemoryDC() {
    if (m_hdc) {
        DeleteDC(m_hdc);
        --gdi_detail::g_liveMemoryDcs;
    }
}

ScopedGetDC::ScopedGetDC(HWND window) : m_hWnd(window), m_hdc(GetDC(window)) {
    if (m_hdc) {
        ++gdi_detail::g_liveWindowDcs;
    }
}

ScopedGetDC::~ScopedGetDC() {
    if (m_hdc) {
        ReleaseDC(m_hWnd, m_hdc);
        --gdi_detail::g_liveWindowDcs;
    }
}

}  // namespace kwrt
