// The UI scale of this screen and the PNG images of the application's resources.
#pragma once

#include "framework/gdiplus_handles.h"

namespace kwrt {

// The scale every pixel constant of the skinned UI is multiplied by: from the screen's DPI, or at
// 96 DPI from its width. Computed once and kept for the life of the process.
float GetUIScale();
// Tests start each case from a fresh computation.
void ResetUIScaleForTesting();

// The PNG resource `id` (type "PNG") of `module` (null: the application's resource module),
// decoded with its alpha channel. A missing or undecodable resource gives a 0 x 0 image.
GdiplusPtr<Gdiplus::Image> LoadPngResource(UINT id, HINSTANCE module = nullptr);
// The rectangle (x, y, width, height) of the PNG `id` in unscaled image pixels, in the image's
// pixel format; a width or height of 0 gives the whole image.
GdiplusPtr<Gdiplus::Bitmap> LoadPngResourceArea(UINT id, int x, int y, int width, int height,
                                                HINSTANCE module = nullptr);

// An image's size, 0 x 0 without one.
int ImageWidth(Gdiplus::Image* image);
int ImageHeight(Gdiplus::Image* image);

}  // namespace kwrt
