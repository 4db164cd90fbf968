// launcher_probe.exe: looks at a running kwrt_launcher.exe from the outside, for the end-to-end
// tests (Wine runs it beside the launcher). Prints UTF-8 lines "KEY VALUE".
//
//   launcher_probe texts              the main window's status and speed lines, whether its
//                                     chat-group label and button are shown, an open box's text
//   launcher_probe watch TEXT MS      every change of the status and speed lines until the status
//                                     line reads TEXT, at most MS milliseconds; "found 1" or "found
//                                     0"
//   launcher_probe press main|box ID  clicks the skin button ID of the main window or the box
//   launcher_probe responsiveness MS asks the main window's thread for an answer every 10 ms
//                                     (WM_NULL) until the window is gone or MS milliseconds have
//                                     passed; the longest wait for an answer ("longest_ms N"),
//                                     when it began and when the window went ("longest_at_ms N",
//                                     "last_answer_at_ms N"), the count of questions ("asked N")
//   launcher_probe rects              screen rectangles of the group, the speed line's place in
//                                     the foreground, whether the background is minimised
#include <windows.h>
// After windows.h:
#include <shellapi.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

// Ids of the launcher's templates.
constexpr int kStatusLabel = 1012;
constexpr int kSpeedLabel = 1006;
constexpr int kBoxText = 1010;
constexpr int kGroupButton = 1001;
constexpr int kGroupLabel = 1002;

struct Windows {
    HWND main = nullptr;        // the main foreground
    HWND background = nullptr;  // its owner
    HWND host = nullptr;        // the background's owner
    HWND box = nullptr;         // the newest box's foreground
};

bool IsLauncherProcess(DWORD pid) {
    HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
    if (!process) {
        return false;
    }
    wchar_t path[MAX_PATH] = {};
    DWORD size = MAX_PATH;
    const bool ok = QueryFullProcessImageNameW(process, 0, path, &size) != 0;
    CloseHandle(process);
    if (!ok) {
        return false;
    }
    const std::wstring image(path, size);
    const size_t slash = image.find_last_of(L"\\/");
    const std::wstring name = slash == std::wstring::npos ? image : image.substr(slash + 1);
    return _wcsicmp(name.c_str(), L"kwrt_launcher.exe") == 0;
}

BOOL CALLBACK Collect(HWND window, LPARAM context) {
    auto* found = reinterpret_cast<Windows*>(context);
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    if (!IsWindowVisible(window) || !IsLauncherProcess(pid)) {
        return TRUE;
    }
    // Windows come in z-order, the newest box first.
    if (GetDlgItem(window, kStatusLabel) != nullptr && !found->main) {
        found->main = window;
    } else if (GetDlgItem(window, kBoxText) != nullptr && !found->box) {
        found->box = window;
    }
    return TRUE;
}

Windows Find() {
    Windows found;
    EnumWindows(Collect, reinterpret_cast<LPARAM>(&found));
    if (found.main) {
        found.background = GetWindow(found.main, GW_OWNER);
        if (found.background) {
            found.host = GetWindow(found.background, GW_OWNER);
        }
    }
    return found;
}

std::string Utf8(const std::wstring& text) {
    if (text.empty()) {
        return std::string();
    }
    const int size = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()),
                                         nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), &out[0], size,
                        nullptr, nullptr);
    return out;
}

std::wstring TextOf(HWND window, int id) {
    HWND control = window ? GetDlgItem(window, id) : nullptr;
    if (!control) {
        return std::wstring();
    }
    wchar_t buffer[1024] = {};
    GetWindowTextW(control, buffer, 1024);
    return buffer;
}

void Print(const char* key, const std::wstring& value) {
    printf("%s %s\n", key, Utf8(value).c_str());
    fflush(stdout);
}

void PrintRect(const char* key, HWND window) {
    RECT r{};
    if (window && GetWindowRect(window, &r)) {
        printf("%s %ld %ld %ld %ld\n", key, r.left, r.top, r.right - r.left, r.bottom - r.top);
    }
}

