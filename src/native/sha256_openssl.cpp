// SHA-256 through OpenSSL's libcrypto (EVP), for the native build.
#include <openssl/evp.h>

#include <memory>

#include "flow/sha256.h"

namespace vantile {
namespace {

struct DigestContextFree {
    void operator()(EVP_MD_CTX* context) const { EVP_MD_CTX_free(context); }
};

class OpenSslSha256 final : public Sha256 {
  public:
    explicit OpenSslSha256(std::unique_ptr<EVP_MD_CTX, DigestContextFree> context)
        : context_(std::move(context)) {}

    Status feed(const std::uint8_t* bytes, std::size_t size) override {
        if (finished_) return fail("the digest was already finished");
        if (EVP_DigestUpdate(context_.get(), bytes, size) != 1)
            return fail("OpenSSL could not hash the data");
        return {};
    }

    Result<Sha256Digest> finish() override {
        if (finished_) return fail("the digest was already finished");
        finished_ = true;
        Sha256Digest digest{};
        unsigned int size = 0;
        if (EVP_DigestFinal_ex(context_.get(), digest.data(), &size) != 1 || size != digest.size())
            return fail("OpenSSL could not finish the digest");
        return digest;
    }

  private:
    std::unique_ptr<EVP_MD_CTX, DigestContextFree> context_;
    bool finished_ = false;
};

}  // namespace

Result<std::unique_ptr<Sha256>> start_sha256() {
    std::unique_ptr<EVP_MD_CTX, DigestContextFree> context(EVP_MD_CTX_new());
    if (!context || EVP_DigestInit_ex(context.get(), EVP_sha256(), nullptr) != 1)
        return fail("OpenSSL could not start SHA-256");
    return std::unique_ptr<Sha256>(std::make_unique<OpenSslSha256>(std::move(context)));
}

}  // namespace vantile
