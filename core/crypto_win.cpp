// Windows CNG (bcrypt.dll).
#include <windows.h>

#include <bcrypt.h>

#include <vector>

#include "core/crypto.h"

namespace kwrt {

namespace {

bool Succeeded(NTSTATUS status) {
    return status >= 0;
}

// Algorithm providers are costly to open and safe to share between threads: one of each for
// the process, never closed.
BCRYPT_ALG_HANDLE Provider(LPCWSTR algorithm) {
    BCRYPT_ALG_HANDLE handle = nullptr;
    return Succeeded(BCryptOpenAlgorithmProvider(&handle, algorithm, nullptr, 0)) ? handle
                                                                                  : nullptr;
}

BCRYPT_ALG_HANDLE Sha256Provider() {
    static const BCRYPT_ALG_HANDLE provider = Provider(BCRYPT_SHA256_ALGORITHM);
    return provider;
}

BCRYPT_ALG_HANDLE EcdsaProvider() {
    static const BCRYPT_ALG_HANDLE provider = Provider(BCRYPT_ECDSA_P256_ALGORITHM);
    return provider;
}

class Key {
  public:
    ~Key() {
        if (m_handle != nullptr) {
            BCryptDestroyKey(m_handle);
        }
    }
    BCRYPT_KEY_HANDLE* Out() { return &m_handle; }
    BCRYPT_KEY_HANDLE Get() const { return m_handle; }

  private:
    BCRYPT_KEY_HANDLE m_handle = nullptr;
};

// Imports raw X, Y (and d) as the blob CNG takes: a header, then the numbers.
bool ImportKey(const std::string& raw, bool isPrivate, Key* key) {
    std::vector<unsigned char> blob(sizeof(BCRYPT_ECCKEY_BLOB) + raw.size());
    auto* header = reinterpret_cast<BCRYPT_ECCKEY_BLOB*>(blob.data());
    header->dwMagic = isPrivate ? BCRYPT_ECDSA_PRIVATE_P256_MAGIC : BCRYPT_ECDSA_PUBLIC_P256_MAGIC;
    header->cbKey = 32;
    memcpy(blob.data() + sizeof(BCRYPT_ECCKEY_BLOB), raw.data(), raw.size());
    const BCRYPT_ALG_HANDLE provider = EcdsaProvider();
    return provider != nullptr &&
           Succeeded(BCryptImportKeyPair(
               provider, nullptr, isPrivate ? BCRYPT_ECCPRIVATE_BLOB : BCRYPT_ECCPUBLIC_BLOB,
               key->Out(), blob.data(), static_cast<ULONG>(blob.size()), 0));
}

}  // namespace

struct Sha256::State {
    BCRYPT_HASH_HANDLE hash = nullptr;
};

Sha256::Sha256() : m_pState(std::make_unique<State>()) {
    const BCRYPT_ALG_HANDLE provider = Sha256Provider();
    if (provider != nullptr) {
        BCryptCreateHash(provider, &m_pState->hash, nullptr, 0, nullptr, 0, 0);
    }
}

Sha256::~Sha256() {
    if (m_pState->hash != nullptr) {
        BCryptDestroyHash(m_pState->hash);
    }
}

void Sha256::Update(const void* data, size_t size) {
    // One call takes at most 4 GiB; the pieces are far smaller in practice.
    const auto* bytes = static_cast<const unsigned char*>(data);
    while (size > 0 && m_pState->hash != nullptr) {
        const ULONG piece = size > 0x40000000u ? 0x40000000u : static_cast<ULONG>(size);
        BCryptHashData(m_pState->hash, const_cast<PUCHAR>(bytes), piece, 0);
        bytes += piece;
        size -= piece;
    }
}

std::string Sha256::Final() {
    unsigned char digest[kSha256Bytes] = {};
    if (m_pState->hash == nullptr ||
        !Succeeded(BCryptFinishHash(m_pState->hash, digest, sizeof(digest), 0))) {
        return std::string();
    }
    return std::string(reinterpret_cast<const char*>(digest), sizeof(digest));
}

bool GenerateP256Key(std::string* privateKey, std::string* publicKey) {
    const BCRYPT_ALG_HANDLE provider = EcdsaProvider();
    Key key;
    if (provider == nullptr || !Succeeded(BCryptGenerateKeyPair(provider, key.Out(), 256, 0)) ||
        !Succeeded(BCryptFinalizeKeyPair(key.Get(), 0))) {
        return false;
    }
    ULONG size = 0;
    if (!Succeeded(
            BCryptExportKey(key.Get(), nullptr, BCRYPT_ECCPRIVATE_BLOB, nullptr, 0, &size, 0))) {
        return false;
    }
    std::vector<unsigned char> blob(size);
    if (!Succeeded(BCryptExportKey(key.Get(), nullptr, BCRYPT_ECCPRIVATE_BLOB, blob.data(), size,
                                   &size, 0)) ||
        size != sizeof(BCRYPT_ECCKEY_BLOB) + kP256PrivateKeyBytes) {
        return false;
    }
    privateKey->assign(reinterpret_cast<const char*>(blob.data()) + sizeof(BCRYPT_ECCKEY_BLOB),
                       kP256PrivateKeyBytes);
    *publicKey = privateKey->substr(0, kP256PublicKeyBytes);
    return true;
}

bool SignP256(const std::string& privateKey, const std::string& message, std::string* signature) {
    Key key;
    if (privateKey.size() != kP256PrivateKeyBytes || !ImportKey(privateKey, true, &key)) {
        return false;
    }
    std::string digest = Sha256Of(message);
    unsigned char rs[kP256SignatureBytes];
    ULONG size = 0;
    if (digest.size() != kSha256Bytes ||
        !Succeeded(BCryptSignHash(key.Get(), nullptr, reinterpret_cast<PUCHAR>(&digest[0]),
                                  kSha256Bytes, rs, sizeof(rs), &size, 0)) ||
        size != sizeof(rs)) {
        return false;
    }
    signature->assign(reinterpret_cast<const char*>(rs), sizeof(rs));
    return true;
}

bool VerifyP256(const std::string& publicKey, const std::string& message,
                const std::string& signature) {
    Key key;
    if (publicKey.size() != kP256PublicKeyBytes || signature.size() != kP256SignatureBytes ||
        !ImportKey(publicKey, false, &key)) {
        return false;
    }
    std::string digest = Sha256Of(message);
    std::string copy = signature;
    return digest.size() == kSha256Bytes &&
           Succeeded(BCryptVerifySignature(key.Get(), nullptr, reinterpret_cast<PUCHAR>(&digest[0]),
                                           kSha256Bytes, reinterpret_cast<PUCHAR>(&copy[0]),
                                           kP256SignatureBytes, 0));
}

}  // namespace kwrt
