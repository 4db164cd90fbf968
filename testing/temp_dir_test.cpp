#include "testing/temp_dir.h"

#include <gtest/gtest.h>

#include "core/os.h"
#include "core/paths.h"

namespace kwrt {
namespace {

TEST(TempDir, IsFreshAndGoesAwayWithEverythingInIt) {
    std::wstring path;
    {
        testing::TempDir first, second;
        path = first.Path();
        EXPECT_NE(first.Path(), second.Path());
        EXPECT_EQ(path.back(), kPathSeparator);
        CreateDirectoryTree(first.Join(L"a/b"));
        testing::WriteFileOrFail(first.Join(L"a/b/file.txt"), "x");
        EXPECT_EQ(testing::ReadFileOrEmpty(first.Join(L"a/b/file.txt")), "x");
    }
    EXPECT_FALSE(PathExists(path));
}

}  // namespace
}  // namespace kwrt
