#include "tools/devserver/devserver.h"

#include <gtest/gtest.h>
#include <json/json.h>

#include <chrono>
#include <thread>

#include "core/os.h"
#include "core/paths.h"
#include "core/text.h"
#include "download/data_processors.h"
#include "download/file_helpers.h"
#include "download/gzip_member.h"
#include "download/http_transfer.h"
#include "testing/child_process.h"
#include "testing/random_bytes.h"
#include "testing/temp_dir.h"
#include "tools/pack/packer.h"
#include "update/manifest.h"

namespace kwrt::devserver {
namespace {

using testing::ReadFileOrEmpty;

class DevServerTest : public ::testing::Test {
  protected:
    void SetUp() override {
        WriteBinaryFile(m_temp.Join(L"game/a.dat"), "alpha");
        WriteBinaryFile(m_temp.Join(L"game/maps/1.map"), testing::RandomBytes(40000, 1));
        WriteBinaryFile(m_temp.Join(L"game/\u8d44\u6e90.pak"), testing::RandomBytes(30000, 2));
        pack::PackOptions options;
        options.gameDir = m_temp.Join(L"game");
        options.outRoot = m_temp.Join(L"cdn");
        options.configPath = L"pyl/v1/res_config.txt";
        pack::PackReport report;
        std::string error;
        ASSERT_EQ(pack::Pack(options, &report, &error), 0) << error;
        ParseManifestText(Utf8ToWide(ReadFileOrEmpty(m_temp.Join(L"cdn/pyl/v1/res_config.txt"))),
                          &m_records);
        ASSERT_EQ(m_records.size(), 3u);
        Start({});
    }
    void Start(std::vector<Fault> faults) {
        m_server.reset();
        Options options;
        options.root = WideToUtf8(m_temp.Join(L"cdn"));
        options.configPath = "pyl/v1/res_config.txt";
        options.noticePort = 0;
        options.journal = WideToUtf8(m_temp.Join(L"journal.jsonl"));
        options.faults = std::move(faults);
        m_server = std::make_unique<DevServer>(options);
        std::string error;
        ASSERT_TRUE(m_server->Start(&error)) << error;
    }
    std::string Cdn(const std::string& path) const {
        return "http://127.0.0.1:" + std::to_string(m_server->CdnPort()) + path;
    }
    std::string PackageUrl(const ResoureConfigInfo& record) const {
        return Cdn("/pyl/" + WideToUtf8(record.folder) + "/vd_game.vdpkg");
    }
    // Runs curl; its exit code, the body in `m_body` and the status in `m_nStatus`.
    int Curl(const std::vector<std::wstring>& extra, const std::string& url) {
        std::vector<std::wstring> args = {
            L"-s", L"-0", L"-o", m_temp.Join(L"body"), L"-D", m_temp.Join(L"head")};
        args.insert(args.end(), extra.begin(), extra.end());
        args.push_back(Utf8ToWide(url));
        RemoveFileIfAny(L"body");
        RemoveFileIfAny(L"head");
        const int code = testing::RunProgram(L"/usr/bin/curl", args);
        m_body = ReadFileOrEmpty(m_temp.Join(L"body"));
        const std::string head = ReadFileOrEmpty(m_temp.Join(L"head"));
        m_nStatus = head.size() > 12 ? atoi(head.c_str() + 9) : 0;
        m_head = head;
        return code;
    }
    void RemoveFileIfAny(const std::wstring& name) { DeleteFileIfExists(m_temp.Join(name)); }
    std::string Member(const ResoureConfigInfo& record) {
        const std::string range =
            std::to_string(record.offset) + "-" + std::to_string(record.offset + record.length - 1);
        EXPECT_EQ(Curl({L"-r", Utf8ToWide(range)}, PackageUrl(record)), 0);
        EXPECT_EQ(m_nStatus, 206);
        EXPECT_NE(m_head.find("Content-Range: bytes " + range), std::string::npos) << m_head;
        std::string content;
        EXPECT_TRUE(GunzipMember(m_body, &content));
        return content;
    }
    std::string Post(int port, const std::string& path, const std::wstring& body, int32_t* code) {
        HttpTransfer transfer;
        transfer.SetFormHeaders();
        DownloadTextProcessor text{DownloadTaskInfo()};
        *code = transfer.Run(L"http://127.0.0.1:" + std::to_wstring(port) + Utf8ToWide(path), &text,
                             HttpTransfer::kPost, body, -1, 0);
        std::string answer;
        text.GetData(&answer);
        return answer;
    }

