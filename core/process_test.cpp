#include "core/process.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "core/os.h"
#include "core/paths.h"
#include "testing/child_process.h"
#include "testing/temp_dir.h"

namespace kwrt {
namespace {

using testing::ReadFileOrEmpty;

TEST(StartProcess, AMissingProgramFailsWithTheSystemsCode) {
    testing::TempDir temp;
    int error = 0;
    EXPECT_FALSE(StartProcess(temp.Join(L"missing") + testing::ExecutableSuffix(), temp.Path(),
                              L"A=1", &error));
    EXPECT_EQ(error, 2);  // no such file, on both systems
    EXPECT_FALSE(StartProcess(temp.Join(L"missing"), temp.Path(), L""));  // the code is optional
}

TEST(StartProcess, APathWithBlanksStartsThatVeryProgram) {
    testing::TempDir temp;
    CreateDirectoryTree(temp.Join(L"my games"));
    const std::wstring program = temp.Join(L"my games/the game") + testing::ExecutableSuffix();
    testing::CopyFileOrFail(GetModuleDir() + L"stub_game" + testing::ExecutableSuffix(), program);
    int error = -1;
    ASSERT_TRUE(StartProcess(program, temp.Join(L"my games"), L"A=1 B=2", &error));
    std::string line;
    for (int i = 0; i < 30000 && line.empty(); ++i) {  // the stub writes it once it runs
        line = ReadFileOrEmpty(program + L".cmdline");
        if (line.empty()) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }
    ASSERT_GE(line.size(), 8u) << line;
    EXPECT_EQ(line.substr(line.size() - 8), " A=1 B=2");
}

}  // namespace
}  // namespace kwrt
