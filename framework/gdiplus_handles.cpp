#include "framework/gdiplus_handles.h"

namespace kwrt {

namespace gdiplus_detail {
std::atomic<long> g_liveObjects{0};
}  // namespace gdiplus_detail

long LiveGdiplusObjects() {
    return gdiplus_detail::g_liveObjects.load();
}

GdiplusSession::GdiplusSession() {
    Gdiplus::GdiplusStartupInput input;
    m_bStarted = Gdiplus::GdiplusStartup(&m_token, &input, nullptr) == Gdiplus::Ok;
}

GdiplusSession::~GdiplusSession() {
    if (m_bStarted) {
        Gdiplus::GdiplusShutdown(m_token);
    }
}

}  // namespace kwrt
