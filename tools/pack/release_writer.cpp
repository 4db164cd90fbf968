#include "tools/pack/release_writer.h"

#include "core/crypto.h"
#include "core/os.h"
#include "core/paths.h"
#include "core/text.h"
#include "download/file_helpers.h"

namespace kwrt::pack {

int MakeKeyPair(const std::wstring& outDir, std::string* publicText, std::string* error) {
    const std::wstring folder = WithTrailingSeparator(outDir);
    const std::wstring keyPath = folder + L"release.key";
    if (PathExists(keyPath)) {
        *error = WideToUtf8(keyPath) + " exists: a key is never overwritten";
        return 1;
    }
    std::string privateKey, publicKey;
    if (!GenerateP256Key(&privateKey, &publicKey)) {
        *error = "the system could not make a P-256 key pair";
        return 1;
    }
    if (!IsDirectory(folder)) {
        CreateDirectoryTree(folder);
    }
    if (!CreatePrivateFile(keyPath, FormatPrivateKeyText(privateKey) + "\n")) {
        *error = "cannot create " + WideToUtf8(keyPath);
        return 1;
    }
    *publicText = FormatPublicKeyText(publicKey);
    if (!WriteBinaryFileReplacing(folder + L"release.pub", *publicText + "\n")) {
        *error = "cannot write " + WideToUtf8(folder + L"release.pub");
        return 1;
    }
    return 0;
}

bool ReadPrivateKey(const std::wstring& path, std::string* privateKey, std::string* error) {
    std::string text;
    if (!ReadBinaryFile(path, &text)) {
        *error = "cannot read the key " + WideToUtf8(path);
        return false;
    }
    if (!ParsePrivateKeyText(text, privateKey)) {
        *error = WideToUtf8(path) + " holds no private key (release.key, as keygen makes it)";
        return false;
    }
    return true;
}

bool ReadReleaseManifest(const std::wstring& configFile, ReleaseManifest* manifest) {
    std::string bytes, problem;
    return ReadBinaryFile(configFile + kReleaseManifestSuffix, &bytes) &&
           manifest->Parse(bytes, &problem);
}

bool WriteRelease(const std::wstring& configFile, const ReleaseManifest& manifest,
                  const std::string& privateKey, std::string* error) {
    const std::string bytes = manifest.Format();
    const std::wstring manifestPath = configFile + kReleaseManifestSuffix;
    const std::wstring signaturePath = configFile + kReleaseSignatureSuffix;
    std::string signature;
    if (!privateKey.empty() && !SignP256(privateKey, bytes, &signature)) {
        *error = "the system could not sign the release manifest";
        return false;
    }
    if (!WriteBinaryFileReplacing(manifestPath, bytes)) {
        *error = "cannot write the release manifest " + WideToUtf8(manifestPath);
        return false;
    }
    if (privateKey.empty()) {
        // An unsigned release: a signature of an earlier one must not stay beside it.
        if (PathExists(signaturePath) && !RemoveFile(signaturePath)) {
            *error = "cannot remove the old signature " + WideToUtf8(signaturePath);
            return false;
        }
        return true;
    }
    if (!WriteBinaryFileReplacing(signaturePath, FormatSignatureText(signature))) {
        *error = "cannot write the signature " + WideToUtf8(signaturePath);
        return false;
    }
    return true;
}

int SignAgain(const std::wstring& configFile, const std::wstring& keyPath,
              const std::string& expires, std::string* error) {
    std::string privateKey;
    if (!ReadPrivateKey(keyPath, &privateKey, error)) {
        return 1;
    }
    std::string config, bytes, problem;
    ReleaseManifest manifest;
    if (!ReadBinaryFile(configFile, &config)) {
        *error = "cannot read the config " + WideToUtf8(configFile);
        return 1;
    }
    if (!ReadBinaryFile(configFile + kReleaseManifestSuffix, &bytes) ||
        !manifest.Parse(bytes, &problem)) {
        *error = "cannot read the release manifest beside " + WideToUtf8(configFile) +
                 (problem.empty() ? std::string() : ": " + problem);
        return 1;
    }
    if (Sha256Of(config) != manifest.configSha256) {
        *error = "the config " + WideToUtf8(configFile) +
                 " is not the one its release manifest names: publish it again instead";
        return 1;
    }
    manifest.expires = expires;
    return WriteRelease(configFile, manifest, privateKey, error) ? 0 : 1;
}

}  // namespace kwrt::pack
