// GDI+ for the framework: the session that starts and shuts it down, and a move-only owner of GDI+
// objects (images, bitmaps) that counts the ones alive. Every owned GDI+ object must die before
// the session ends.
#pragma once

#include <windows.h>
// After windows.h:
#include <objidl.h>
// After objidl.h:
#include <gdiplus.h>

#include <atomic>
#include <memory>

namespace kwrt {

// GdiplusStartup in the constructor, GdiplusShutdown in the destructor. The application object
// holds the one session of the process.
class GdiplusSession {
  public:
    GdiplusSession();
    ~GdiplusSession();
    GdiplusSession(const GdiplusSession&) = delete;
    GdiplusSession& operator=(const GdiplusSession&) = delete;

  private:
    ULONG_PTR m_token = 0;
    bool m_bStarted = false;
};

namespace gdiplus_detail {
extern std::atomic<long> g_liveObjects;
}  // namespace gdiplus_detail

// GDI+ objects alive in GdiplusPtr owners.
long LiveGdiplusObjects();

// Owns one GDI+ object (Gdiplus::Image, Gdiplus::Bitmap) and deletes it.
template <typename T>
class GdiplusPtr {
  public:
    GdiplusPtr() = default;
    explicit GdiplusPtr(T* object) { Reset(object); }
    ~GdiplusPtr() { Reset(nullptr); }
    GdiplusPtr(GdiplusPtr&& other) noexcept : m_object(other.m_object) { other.m_object = nullptr; }
    GdiplusPtr& operator=(GdiplusPtr&& other) noexcept {
        if (this != &other) {
            Reset(nullptr);
            m_object = other.m_object;
            other.m_object = nullptr;
        }
        return *this;
    }
    GdiplusPtr(const GdiplusPtr&) = delete;
    GdiplusPtr& operator=(const GdiplusPtr&) = delete;

    void Reset(T* object) {
        if (m_object) {
            delete m_object;
            --gdiplus_detail::g_liveObjects;
        }
        m_object = object;
        if (m_object) {
            ++gdiplus_detail::g_liveObjects;
        }
    }
    // Gives the object up to the caller, who deletes it (or hands it to another owner).
    T* Release() {
        T* object = m_object;
        if (object) {
            --gdiplus_detail::g_liveObjects;
        }
        m_object = nullptr;
        return object;
    }
    T* Get() const { return m_object; }
    T* operator->() const { return m_object; }
    explicit operator bool() const { return m_object != nullptr; }

  private:
    T* m_object = nullptr;
};

}  // namespace kwrt