    testing::TempDir m_temp;
    std::unique_ptr<DevServer> m_server;
    std::vector<ResoureConfigInfo> m_records;
    std::string m_body, m_head;
    int m_nStatus = 0;
};

TEST_F(DevServerTest, RangesOfThePackagesAreTheMembersThePackerWrote) {
    EXPECT_EQ(Member(m_records[0]), "alpha");
    for (const ResoureConfigInfo& record : m_records) {
        if (record.name == L"maps\\1.map") {
            EXPECT_EQ(Member(record), testing::RandomBytes(40000, 1));
        }
    }
    // Without a range, the whole file; a missing one is 404, and nothing outside the root.
    EXPECT_EQ(Curl({}, Cdn("/pyl/v1/res_config.txt")), 0);
    EXPECT_EQ(m_nStatus, 200);
    EXPECT_EQ(m_body, ReadFileOrEmpty(m_temp.Join(L"cdn/pyl/v1/res_config.txt")));
    Curl({}, Cdn("/pyl/none.txt"));
    EXPECT_EQ(m_nStatus, 404);
    Curl({L"--path-as-is"}, Cdn("/../journal.jsonl"));
    EXPECT_EQ(m_nStatus, 404);
}

TEST_F(DevServerTest, NoticeAnswersWithTheConfigAddressForItsPackageOnly) {
    int32_t code = 0;
    std::string answer =
        Post(m_server->NoticePort(), "/",
             L"{\"packagename\":\"com.tolvex.kwrt.pc.pyl\",\"version\":\"1\"}", &code);
    ASSERT_EQ(code, 200);
    Json::Value root;
    ASSERT_TRUE(Json::Reader().parse(answer, root));
    ASSERT_EQ(root["resdata"].size(), 1u);
    EXPECT_EQ(root["resdata"][0]["Type"].asString(), "pkg");
    EXPECT_EQ(root["resdata"][0]["URL"].asString(), Cdn("/pyl/v1/res_config.txt"));

    answer = Post(m_server->NoticePort(), "/", L"{\"packagename\":\"other\"}", &code);
    ASSERT_TRUE(Json::Reader().parse(answer, root));
    EXPECT_TRUE(root["resdata"].isArray());
    EXPECT_EQ(root["resdata"].size(), 0u);

    answer = Post(m_server->LogPort(), "/t/game/common", L"{}", &code);
    EXPECT_EQ(code, 200);
    EXPECT_EQ(answer, "{\"code\":1,\"msg\":\"ok\"}");
    EXPECT_NE(m_server->Describe().find("config " + Cdn("/pyl/v1/res_config.txt")),
              std::string::npos);
}

TEST_F(DevServerTest, TheJournalHasOneLinePerRequest) {
    Curl({L"-r", L"0-9"}, Cdn("/pyl/v1/res_config.txt"));
    int32_t code = 0;
    Post(m_server->LogPort(), "/t/game/common", L"{\"e\":1}", &code);
    m_server->Stop();
    const std::string journal = ReadFileOrEmpty(m_temp.Join(L"journal.jsonl"));
    std::vector<Json::Value> lines;
    size_t start = 0;
    for (size_t end; (end = journal.find('\n', start)) != std::string::npos; start = end + 1) {
        Json::Value line;
        ASSERT_TRUE(Json::Reader().parse(journal.substr(start, end - start), line));
        lines.push_back(line);
    }
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0]["service"].asString(), "cdn");
    EXPECT_EQ(lines[0]["request_line"].asString(), "GET /pyl/v1/res_config.txt HTTP/1.0");
    EXPECT_EQ(lines[0]["status"].asInt(), 206);
    EXPECT_EQ(lines[0]["bytes_sent"].asInt(), 10);
    EXPECT_EQ(lines[1]["service"].asString(), "eventlog");
    EXPECT_EQ(lines[1]["body"].asString(), "{\"e\":1}");
    bool sawAgent = false;
    for (const Json::Value& header : lines[1]["headers"]) {
        sawAgent = sawAgent || header.asString().rfind("User-Agent: Mozilla/5.0", 0) == 0;
    }
    EXPECT_TRUE(sawAgent);
}

