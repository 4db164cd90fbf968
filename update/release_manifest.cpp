#include "update/release_manifest.h"

#include <json/json.h>

#include <algorithm>
#include <ctime>

#include "core/base64.h"
#include "core/crypto.h"
#include "core/text.h"
#include "update/server_json.h"

namespace kwrt {

const wchar_t kReleaseManifestSuffix[] = L".release";
const wchar_t kReleaseSignatureSuffix[] = L".release.sig";
const wchar_t kChunksOnlyFolder[] = L"chunks";

namespace {

const char kPublicPrefix[] = "p256:";
const char kPrivatePrefix[] = "p256-private:";

std::string FileKey(bool launcher, const std::wstring& name) {
    return std::string(launcher ? "l\t" : "r\t") + WideToUtf8(name);
}

std::string Trimmed(const std::string& text) {
    const size_t begin = text.find_first_not_of(" \t\r\n");
    if (begin == std::string::npos) {
        return std::string();
    }
    return text.substr(begin, text.find_last_not_of(" \t\r\n") + 1 - begin);
}

// Base64 of exactly `size` bytes after `prefix`, and nothing else.
bool ParsePrefixedBase64(const std::string& text, const char* prefix, size_t size,
                         std::string* bytes) {
    const std::string trimmed = Trimmed(text);
    const std::string start(prefix);
    if (trimmed.compare(0, start.size(), start) != 0) {
        return false;
    }
    const std::string body = trimmed.substr(start.size());
    if (body.find_first_not_of(
            "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/=") !=
        std::string::npos) {
        return false;
    }
    std::string decoded = Base64Decode(body);
    if (decoded.size() != size || Base64Encode(decoded) != body) {
        return false;
    }
    *bytes = std::move(decoded);
    return true;
}

bool ParseCount(const std::string& text, int64_t* value) {
    if (text.empty() || text.size() > 18 ||
        text.find_first_not_of("0123456789") != std::string::npos) {
        return false;
    }
    *value = std::stoll(text);
    return true;
}

}  // namespace

std::wstring ChunkListPath(const std::string& id) {
    return L"chunk-lists/" + Utf8ToWide(HexLower(id));
}

std::wstring ChunkDeltaPath(const std::string& id, const std::string& base) {
    return ChunkListPath(id) + L".from-" + Utf8ToWide(HexLower(base));
}

void ReleaseManifest::AddFile(bool launcher, const std::wstring& name, ReleaseFileDigest digest) {
    m_files.emplace_back(FileKey(launcher, name), std::move(digest));
    m_bSorted = false;
}

void ReleaseManifest::Sort() const {
    if (!m_bSorted) {
        std::sort(m_files.begin(), m_files.end(),
                  [](const auto& a, const auto& b) { return a.first < b.first; });
        m_bSorted = true;
    }
}

const ReleaseFileDigest* ReleaseManifest::Find(bool launcher, const std::wstring& name) const {
    Sort();
    const std::string key = FileKey(launcher, name);
    auto it =
        std::lower_bound(m_files.begin(), m_files.end(), key,
                         [](const auto& entry, const std::string& k) { return entry.first < k; });
    return it != m_files.end() && it->first == key ? &it->second : nullptr;
}

void ReleaseManifest::ForEachFile(
    const std::function<void(bool launcher, const std::wstring& name,
                             const ReleaseFileDigest& digest)>& visit) const {
    Sort();
    for (const auto& file : m_files) {
        visit(file.first[0] == 'l', Utf8ToWide(file.first.substr(2)), file.second);
    }
}

std::string ReleaseManifest::Format() const {
    bool chunked = false;
    for (const auto& file : m_files) {
        chunked |= !file.second.chunkList.empty();
    }
    Json::Value header(Json::objectValue);
    header["format"] = chunked ? kChunkedFormat : kFormat;
    if (chunked) {
        header["chunks"]["min"] = chunking.min;
        header["chunks"]["avg"] = chunking.avg;
        header["chunks"]["max"] = chunking.max;
    }
    header["release"] = Json::Int64(release);
    header["config_sha256"] = HexLower(configSha256);
    if (!expires.empty()) {
        header["expires"] = expires;
    }
    header["files"] = Json::UInt64(m_files.size());
    Json::StreamWriterBuilder writer;
    writer["indentation"] = "";
    writer["emitUTF8"] = true;
    std::string text = Json::writeString(writer, header) + "\n";
    Sort();
    for (const auto& file : m_files) {
        text += HexLower(file.second.sha256) + "\t" + std::to_string(file.second.size) + "\t" +
                (file.first[0] == 'l' ? "launcher" : "res") + "\t";
        if (chunked) {
            text +=
                file.second.chunkList.empty() ? std::string("-") : HexLower(file.second.chunkList);
            if (!file.second.deltaBase.empty()) {
                text += "+" + HexLower(file.second.deltaBase);
            }
            text += "\t";
        }
        text += file.first.substr(2) + "\n";
    }
    return text;
}

bool ReleaseManifest::Parse(const std::string& bytes, std::string* problem) {
    *this = ReleaseManifest();
    const size_t headerEnd = bytes.find('\n');
    Json::Value header;
    if (headerEnd == std::string::npos || !ParseServerJson(bytes.substr(0, headerEnd), &header) ||
        !header.isObject()) {
        *problem = "its header is not a JSON object";
        return false;
    }
    const Json::Value& format = header["format"];
    if (!format.isInt() || (format.asInt() != kFormat && format.asInt() != kChunkedFormat)) {
        *problem = "its format is neither 1 nor 2";
        return false;
    }
    const bool chunked = format.asInt() == kChunkedFormat;
    if (chunked) {
        const Json::Value& chunks = header["chunks"];
        if (!chunks.isObject() || !chunks["min"].isUInt() || !chunks["avg"].isUInt() ||
            !chunks["max"].isUInt()) {
            *problem = "its header lacks the chunker's parameters";
            return false;
        }
        chunking =
            ChunkParameters{chunks["min"].asUInt(), chunks["avg"].asUInt(), chunks["max"].asUInt()};
        if (!chunking.Valid()) {
            *problem = "its chunker's parameters are no size range";
            return false;
        }
    }
    const Json::Value& number = header["release"];
    const Json::Value& config = header["config_sha256"];
    const Json::Value& count = header["files"];
    if (!number.isInt64() || number.asInt64() < 0 || !config.isString() ||
        !ParseHex(config.asString(), &configSha256) || configSha256.size() != kSha256Bytes ||
        !count.isUInt64()) {
        *problem = "its header lacks the release, the config's SHA-256 or the file count";
        return false;
    }
    release = number.asInt64();
    if (header.isMember("expires")) {
        if (!header["expires"].isString() || !IsCalendarDate(header["expires"].asString())) {
            *problem = "its expiry is not a date";
            return false;
        }
        expires = header["expires"].asString();
    }
    size_t at = headerEnd + 1;
    while (at < bytes.size()) {
        size_t end = bytes.find('\n', at);
        if (end == std::string::npos) {
            end = bytes.size();
        }
        const std::string line = bytes.substr(at, end - at);
        at = end + 1;
        const size_t tab1 = line.find('\t');
        const size_t tab2 = tab1 == std::string::npos ? tab1 : line.find('\t', tab1 + 1);
        const size_t tab3 = tab2 == std::string::npos ? tab2 : line.find('\t', tab2 + 1);
        // Format 2: the chunk list's field, then the name.
        const size_t tab4 =
            !chunked || tab3 == std::string::npos ? tab3 : line.find('\t', tab3 + 1);
        const size_t nameAt = tab4 == std::string::npos ? tab4 : tab4 + 1;
        ReleaseFileDigest digest;
        if (chunked && tab4 != std::string::npos) {
            std::string list = line.substr(tab3 + 1, tab4 - tab3 - 1);
            const size_t plus = list.find('+');
            if (plus != std::string::npos) {
                if (!ParseHex(list.substr(plus + 1), &digest.deltaBase) ||
                    digest.deltaBase.size() != kDeltaBaseBytes) {
                    *problem =
                        "line " + std::to_string(m_files.size() + 2) + " names no delta base";
                    return false;
                }
                list.erase(plus);
            }
            if (list != "-" &&
                (!ParseHex(list, &digest.chunkList) || digest.chunkList.size() != kSha256Bytes)) {
                *problem = "line " + std::to_string(m_files.size() + 2) + " names no chunk list";
                return false;
            }
        }
        const std::string category =
            tab3 == std::string::npos ? "" : line.substr(tab2 + 1, tab3 - tab2 - 1);
        if (nameAt == std::string::npos || !ParseHex(line.substr(0, tab1), &digest.sha256) ||
            digest.sha256.size() != kSha256Bytes ||
            !ParseCount(line.substr(tab1 + 1, tab2 - tab1 - 1), &digest.size) ||
            (category != "res" && category != "launcher") || nameAt >= line.size()) {
            *problem = "line " + std::to_string(m_files.size() + 2) + " is not a file's line";
            return false;
        }
        m_files.emplace_back(
            std::string(category == "launcher" ? "l\t" : "r\t") + line.substr(nameAt),
            std::move(digest));
    }
    if (m_files.size() != count.asUInt64()) {
        *problem = "it names " + std::to_string(m_files.size()) + " files, its header " +
                   std::to_string(count.asUInt64());
        return false;
    }
    m_bSorted = false;
    Sort();
    for (size_t i = 1; i < m_files.size(); ++i) {
        if (m_files[i].first == m_files[i - 1].first) {
            *problem = "it names a file twice: " + m_files[i].first.substr(2);
            return false;
        }
    }
    return true;
}

bool ParsePublicKeyText(const std::string& text, std::string* publicKey) {
    return ParsePrefixedBase64(text, kPublicPrefix, kP256PublicKeyBytes, publicKey);
}

std::string FormatPublicKeyText(const std::string& publicKey) {
    return kPublicPrefix + Base64Encode(publicKey);
}

bool ParsePrivateKeyText(const std::string& text, std::string* privateKey) {
    return ParsePrefixedBase64(text, kPrivatePrefix, kP256PrivateKeyBytes, privateKey);
}

std::string FormatPrivateKeyText(const std::string& privateKey) {
    return kPrivatePrefix + Base64Encode(privateKey);
}

std::string FormatSignatureText(const std::string& signature) {
    return Base64Encode(signature) + "\n";
}

bool ParseSignatureText(const std::string& text, std::string* signature) {
    return ParsePrefixedBase64(text, "", kP256SignatureBytes, signature);
}

bool IsCalendarDate(const std::string& date) {
    if (date.size() != 10 || date[4] != '-' || date[7] != '-') {
        return false;
    }
    int64_t year = 0, month = 0, day = 0;
    if (!ParseCount(date.substr(0, 4), &year) || !ParseCount(date.substr(5, 2), &month) ||
        !ParseCount(date.substr(8, 2), &day) || month < 1 || month > 12 || day < 1) {
        return false;
    }
    static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    return day <= kDays[month - 1] + (month == 2 && leap ? 1 : 0);
}

std::string TodayUtc() {
    const std::time_t now = std::time(nullptr);
    std::tm utc{};
#ifdef _WIN32
    gmtime_s(&utc, &now);
#else
    gmtime_r(&now, &utc);
#endif
    char text[16];
    std::strftime(text, sizeof(text), "%Y-%m-%d", &utc);
    return text;
}

std::wstring CheckRelease(const std::string& publicKey, const ReleaseEvidence& evidence,
                          int64_t acceptedRelease, const std::string& today,
                          ReleaseManifest* manifest) {
    if (evidence.manifest == nullptr) {
        return L"the release manifest could not be fetched";
    }
    if (evidence.signature == nullptr) {
        return L"the release signature could not be fetched";
    }
    std::string signature;
    if (!ParseSignatureText(*evidence.signature, &signature)) {
        return L"the release signature is not a signature";
    }
    if (!VerifyP256(publicKey, *evidence.manifest, signature)) {
        return L"the release signature does not verify under the release key";
    }
    std::string problem;
    if (!manifest->Parse(*evidence.manifest, &problem)) {
        return L"the signed release manifest cannot be read: " + Utf8ToWide(problem);
    }
    const std::string configHash = Sha256Of(*evidence.config);
    if (configHash != manifest->configSha256) {
        return L"the config's SHA-256 " + Utf8ToWide(HexLower(configHash)) +
               L" is not the release manifest's " + Utf8ToWide(HexLower(manifest->configSha256));
    }
    if (manifest->release < acceptedRelease) {
        return L"release " + Utf8ToWide(std::to_string(manifest->release)) +
               L" is older than release " + Utf8ToWide(std::to_string(acceptedRelease)) +
               L", which this installation has accepted";
    }
    if (!manifest->expires.empty() && today > manifest->expires) {
        return L"release " + Utf8ToWide(std::to_string(manifest->release)) + L" expired on " +
               Utf8ToWide(manifest->expires);
    }
    return std::wstring();
}

}  // namespace kwrt
