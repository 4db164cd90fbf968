// wininet_reference.exe: the least a Windows program must do to install what the launcher
// installs, as the yardstick of the Windows build's speed. It fetches the same merged ranges
// (back-to-back members of a package joined while the range is shorter than 10 MiB, as the
// launcher's dispatcher joins them) with WinINet on three threads, reads each body 64 KiB at a
// time, writes each member to a temporary file, unpacks it with zlib into its own file and deletes
// the temporary one, as the launcher does. Prints the seconds it took.
//
//   wininet_reference HOST PORT PARTS OUT_DIR
//
// PARTS: one line per member, "PACKAGE_PATH OFFSET LENGTH" (the path below the CDN root).
#include <windows.h>
// After windows.h:
#include <wininet.h>
#include <zlib.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr int64_t kMaxSegmentBytes = 10485760;
constexpr DWORD kReadBlock = 64 * 1024;

struct Member {
    int64_t offset = 0;
    int64_t length = 0;
    size_t index = 0;  // its output file's number
};

struct Segment {
    std::string path;
    int64_t start = 0;
    int64_t length = 0;
    std::vector<Member> members;
};

std::wstring Wide(const std::string& text) {
    return std::wstring(text.begin(), text.end());  // paths and hosts here are ASCII
}

bool Unpack(const std::wstring& from, const std::wstring& to) {
    gzFile in = gzopen_w(from.c_str(), "rb");
    if (in == nullptr) {
        return false;
    }
    FILE* out = _wfopen(to.c_str(), L"wb");
    bool ok = out != nullptr;
    std::vector<char> block(kReadBlock);
    while (ok) {
        const int got = gzread(in, block.data(), static_cast<unsigned>(block.size()));
        if (got < 0) {
            ok = false;
        } else if (got == 0) {
            break;
        } else {
            ok = fwrite(block.data(), 1, static_cast<size_t>(got), out) == static_cast<size_t>(got);
        }
    }
    gzclose(in);
    if (out != nullptr) {
        ok = fclose(out) == 0 && ok;
    }
    return ok;
}

// Fetches one segment and installs its members; false on any failure.
bool Fetch(HINTERNET connection, const Segment& segment, const std::wstring& outDir) {
    const wchar_t* accept[] = {L"*/*", nullptr};
    HINTERNET request = HttpOpenRequestW(
        connection, L"GET", Wide("/" + segment.path).c_str(), nullptr, nullptr, accept,
        INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_KEEP_CONNECTION, 0);
    if (request == nullptr) {
        return false;
    }
    const std::wstring range = L"Range: bytes=" + std::to_wstring(segment.start) + L"-" +
                               std::to_wstring(segment.start + segment.length - 1) + L"\r\n";
    bool ok =
        HttpSendRequestW(request, range.c_str(), static_cast<DWORD>(range.size()), nullptr, 0) != 0;
    std::vector<char> block(kReadBlock);
    size_t member = 0;
    int64_t at = segment.start;  // the package offset of the next byte
    FILE* temp = nullptr;
    std::wstring tempPath;
    while (ok && member < segment.members.size()) {
        DWORD got = 0;
        if (!InternetReadFile(request, block.data(), kReadBlock, &got)) {
            ok = false;
            break;
        }
        if (got == 0) {
            break;
        }
        DWORD used = 0;
        while (used < got && member < segment.members.size()) {
            const Member& m = segment.members[member];
            if (temp == nullptr) {
                tempPath = outDir + L"\\" + std::to_wstring(m.index) + L".t";
                temp = _wfopen(tempPath.c_str(), L"wb");
                if (temp == nullptr) {
                    ok = false;
                    break;
                }
            }
            const int64_t left = m.offset + m.length - at;
            const DWORD take = static_cast<DWORD>(std::min<int64_t>(left, got - used));
            ok = fwrite(block.data() + used, 1, take, temp) == take;
            used += take;
            at += take;
            if (at == m.offset + m.length) {
                ok = fclose(temp) == 0 && ok;
                temp = nullptr;
                ok = ok && Unpack(tempPath, outDir + L"\\" + std::to_wstring(m.index));
                DeleteFileW(tempPath.c_str());
                ++member;
            }
        }
    }
    if (temp != nullptr) {
        fclose(temp);
    }
    InternetCloseHandle(request);
    return ok && member == segment.members.size();
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 5) {
        fprintf(stderr, "usage: wininet_reference HOST PORT PARTS OUT_DIR\n");
        return 2;
    }
    std::vector<Segment> segments;
    std::ifstream parts(argv[3]);
    std::string line;
    size_t index = 0;
    while (std::getline(parts, line)) {
        std::istringstream fields(line);
        Segment part;
        Member member;
        if (!(fields >> part.path >> member.offset >> member.length)) {
            continue;
        }
        member.index = index++;
        Segment* last = segments.empty() ? nullptr : &segments.back();
        if (last != nullptr && last->path == part.path &&
            last->start + last->length == member.offset && last->length < kMaxSegmentBytes) {
            last->length += member.length;
            last->members.push_back(member);
        } else {
            part.start = member.offset;
            part.length = member.length;
            part.members.push_back(member);
            segments.push_back(part);
        }
    }
    const std::wstring outDir = Wide(argv[4]);
    CreateDirectoryW(outDir.c_str(), nullptr);
    const auto start = std::chrono::steady_clock::now();
    HINTERNET session =
        InternetOpenW(L"wininet_reference", INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0);
    std::atomic<size_t> next{0};
    std::atomic<bool> failed{false};
    std::vector<std::thread> workers;
    for (int t = 0; t < 3; ++t) {
        workers.emplace_back([&] {
            HINTERNET connection = InternetConnectW(session, Wide(argv[1]).c_str(),
                                                    static_cast<INTERNET_PORT>(atoi(argv[2])),
                                                    nullptr, nullptr, INTERNET_SERVICE_HTTP, 0, 0);
            for (size_t i = next++; i < segments.size() && connection != nullptr; i = next++) {
                if (!Fetch(connection, segments[i], outDir)) {
                    failed = true;
                }
            }
            if (connection != nullptr) {
                InternetCloseHandle(connection);
            }
        });
    }
    for (std::thread& worker : workers) {
        worker.join();
    }
    InternetCloseHandle(session);
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    printf("reference_seconds %.2f\nreference_segments %u\nreference_members %u\n", seconds,
           static_cast<unsigned>(segments.size()), static_cast<unsigned>(index));
    return failed ? 1 : 0;
}
