// The release side of publishing: the studio's key pair, and the signed release manifest beside
// a config.
#pragma once

#include <string>

#include "update/release_manifest.h"

namespace kwrt::pack {

// Makes a key pair in `outDir`: "release.key" (the private key, readable by its owner only;
// an existing one is never overwritten) and "release.pub". `publicText` is the public key as
// the deployment value takes it. 0 on success; otherwise 1 with `error`.
int MakeKeyPair(const std::wstring& outDir, std::string* publicText, std::string* error);

// Reads a "release.key" file. False with `error` when it holds no private key.
bool ReadPrivateKey(const std::wstring& path, std::string* privateKey, std::string* error);

// The manifest beside `configFile`; false when there is none to read.
bool ReadReleaseManifest(const std::wstring& configFile, ReleaseManifest* manifest);

// Writes the manifest beside `configFile`, and with a non-empty `privateKey` its signature,
// each in one step. False with `error` otherwise.
bool WriteRelease(const std::wstring& configFile, const ReleaseManifest& manifest,
                  const std::string& privateKey, std::string* error);

// Signs a published version again with `expires` as its expiry (empty: none), after checking
// that its config still hashes to the manifest's value. 0 on success; otherwise 1 with `error`.
int SignAgain(const std::wstring& configFile, const std::wstring& keyPath,
              const std::string& expires, std::string* error);

}  // namespace kwrt::pack
