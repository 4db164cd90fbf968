#include "testing/child_process.h"

#include <gtest/gtest.h>

#ifndef _WIN32
#include <sys/stat.h>
#endif

#include "core/command_line.h"
#include "core/os.h"
#include "core/text.h"
#include "testing/temp_dir.h"

namespace kwrt::testing {

int RunProgram(const std::wstring& program, const std::vector<std::wstring>& arguments,
               int timeoutMs) {
    ChildProcess child;
    if (!child.Start(program, arguments)) {
        return -2;
    }
    return child.Wait(timeoutMs);
}

bool StartStayingGame(ChildProcess* child, const std::wstring& path) {
    if (!child->Start(path, {L"--stay"})) {
        return false;
    }
    for (int i = 0; i < 500; ++i) {  // the image shows once it is mapped
        if (IsProcessRunning(path)) {
            return true;
        }
    }
    return false;
}

void CopyFileOrFail(const std::wstring& from, const std::wstring& to) {
    std::string bytes;
    ASSERT_TRUE(ReadWholeFile(from, &bytes));
    WriteFileOrFail(to, bytes);
#ifndef _WIN32
    ASSERT_EQ(chmod(WideToUtf8(to).c_str(), 0755), 0);
#endif
}

}  // namespace kwrt::testing
