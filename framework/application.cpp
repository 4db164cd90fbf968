#include "framework/application.h"

#include <commctrl.h>

namespace kwrt {
namespace {
HINSTANCE g_resourceModule = nullptr;  // GUI thread only
}  // namespace

CApplication::CApplication() {
    INITCOMMONCONTROLSEX controls{};
    controls.dwSize = sizeof(controls);
    controls.dwICC = ICC_STANDARD_CLASSES | ICC_WIN95_CLASSES;
    InitCommonControlsEx(&controls);
}

CApplication::~CApplication() = default;

HINSTANCE CApplication::ResourceModule() {
    return g_resourceModule ? g_resourceModule : ::GetModuleHandleW(nullptr);
}

void CApplication::SetResourceModule(HINSTANCE module) {
    g_resourceModule = module;
}

}  // namespace kwrt
