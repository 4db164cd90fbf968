#include "skin/skin_resources.h"

#include <cstring>

#include "framework/application.h"
#include "framework/gdi_handles.h"
#include "skin/skin_geometry.h"

namespace kwrt {
namespace {

float g_uiScale = 0.f;  // GUI thread only; 0 until computed

// A stream over a copy of the resource's bytes. The stream owns its memory block and frees it with
// itself, so no resource copy outlives the image decoded from it.
IStream* OpenResourceStream(UINT id, HINSTANCE module) {
    if (!module) {
        module = CApplication::ResourceModule();
    }
    HRSRC found = ::FindResourceW(module, MAKEINTRESOURCEW(id), L"PNG");
    if (!found) {
        return nullptr;
    }
    const DWORD size = ::SizeofResource(module, found);
    HGLOBAL loaded = ::LoadResource(module, found);
    const void* bytes = loaded ? ::LockResource(loaded) : nullptr;
    if (!bytes || size == 0) {
        return nullptr;
    }
    HGLOBAL block = ::GlobalAlloc(GMEM_MOVEABLE, size);
    if (!block) {
        return nullptr;
    }
    void* target = ::GlobalLock(block);
    if (!target) {
        ::GlobalFree(block);
        return nullptr;
    }
    std::memcpy(target, bytes, size);
    ::GlobalUnlock(block);
    IStream* stream = nullptr;
    if (FAILED(::CreateStreamOnHGlobal(block, TRUE, &stream))) {
        ::GlobalFree(block);
        return nullptr;
    }
    return stream;
}

}  // namespace

float GetUIScale() {
    if (g_uiScale == 0.f) {
        ScopedGetDC screen(nullptr);
        const int dpi = screen.Get() ? ::GetDeviceCaps(screen.Get(), LOGPIXELSX) : 96;
        g_uiScale = ComputeUIScale(dpi, ::GetSystemMetrics(SM_CXSCREEN));
    }
    return g_uiScale;
}

void ResetUIScaleForTesting() {
    g_uiScale = 0.f;
}

GdiplusPtr<Gdiplus::Image> LoadPngResource(UINT id, HINSTANCE module) {
    GdiplusPtr<Gdiplus::Image> image;
    if (IStream* stream = OpenResourceStream(id, module)) {
        image.Reset(new Gdiplus::Image(stream));
        stream->Release();
    }
    if (!image || image->GetLastStatus() != Gdiplus::Ok) {
        image.Reset(nullptr);  // no image: sizes read 0 x 0 and nothing is drawn
    }
    return image;
}

GdiplusPtr<Gdiplus::Bitmap> LoadPngResourceArea(UINT id, int x, int y, int width, int height,
                                                HINSTANCE module) {
    GdiplusPtr<Gdiplus::Bitmap> bitmap;
    if (IStream* stream = OpenResourceStream(id, module)) {
        bitmap.Reset(new Gdiplus::Bitmap(stream));
        stream->Release();
    }
    if (!bitmap || bitmap->GetLastStatus() != Gdiplus::Ok) {
        return GdiplusPtr<Gdiplus::Bitmap>();
    }
    if (width != 0 && height != 0) {
        GdiplusPtr<Gdiplus::Bitmap> area(
            bitmap->Clone(x, y, width, height, bitmap->GetPixelFormat()));
        if (!area || area->GetLastStatus() != Gdiplus::Ok) {
            return GdiplusPtr<Gdiplus::Bitmap>();
        }
        return area;
    }
    return bitmap;
}

int ImageWidth(Gdiplus::Image* image) {
    return image ? static_cast<int>(image->GetWidth()) : 0;
}

int ImageHeight(Gdiplus::Image* image) {
    return image ? static_cast<int>(image->GetHeight()) : 0;
}

}  // namespace kwrt
