#include "skin/window_test_support.h"

#include <memory>

#include "framework/application.h"

namespace kwrt {
namespace {

// GDI+ for the whole run, as the application object gives it to the launcher.
class UiEnvironment : public ::testing::Environment {
  public:
    void SetUp() override { m_pApp.reset(new CApplication); }
    void TearDown() override { m_pApp.reset(); }

  private:
    std::unique_ptr<CApplication> m_pApp;
};
::testing::Environment* const g_environment =
    ::testing::AddGlobalTestEnvironment(new UiEnvironment);

}  // namespace

std::wstring ScreenshotFolder() {
    wchar_t here[MAX_PATH] = {};
    ::GetCurrentDirectoryW(MAX_PATH, here);
    return std::wstring(here) + L"\\screenshots";
}

CSkinDialog* NewestBox() {
    return g_openMessageBoxes.empty() ? nullptr : g_openMessageBoxes.back();
}
CSkinMessageBox* NewestForeground() {
    CSkinDialog* box = NewestBox();
    return box ? dynamic_cast<CSkinMessageBox*>(box->m_pForeground.get()) : nullptr;
}
bool BoxIsUp(size_t depth) {
    CSkinMessageBox* fg = NewestForeground();
    if (g_openMessageBoxes.size() != depth || !fg || !fg->HasWindow() ||
        !::IsWindowVisible(fg->m_hWnd) || !fg->m_firstButton.HasWindow()) {
        return false;
    }
    BYTE alpha = 0;
    DWORD flags = 0;
    return ::GetLayeredWindowAttributes(fg->m_hWnd, nullptr, &alpha, &flags) && alpha == 255;
}
void Click(CWnd& button) {
    ::PostMessageW(button.m_hWnd, BM_CLICK, 0, 0);
}

RECT Rect(HWND window) {
    RECT r{};
    ::GetWindowRect(window, &r);
    return r;
}
POINT ClientTopLeft(CWnd& control) {
    RECT r = control.GetWindowRect();
    ::MapWindowPoints(nullptr, ::GetParent(control.m_hWnd), reinterpret_cast<POINT*>(&r), 2);
    return POINT{r.left, r.top};
}

void SkinWindowTest::SetUp() {
    m_bound = LiveBoundWindows();
    m_gdi = LiveGdiHandles();
    m_gdiplus = LiveGdiplusObjects();
}

void SkinWindowTest::TearDown() {
    testing::PumpMessages();
    MSG quit;
    ::PeekMessageW(&quit, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE);  // left by an aborted script
    EXPECT_TRUE(g_openMessageBoxes.empty());
    EXPECT_EQ(LiveBoundWindows(), m_bound);
    EXPECT_EQ(LiveGdiHandles().objects, m_gdi.objects);
    EXPECT_EQ(LiveGdiHandles().memoryDcs, m_gdi.memoryDcs);
    EXPECT_EQ(LiveGdiHandles().windowDcs, m_gdi.windowDcs);
    EXPECT_EQ(LiveGdiplusObjects(), m_gdiplus);
}

void SkinWindowTest::Run(testing::UiScript& script, const std::function<void()>& body) {
    script.Start();
    body();
    EXPECT_FALSE(script.Failed()) << script.Failure();
    EXPECT_TRUE(script.Finished());
}

}  // namespace kwrt
