// OpenSSL's libcrypto (the 3.0 interface).
#include <openssl/core_names.h>
#include <openssl/ec.h>
#include <openssl/evp.h>
#include <openssl/param_build.h>

#include <memory>

#include "core/crypto.h"

namespace kwrt {

namespace {

struct PkeyFree {
    void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
};
struct MdCtxFree {
    void operator()(EVP_MD_CTX* context) const { EVP_MD_CTX_free(context); }
};
struct BnFree {
    void operator()(BIGNUM* number) const { BN_free(number); }
};
struct SigFree {
    void operator()(ECDSA_SIG* signature) const { ECDSA_SIG_free(signature); }
};
using Pkey = std::unique_ptr<EVP_PKEY, PkeyFree>;
using MdCtx = std::unique_ptr<EVP_MD_CTX, MdCtxFree>;
using Bn = std::unique_ptr<BIGNUM, BnFree>;

const unsigned char* Bytes(const std::string& text) {
    return reinterpret_cast<const unsigned char*>(text.data());
}

// A key from raw X and Y, and d when `privateScalar` is not empty.
Pkey ImportKey(const std::string& publicXy, const std::string& privateScalar) {
    const std::string point = "\x04" + publicXy;
    OSSL_PARAM_BLD* builder = OSSL_PARAM_BLD_new();
    if (builder == nullptr) {
        return nullptr;
    }
    Bn scalar;
    bool built = OSSL_PARAM_BLD_push_utf8_string(builder, OSSL_PKEY_PARAM_GROUP_NAME, "prime256v1",
                                                 0) == 1 &&
                 OSSL_PARAM_BLD_push_octet_string(builder, OSSL_PKEY_PARAM_PUB_KEY, point.data(),
                                                  point.size()) == 1;
    if (built && !privateScalar.empty()) {
        scalar.reset(
            BN_bin2bn(Bytes(privateScalar), static_cast<int>(privateScalar.size()), nullptr));
        built =
            scalar && OSSL_PARAM_BLD_push_BN(builder, OSSL_PKEY_PARAM_PRIV_KEY, scalar.get()) == 1;
    }
    OSSL_PARAM* params = built ? OSSL_PARAM_BLD_to_param(builder) : nullptr;
    OSSL_PARAM_BLD_free(builder);
    if (params == nullptr) {
        return nullptr;
    }
    EVP_PKEY* key = nullptr;
    EVP_PKEY_CTX* context = EVP_PKEY_CTX_new_from_name(nullptr, "EC", nullptr);
    if (context != nullptr && EVP_PKEY_fromdata_init(context) == 1) {
        EVP_PKEY_fromdata(context, &key,
                          privateScalar.empty() ? EVP_PKEY_PUBLIC_KEY : EVP_PKEY_KEYPAIR, params);
    }
    EVP_PKEY_CTX_free(context);
    OSSL_PARAM_free(params);
    return Pkey(key);
}

bool BignumBytes(const EVP_PKEY* key, const char* name, std::string* out) {
    BIGNUM* number = nullptr;
    if (EVP_PKEY_get_bn_param(key, name, &number) != 1) {
        return false;
    }
    Bn owned(number);
    unsigned char bytes[32];
    if (BN_bn2binpad(number, bytes, sizeof(bytes)) != static_cast<int>(sizeof(bytes))) {
        return false;
    }
    out->append(reinterpret_cast<const char*>(bytes), sizeof(bytes));
    return true;
}

}  // namespace

struct Sha256::State {
    MdCtx context{EVP_MD_CTX_new()};
};

Sha256::Sha256() : m_pState(std::make_unique<State>()) {
    EVP_DigestInit_ex(m_pState->context.get(), EVP_sha256(), nullptr);
}

Sha256::~Sha256() = default;

void Sha256::Update(const void* data, size_t size) {
    EVP_DigestUpdate(m_pState->context.get(), data, size);
}

std::string Sha256::Final() {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int size = 0;
    EVP_DigestFinal_ex(m_pState->context.get(), digest, &size);
    return std::string(reinterpret_cast<const char*>(digest), size);
}

bool GenerateP256Key(std::string* privateKey, std::string* publicKey) {
    Pkey key(EVP_PKEY_Q_keygen(nullptr, nullptr, "EC", "P-256"));
    if (!key) {
        return false;
    }
    std::string xy, d;
    if (!BignumBytes(key.get(), OSSL_PKEY_PARAM_EC_PUB_X, &xy) ||
        !BignumBytes(key.get(), OSSL_PKEY_PARAM_EC_PUB_Y, &xy) ||
        !BignumBytes(key.get(), OSSL_PKEY_PARAM_PRIV_KEY, &d)) {
        return false;
    }
    *publicKey = xy;
    *privateKey = xy + d;
    return true;
}

bool SignP256(const std::string& privateKey, const std::string& message, std::string* signature) {
    if (privateKey.size() != kP256PrivateKeyBytes) {
        return false;
    }
    Pkey key = ImportKey(privateKey.substr(0, kP256PublicKeyBytes),
                         privateKey.substr(kP256PublicKeyBytes));
    MdCtx context(EVP_MD_CTX_new());
    size_t size = 0;
    if (!key || !context ||
        EVP_DigestSignInit(context.get(), nullptr, EVP_sha256(), nullptr, key.get()) != 1 ||
        EVP_DigestSign(context.get(), nullptr, &size, Bytes(message), message.size()) != 1) {
        return false;
    }
    std::string der(size, '\0');
    if (EVP_DigestSign(context.get(), reinterpret_cast<unsigned char*>(&der[0]), &size,
                       Bytes(message), message.size()) != 1) {
        return false;
    }
    const unsigned char* cursor = Bytes(der);
    std::unique_ptr<ECDSA_SIG, SigFree> parsed(
        d2i_ECDSA_SIG(nullptr, &cursor, static_cast<long>(size)));
    if (!parsed) {
        return false;
    }
    unsigned char rs[kP256SignatureBytes];
    if (BN_bn2binpad(ECDSA_SIG_get0_r(parsed.get()), rs, 32) != 32 ||
        BN_bn2binpad(ECDSA_SIG_get0_s(parsed.get()), rs + 32, 32) != 32) {
        return false;
    }
    signature->assign(reinterpret_cast<const char*>(rs), sizeof(rs));
    return true;
}

bool VerifyP256(const std::string& publicKey, const std::string& message,
                const std::string& signature) {
    if (publicKey.size() != kP256PublicKeyBytes || signature.size() != kP256SignatureBytes) {
        return false;
    }
    Pkey key = ImportKey(publicKey, std::string());
    std::unique_ptr<ECDSA_SIG, SigFree> parsed(ECDSA_SIG_new());
    BIGNUM* r = BN_bin2bn(Bytes(signature), 32, nullptr);
    BIGNUM* s = BN_bin2bn(Bytes(signature) + 32, 32, nullptr);
    if (!key || !parsed || r == nullptr || s == nullptr ||
        ECDSA_SIG_set0(parsed.get(), r, s) != 1) {
        BN_free(r);
        BN_free(s);
        return false;
    }
    unsigned char* der = nullptr;
    const int size = i2d_ECDSA_SIG(parsed.get(), &der);
    if (size <= 0) {
        return false;
    }
    MdCtx context(EVP_MD_CTX_new());
    const bool valid =
        context &&
        EVP_DigestVerifyInit(context.get(), nullptr, EVP_sha256(), nullptr, key.get()) == 1 &&
        EVP_DigestVerify(context.get(), der, static_cast<size_t>(size), Bytes(message),
                         message.size()) == 1;
    OPENSSL_free(der);
    return valid;
}

}  // namespace kwrt
