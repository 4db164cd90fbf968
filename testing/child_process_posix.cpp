#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "core/text.h"
#include "testing/child_process.h"

extern char** environ;

namespace kwrt::testing {

ChildProcess::~ChildProcess() {
    Kill();
}

bool ChildProcess::Start(const std::wstring& program, const std::vector<std::wstring>& arguments) {
    std::vector<std::string> texts = {WideToUtf8(program)};
    for (const std::wstring& argument : arguments) {
        texts.push_back(WideToUtf8(argument));
    }
    std::vector<char*> argv;
    for (std::string& text : texts) {
        argv.push_back(&text[0]);
    }
    argv.push_back(nullptr);
    pid_t pid = 0;
    if (posix_spawn(&pid, texts[0].c_str(), nullptr, nullptr, argv.data(), environ) != 0) {
        return false;
    }
    m_nPid = pid;
    m_bRunning = true;
    return true;
}

int ChildProcess::Wait(int timeoutMs) {
    if (!m_bRunning) {
        return -1;
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        int status = 0;
        const pid_t done = waitpid(m_nPid, &status, WNOHANG);
        if (done == m_nPid) {
            m_bRunning = false;
            return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        }
        if (done < 0 || std::chrono::steady_clock::now() >= deadline) {
            return -1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

void ChildProcess::Terminate() {
    if (m_bRunning) {
        kill(m_nPid, SIGTERM);
    }
}

void ChildProcess::Kill() {
    if (m_bRunning) {
        kill(m_nPid, SIGKILL);
        int status = 0;
        waitpid(m_nPid, &status, 0);
        m_bRunning = false;
    }
}

}  // namespace kwrt::testing
