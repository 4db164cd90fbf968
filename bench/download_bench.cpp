// Download benchmark: the engine against curl and gzip on the same ranges.
//
//   download_bench generate CDN_DIR TOTAL_MIB > parts.txt   packages of gzip members, one per file
//   download_bench segments BASE_URL parts.txt              the merged ranges, one "url first-last"
//                                                           per line, as the dispatcher requests
//   download_bench fetch BASE_URL parts.txt OUT_DIR         fetches and unpacks every file with the
//                                                           dispatcher on three threads; prints the
//                                                           time, the requests and the bytes
//                                                           written
//
// bench/run_download_bench drives the three against nginx; nothing here asserts a time.
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <memory>
#include <mutex>
#include <sstream>
#include <string>
#include <vector>

#include "core/os.h"
#include "core/paths.h"
#include "core/text.h"
#include "download/data_processors.h"
#include "download/gzip_member.h"
#include "download/task_dispatcher.h"

namespace {

using namespace kwrt;

struct PartLine {
    std::string package;  // path below the CDN root
    std::string name;
    int64_t offset;
    int32_t length;
};

// Content that compresses about as well as game data: runs of text-like bytes among noise.
std::string MakeContent(size_t size, uint32_t seed) {
    std::string out(size, '\0');
    uint32_t state = seed * 2654435761u + 7;
    for (size_t i = 0; i < size;) {
        state = state * 1664525u + 1013904223u;
        const size_t run = 16 + (state >> 26);
        const bool noise = (state >> 8) % 3 == 0;
        for (size_t k = 0; k < run && i < size; ++k, ++i) {
            state = state * 1664525u + 1013904223u;
            out[i] = noise ? static_cast<char>(state >> 24)
                           : static_cast<char>('a' + (k * 7 + (seed & 15)) % 26);
        }
    }
    return out;
}

std::vector<PartLine> ReadParts(const char* path) {
    std::vector<PartLine> parts;
    std::ifstream in(path);
    PartLine part;
    while (in >> part.package >> part.name >> part.offset >> part.length) {
        parts.push_back(part);
    }
    return parts;
}

std::vector<DownloadTaskInfo> ToTasks(const std::string& baseUrl,
                                      const std::vector<PartLine>& parts) {
    std::vector<DownloadTaskInfo> tasks;
    for (const PartLine& part : parts) {
        DownloadTaskInfo task;
        task.url = Utf8ToWide(baseUrl + "/" + part.package);
        task.fileName = Utf8ToWide(part.name);
        task.offset = part.offset;
        task.length = part.length;
        task.downloadType = 2;
        tasks.push_back(task);
    }
    return tasks;
}

int Generate(const std::string& cdnDir, size_t totalMiB) {
    const size_t total = totalMiB * 1024 * 1024;
    const size_t packageCap = 64 * 1024 * 1024;
    size_t produced = 0;
    int packageIndex = 0;
    int fileIndex = 0;
    while (produced < total) {
        const std::string package = "p" + std::to_string(packageIndex++) + "/vd_game.vdpkg";
        const std::string folder = cdnDir + "/p" + std::to_string(packageIndex - 1);
        CreateDirectoryTree(Utf8ToWide(folder));
        FILE* out = OpenFile(Utf8ToWide(cdnDir + "/" + package), "wb");
        if (out == nullptr) {
            std::cerr << "cannot write " << package << "\n";
            return 1;
        }
        int64_t offset = 0;
        while (offset < static_cast<int64_t>(packageCap) && produced < total) {
            const uint32_t seed = static_cast<uint32_t>(fileIndex) * 2246822519u + 3266489917u;
            // Mostly small files, some large ones: 4 KiB to about 1 MiB.
            const size_t size = 4096 + (seed % 7 == 0 ? seed % (1024 * 1024) : seed % (96 * 1024));
            const std::string member = GzipMember(MakeContent(size, seed));
            fwrite(member.data(), 1, member.size(), out);
            std::cout << package << " res\\f" << fileIndex << ".dat " << offset << " "
                      << member.size() << "\n";
            offset += static_cast<int64_t>(member.size());
            produced += size;
            ++fileIndex;
        }
        fclose(out);
    }
    std::cerr << fileIndex << " files, " << produced / (1024 * 1024) << " MiB unpacked in "
              << packageIndex << " package files\n";
    return 0;
}

int Segments(const std::string& baseUrl, const char* partsFile) {
    for (const SegmentDownloadTaskInfo& segment :
         DownloaderTaskDispatcher::BuildSegments(ToTasks(baseUrl, ReadParts(partsFile)))) {
        std::cout << WideToUtf8(segment.url) << " " << segment.rangeStart << "-"
                  << segment.rangeStart + static_cast<int64_t>(segment.rangeLength) - 1 << "\n";
    }
    return 0;
}

class BenchOwner : public DownloaderTaskProcessor {
  public:
    explicit BenchOwner(std::wstring baseDir) : m_strBaseDir(std::move(baseDir)) {}
    DownloadDataProcessor* CreateDataProcessor(const DownloadTaskInfo& info) override {
        auto processor = std::make_unique<CDNResourceDataProcessor>(info);
        processor->SetBaseDir(m_strBaseDir);
        std::lock_guard<std::mutex> lock(m_mutex);
        m_processors.push_back(std::move(processor));
        return m_processors.back().get();
    }
    void OnTaskResult(const DownloadTaskResultInfo& result) override {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (result.resultCode != 200) {
            ++m_nFailed;
        }
    }
    void OnAllTasksFinished() override {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_bDone = true;
        m_done.notify_all();
    }
    void Wait() {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_done.wait(lock, [this] { return m_bDone; });
    }

    std::mutex m_mutex;  // guards everything below
    std::condition_variable m_done;
    std::wstring m_strBaseDir;
    std::vector<std::unique_ptr<CDNResourceDataProcessor>> m_processors;
    int m_nFailed = 0;
    bool m_bDone = false;
};

int Fetch(const std::string& baseUrl, const char* partsFile, const std::string& outDir) {
    const std::vector<DownloadTaskInfo> tasks = ToTasks(baseUrl, ReadParts(partsFile));
    const size_t segments = DownloaderTaskDispatcher::BuildSegments(tasks).size();
    BenchOwner owner(WithTrailingSeparator(Utf8ToWide(outDir)));
    const auto start = std::chrono::steady_clock::now();
    {
        DownloaderTaskDispatcher dispatcher(&owner);
        dispatcher.m_nMaxThreads = 3;
        dispatcher.AddTasks(tasks);
        owner.Wait();
    }
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    uint64_t written = 0;
    for (const auto& processor : owner.m_processors) {
        std::string bytes;
        ReadWholeFile(processor->GetFinalPath(), &bytes);
        written += bytes.size();
    }
    std::cout << "engine_seconds " << seconds << "\nengine_requests " << segments
              << "\nengine_files " << tasks.size() << "\nengine_failed " << owner.m_nFailed
              << "\nengine_bytes_written " << written << "\n";
    return owner.m_nFailed == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string command = argc > 1 ? argv[1] : "";
    if (command == "generate" && argc == 4) {
        return Generate(argv[2], static_cast<size_t>(atoi(argv[3])));
    }
    if (command == "segments" && argc == 4) {
        return Segments(argv[2], argv[3]);
    }
    if (command == "fetch" && argc == 5) {
        return Fetch(argv[2], argv[3], argv[4]);
    }
    std::cerr << "usage: download_bench generate CDN_DIR TOTAL_MIB | segments BASE_URL PARTS | "
                 "fetch BASE_URL PARTS OUT_DIR\n";
    return 2;
}
