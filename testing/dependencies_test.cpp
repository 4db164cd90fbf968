// The libraries the engine is built on work in this flavour: zlib's gzip file reader and JsonCpp.
#include <json/json.h>
#include <zlib.h>

#include <gtest/gtest.h>

#include "core/text.h"
#include "testing/temp_dir.h"

namespace kwrt {
namespace {

TEST(Dependencies, ZlibReadsWhatItWrote) {
    testing::TempDir temp;
    const std::string path = WideToUtf8(temp.Join(L"data.gz"));
    gzFile out = gzopen(path.c_str(), "wb");
    ASSERT_NE(out, nullptr);
    const std::string text(100000, 'k');
    ASSERT_EQ(gzwrite(out, text.data(), static_cast<unsigned>(text.size())),
              static_cast<int>(text.size()));
    ASSERT_EQ(gzclose(out), Z_OK);
    EXPECT_LT(testing::ReadFileOrEmpty(temp.Join(L"data.gz")).size(), text.size() / 10);

    gzFile in = gzopen(path.c_str(), "rb");
    ASSERT_NE(in, nullptr);
    std::string read(text.size() + 10, '\0');
    EXPECT_EQ(gzread(in, &read[0], static_cast<unsigned>(read.size())),
              static_cast<int>(text.size()));
    gzclose(in);
    read.resize(text.size());
    EXPECT_EQ(read, text);
}

TEST(Dependencies, JsonCppParsesADocument) {
    Json::Reader reader;
    Json::Value root;
    ASSERT_TRUE(reader.parse(R"({"resdata":[{"Type":"pkg","URL":"http://x/y"}],"n":3})", root));
    ASSERT_TRUE(root["resdata"].isArray());
    EXPECT_EQ(root["resdata"].size(), 1u);
    EXPECT_EQ(root["resdata"][0]["Type"].asString(), "pkg");
    EXPECT_TRUE(root["missing"].isNull());
    EXPECT_FALSE(reader.parse("{\"unterminated\":", root));
}

}  // namespace
}  // namespace kwrt
