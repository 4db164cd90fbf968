#include "testing/ui_script.h"

#include <memory>
#include <vector>

namespace kwrt::testing {
namespace {
UiScript* g_running = nullptr;  // the script of this thread's timer; GUI thread only
}  // namespace

UiScript::UiScript(int stepTimeoutMs) : m_nStepTimeoutMs(stepTimeoutMs) {}

UiScript::~UiScript() {
    if (m_nTimer) {
        ::KillTimer(nullptr, m_nTimer);
    }
    if (g_running == this) {
        g_running = nullptr;
    }
}

UiScript& UiScript::Then(std::function<bool()> step) {
    m_steps.push_back(std::move(step));
    return *this;
}

UiScript& UiScript::Do(std::function<void()> action) {
    return Then([action] {
        action();
        return true;
    });
}

UiScript& UiScript::Settle(int ms) {
    auto start = std::make_shared<DWORD>(0);
    return Then([start, ms] {
        if (*start == 0) {
            *start = ::GetTickCount();
        }
        return ::GetTickCount() - *start >= static_cast<DWORD>(ms);
    });
}

void UiScript::Start() {
    g_running = this;
    m_dwStepStart = ::GetTickCount();
    m_nTimer = ::SetTimer(nullptr, 0, 10, &UiScript::Tick);
}

void CALLBACK UiScript::Tick(HWND, UINT, UINT_PTR, DWORD) {
    if (g_running) {
        g_running->RunFront();
    }
}

void UiScript::RunFront() {
    if (m_steps.empty()) {
        return;
    }
    // A step is taken off before it runs: one that opens a modal loop lets the next steps run
    // inside it, from that loop's ticks.
    std::function<bool()> step = std::move(m_steps.front());
    m_steps.pop_front();
    if (step()) {
        ++m_nDone;
        m_dwStepStart = ::GetTickCount();
        return;
    }
    if (::GetTickCount() - m_dwStepStart <= static_cast<DWORD>(m_nStepTimeoutMs)) {
        m_steps.push_front(std::move(step));
        return;
    }
    m_strFailure = "step " + std::to_string(m_nDone + 1) +
                   " of the window script did not finish in " + std::to_string(m_nStepTimeoutMs) +
                   " ms; " + std::to_string(m_steps.size()) + " more were left";
    m_bFailed = true;
    m_steps.clear();
    ::PostQuitMessage(1);  // unwinds every modal loop; each posts it again for the next
}

bool RunUnixProgram(const std::wstring& path, const std::vector<std::wstring>& arguments) {
    std::wstring program = L"Z:" + path;
    for (wchar_t& c : program) {
        c = c == L'/' ? L'\\' : c;
    }
    std::wstring command = L"\"" + program + L"\"";
    for (const std::wstring& argument : arguments) {
        command += L" \"" + argument + L"\"";
    }
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process{};
    std::vector<wchar_t> line(command.begin(), command.end());
    line.push_back(L'\0');
    if (!::CreateProcessW(program.c_str(), line.data(), nullptr, nullptr, FALSE, 0, nullptr,
                          nullptr, &startup, &process)) {
        return false;
    }
    ::WaitForSingleObject(process.hProcess, 30000);
    ::CloseHandle(process.hThread);
    ::CloseHandle(process.hProcess);
    return true;
}

void PointerMoveTo(int x, int y) {
    RunUnixProgram(L"/usr/bin/xdotool", {L"mousemove", std::to_wstring(x), std::to_wstring(y)});
}

void PointerPress() {
    RunUnixProgram(L"/usr/bin/xdotool", {L"mousedown", L"1"});
}

void PointerRelease() {
    RunUnixProgram(L"/usr/bin/xdotool", {L"mouseup", L"1"});
}

namespace {

std::wstring Screenshot(const std::wstring& folder, const std::wstring& name, const RECT* area) {
    ::CreateDirectoryW(folder.c_str(), nullptr);
    const std::wstring file = folder + L"\\" + name + L".png";
    ::DeleteFileW(file.c_str());
    // ImageMagick is a Unix program: it takes the Unix path of the file.
    char unixPath[4096] = {};
    typedef char*(CDECL * ToUnix)(const WCHAR*);
    auto toUnix = reinterpret_cast<ToUnix>(reinterpret_cast<void*>(
        ::GetProcAddress(::GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
    if (!toUnix) {
        return std::wstring();
    }
    char* converted = toUnix(file.c_str());
    if (!converted) {
        return std::wstring();
    }
    lstrcpynA(unixPath, converted, sizeof(unixPath));
    ::HeapFree(::GetProcessHeap(), 0, converted);
    std::wstring target;
    for (const char* p = unixPath; *p; ++p) {
        target += static_cast<wchar_t>(static_cast<unsigned char>(*p));
    }
    std::vector<std::wstring> arguments{L"-window", L"root"};
    if (area) {
        const RECT screen{0, 0, ::GetSystemMetrics(SM_CXSCREEN), ::GetSystemMetrics(SM_CYSCREEN)};
        RECT clipped{};
        ::IntersectRect(&clipped, area, &screen);
        arguments.push_back(L"-crop");
        arguments.push_back(std::to_wstring(clipped.right - clipped.left) + L"x" +
                            std::to_wstring(clipped.bottom - clipped.top) + L"+" +
                            std::to_wstring(clipped.left) + L"+" + std::to_wstring(clipped.top));
        arguments.push_back(L"+repage");
    }
    arguments.push_back(target);
    RunUnixProgram(L"/usr/bin/import", arguments);
    // Wine signals a Unix program's end when it starts it: wait for the file to stop growing.
    LONGLONG last = -1;
    for (int i = 0; i < 200; ++i) {
        WIN32_FILE_ATTRIBUTE_DATA data{};
        if (::GetFileAttributesExW(file.c_str(), GetFileExInfoStandard, &data)) {
            const LONGLONG size =
                (static_cast<LONGLONG>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
            if (size > 0 && size == last) {
                return file;
            }
            last = size;
        }
        ::Sleep(50);
    }
    return std::wstring();
}

}  // namespace

std::wstring SaveScreenshot(const std::wstring& folder, const std::wstring& name) {
    return Screenshot(folder, name, nullptr);
}

std::wstring SaveScreenshot(const std::wstring& folder, const std::wstring& name,
                            const RECT& area) {
    return Screenshot(folder, name, &area);
}

void PumpMessages() {
    MSG msg;
    while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        ::TranslateMessage(&msg);
        ::DispatchMessageW(&msg);
    }
}

}  // namespace kwrt::testing
