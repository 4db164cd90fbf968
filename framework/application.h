// The application object of a windowed program: common controls and GDI+ are started when it is
// constructed, before anything else of the program runs, and GDI+ is shut down when it dies.
// One per process; every GDI+ object must be gone before it is.
#pragma once

#include <windows.h>

#include "framework/gdiplus_handles.h"

namespace kwrt {

class CApplication {
  public:
    CApplication();
    ~CApplication();
    CApplication(const CApplication&) = delete;
    CApplication& operator=(const CApplication&) = delete;

    // The module whose resources (templates, images) the windows load.
    static HINSTANCE ResourceModule();

  private:
    GdiplusSession m_gdiplus;
};

}  // namespace kwrt