int Texts() {
    const Windows found = Find();
    if (found.main) {
        Print("status", TextOf(found.main, kStatusLabel));
        Print("speed", TextOf(found.main, kSpeedLabel));
        for (const auto& control : {std::make_pair("group_label", kGroupLabel),
                                    std::make_pair("group_button", kGroupButton)}) {
            HWND item = GetDlgItem(found.main, control.second);
            printf("%s %s\n", control.first,
                   item == nullptr         ? "absent"
                   : IsWindowVisible(item) ? "shown"
                                           : "hidden");
        }
        fflush(stdout);
    }
    if (found.box) {
        Print("box", TextOf(found.box, kBoxText));
    }
    return 0;
}

int Watch(const std::wstring& until, int milliseconds) {
    std::wstring status, speed;
    bool first = true;
    const DWORD start = GetTickCount();
    while (GetTickCount() - start < static_cast<DWORD>(milliseconds)) {
        const Windows found = Find();
        if (found.main) {
            const std::wstring nowStatus = TextOf(found.main, kStatusLabel);
            const std::wstring nowSpeed = TextOf(found.main, kSpeedLabel);
            if (first || nowStatus != status) {
                Print("status", nowStatus);
            }
            if (first || nowSpeed != speed) {
                Print("speed", nowSpeed);
            }
            first = false;
            status = nowStatus;
            speed = nowSpeed;
            if (status == until) {
                printf("found 1\n");
                return 0;
            }
        }
        Sleep(5);
    }
    printf("found 0\n");
    return 1;
}

int Press(const std::string& which, int id) {
    const Windows found = Find();
    HWND window = which == "box" ? found.box : found.main;
    HWND button = window ? GetDlgItem(window, id) : nullptr;
    if (!button) {
        printf("pressed 0\n");
        return 1;
    }
    PostMessageW(window, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(button));
    printf("pressed 1\n");
    return 0;
}

int Responsiveness(int milliseconds) {
    DWORD longest = 0;
    DWORD longestAt = 0;  // when the longest wait began, after the start
    int asked = 0;
    const DWORD start = GetTickCount();
    HWND window = nullptr;
    while (GetTickCount() - start < static_cast<DWORD>(milliseconds)) {
        if (!window || !IsWindow(window)) {
            window = Find().main;
            if (!window && asked > 0) {
                break;  // the launcher is done
            }
        }
        if (window) {
            const DWORD before = GetTickCount();
            DWORD_PTR result = 0;
            if (!SendMessageTimeoutW(window, WM_NULL, 0, 0, SMTO_NORMAL, 60000, &result) &&
                !IsWindow(window)) {
                break;
            }
            const DWORD waited = GetTickCount() - before;
            if (waited > longest) {
                longest = waited;
                longestAt = before - start;
            }
            ++asked;
        }
        Sleep(10);
    }
    printf("longest_ms %lu\nlongest_at_ms %lu\nlast_answer_at_ms %lu\nasked %d\n", longest,
           longestAt, GetTickCount() - start, asked);
    return 0;
}

int Rects() {
    const Windows found = Find();
    PrintRect("background", found.background);
    PrintRect("foreground", found.main);
    PrintRect("host", found.host);
    PrintRect("box", found.box);
    if (found.background) {
        printf("minimized %d\n", IsIconic(found.background) ? 1 : 0);
    }
    HWND speed = found.main ? GetDlgItem(found.main, kSpeedLabel) : nullptr;
    RECT r{};
    if (speed && GetWindowRect(speed, &r)) {
        MapWindowPoints(nullptr, found.main, reinterpret_cast<POINT*>(&r), 2);
        printf("speed %ld %ld %ld %ld\n", r.left, r.top, r.right - r.left, r.bottom - r.top);
    }
    return 0;
}

}  // namespace

int main() {
    // The wide command line: a text to wait for may hold any character.
    int argc = 0;
    wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    const std::wstring command = argc > 1 ? argv[1] : L"";
    if (command == L"texts") {
        return Texts();
    }
    if (command == L"watch" && argc > 3) {
        return Watch(argv[2], _wtoi(argv[3]));
    }
    if (command == L"press" && argc > 3) {
        return Press(std::wstring(argv[2]) == L"box" ? "box" : "main", _wtoi(argv[3]));
    }
    if (command == L"responsiveness" && argc > 2) {
        return Responsiveness(_wtoi(argv[2]));
    }
    if (command == L"rects") {
        return Rects();
    }
    fprintf(stderr,
            "usage: launcher_probe texts | watch TEXT MS | press main|box ID | responsiveness MS"
            " | rects\n");
    return 2;
}
