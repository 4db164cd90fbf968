#include "framework/application.h"

#include <commctrl.h>

namespace kwrt {

CApplication::CApplication() {
    INITCOMMONCONTROLSEX controls{};
    controls.dwSize = sizeof(controls);
    controls.dwICC = ICC_STANDARD_CLASSES | ICC_WIN95_CLASSES;
    InitCommonControlsEx(&controls);
}

CApplication::~CApplication() = default;

HINSTANCE CApplication::ResourceModule() {
    return ::GetModuleHandleW(nullptr);
}

}  // namespace kwrt
