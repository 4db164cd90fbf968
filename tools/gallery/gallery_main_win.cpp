// kwrt-gallery.exe: shows the toolkit's windows one after another and saves a screenshot of each,
// for a look at the launcher without running an update. Run under Wine on a virtual screen with
// a compositor (scripts/gallery does that).
//   kwrt-gallery.exe OUTPUT_FOLDER
#include <windows.h>

#include <cstdio>
#include <string>

#include "framework/application.h"
#include "res/resource.h"
#include "skin/message_box.h"
#include "skin/skin_resources.h"
#include "testing/ui_script.h"
#include "tools/gallery/preview_group.h"

namespace {

using kwrt::g_openMessageBoxes;

// The screen area around the main group and its boxes, with a margin of desktop.
RECT AroundGroup(HWND background) {
    RECT r{};
    ::GetWindowRect(background, &r);
    const int margin = kwrt::Scaled(kwrt::GetUIScale(), 24);
    return RECT{r.left - margin, r.top - margin, r.right + margin, r.bottom + margin};
}

kwrt::CSkinMessageBox* NewestForeground() {
    return g_openMessageBoxes.empty() ? nullptr
                                      : dynamic_cast<kwrt::CSkinMessageBox*>(
                                            g_openMessageBoxes.back()->m_pForeground.get());
}

bool BoxIsUp() {
    kwrt::CSkinMessageBox* fg = NewestForeground();
    return fg && fg->HasWindow() && ::IsWindowVisible(fg->m_hWnd);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: kwrt-gallery.exe OUTPUT_FOLDER\n");
        return 2;
    }
    const std::wstring folder = argv[1];
    kwrt::CApplication app;
    const float scale = kwrt::GetUIScale();
    wchar_t suffix[32];
    std::swprintf(suffix, 32, L"-%.2f", static_cast<double>(scale));

    kwrt::CPreviewBackground group;
    if (!group.Create()) {
        std::fprintf(stderr, "the main window could not be created\n");
        return 1;
    }
    group.m_foreground.Show(0.5f, L"正在加载世界各大海域资源",
                            L"速度:2.35MB/秒 预计:1分12秒 下载进度:96.40MB/192.80MB");
    int saved = 0;
    auto shoot = [&](const std::wstring& name) {
        if (!kwrt::testing::SaveScreenshot(folder, name + suffix, AroundGroup(group.m_hWnd))
                 .empty()) {
            ++saved;
        }
    };
    struct Box {
        const wchar_t* name;
        const wchar_t* text;
        UINT type;
        const wchar_t* first;
        const wchar_t* second;
        BOOL swap;
    };
    const Box boxes[] = {
        {L"box-close-confirmation", L"玩命下载，很快的，您可以喝杯茶再等等~", 4, L"退出", L"取消",
         TRUE},
        {L"box-retry", L"下载资源失败，请检查网络后重试。", 1, L"重试", L"退出", FALSE},
        {L"box-notice", L"资源更新完成，即将启动游戏", 0, L"", L"", FALSE},
        // The disk box: its default captions, and the longest text the launcher shows.
        {L"box-disk-shortage", L"D:\\磁盘空间不足，无法完成此次更新，请确保释放出12.80MB空间后继续",
         1, L"", L"", FALSE},
    };
    kwrt::testing::UiScript script(20000);
    script.Settle(300).Do([&] { shoot(L"main"); });
    for (const Box& box : boxes) {
        script
            .Do([&group, box] {
                group.ShowMessageBox(nullptr, box.text, box.type, box.first, box.second, box.swap);
            })
            .Then(BoxIsUp)
            .Settle(300)
            .Do([&shoot, box] { shoot(box.name); })
            .Do([] { ::PostMessageW(NewestForeground()->m_firstButton.m_hWnd, BM_CLICK, 0, 0); })
            .Then([] { return g_openMessageBoxes.empty(); });
    }
    script.Do([] { ::PostQuitMessage(0); });
    script.Start();
    MSG msg;
    while (::GetMessageW(&msg, nullptr, 0, 0) > 0) {
        if (!kwrt::CDialog::WalkPreTranslateTree(&msg)) {
            ::TranslateMessage(&msg);
            ::DispatchMessageW(&msg);
        }
    }
    if (script.Failed()) {
        std::fprintf(stderr, "%s\n", script.Failure().c_str());
        return 1;
    }
    std::printf("saved %d screenshots at scale %.2f\n", saved, static_cast<double>(scale));
    return saved == 5 ? 0 : 1;
}