TEST_F(DevServerTest, FaultsChangeWhatAClientSees) {
    const std::string config = ReadFileOrEmpty(m_temp.Join(L"cdn/pyl/v1/res_config.txt"));
    Fault status;
    ASSERT_TRUE(ParseFault("/pyl/v1/res_config.txt:status=503,times=1", &status, nullptr));
    Fault drop, ignore, slow;
    std::string error;
    ASSERT_TRUE(ParseFault(WideToUtf8(L"/pyl/" + m_records[1].folder) + "/vd_game.vdpkg:drop=100",
                           &drop, &error));
    ASSERT_TRUE(ParseFault("/pyl/v1/other.txt:ignore-range", &ignore, &error));
    ASSERT_TRUE(ParseFault("*:delay=1,rate=1000000", &slow, &error));
    testing::WriteFileOrFail(m_temp.Join(L"cdn/pyl/v1/other.txt"), "0123456789");
    Start({status, drop, ignore, slow});

    Curl({}, Cdn("/pyl/v1/res_config.txt"));
    EXPECT_EQ(m_nStatus, 503);
    Curl({}, Cdn("/pyl/v1/res_config.txt"));  // only the first request
    EXPECT_EQ(m_nStatus, 200);
    EXPECT_EQ(m_body, config);

    EXPECT_EQ(Curl({}, PackageUrl(m_records[1])), 18);  // curl: transfer closed short
    EXPECT_EQ(m_body.size(), 100u);

    Curl({L"-r", L"2-4"}, Cdn("/pyl/v1/other.txt"));
    EXPECT_EQ(m_nStatus, 200);
    EXPECT_EQ(m_body, "0123456789");
    Curl({L"-r", L"2-4"}, Cdn("/pyl/v1/res_config.txt"));  // "*": delayed and capped, intact
    EXPECT_EQ(m_nStatus, 206);
    EXPECT_EQ(m_body, config.substr(2, 3));
}

TEST(ParseFault, ReadsEveryKindAndRefusesNonsense) {
    Fault fault;
    std::string error;
    ASSERT_TRUE(ParseFault("/a/b.txt:status=404,times=3,drop=10,delay=5,rate=100,ignore-range",
                           &fault, &error));
    EXPECT_EQ(fault.path, "/a/b.txt");
    EXPECT_EQ(fault.status, 404);
    EXPECT_EQ(fault.times, 3);
    EXPECT_EQ(fault.dropAfter, 10);
    EXPECT_EQ(fault.delayMs, 5);
    EXPECT_EQ(fault.rate, 100);
    EXPECT_TRUE(fault.ignoreRange);
    for (const char* bad : {"nocolon", ":status=1", "/a:status=x", "/a:bogus=1", "/a:status=99"}) {
        EXPECT_FALSE(ParseFault(bad, &fault, &error)) << bad;
    }
}

TEST(DevServerProgram, PrintsItsServicesAndEndsOnSigterm) {
    testing::TempDir temp;
    const std::wstring out = temp.Join(L"out.txt");
    testing::ChildProcess server;
    const std::wstring program = GetModuleDir() + L"kwrt-devserver";
    ASSERT_TRUE(
        server.Start(L"/bin/sh", {L"-c", L"exec \"" + program + L"\" --root \"" + temp.Path() +
                                             L"\" --config a/b.txt "
                                             L"--notice-port 0 > \"" +
                                             out + L"\""}));
    std::string printed;
    for (int i = 0; i < 5000 && std::count(printed.begin(), printed.end(), '\n') < 4; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
        printed = ReadFileOrEmpty(out);
    }
    EXPECT_EQ(printed.rfind("notice http://127.0.0.1:", 0), 0u) << printed;
    EXPECT_NE(printed.find("\ncdn http://127.0.0.1:"), std::string::npos);
    EXPECT_NE(printed.find("/a/b.txt\neventlog http://127.0.0.1:"), std::string::npos);
    EXPECT_NE(printed.find("/t/game/common\n"), std::string::npos);
    server.Terminate();
    EXPECT_EQ(server.Wait(10000), 0);
    EXPECT_EQ(testing::RunProgram(program, {L"--root"}), 2);
}

}  // namespace
}  // namespace kwrt::devserver
