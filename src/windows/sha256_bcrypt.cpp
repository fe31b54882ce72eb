// SHA-256 through Windows' CNG (bcrypt.dll).
#include <windows.h>
#include <bcrypt.h>

#include <algorithm>
#include <limits>

#include "windows/error_text.h"
#include "flow/sha256.h"
#include "windows/unique_handle.h"

namespace vantile {
namespace {

bool succeeded(NTSTATUS status) {
    return status >= 0;
}

class BcryptSha256 final : public Sha256 {
  public:
    BcryptSha256(UniqueBcryptAlgorithm algorithm, UniqueBcryptHash hash)
        : algorithm_(std::move(algorithm)), hash_(std::move(hash)) {}

    Status feed(const std::uint8_t* bytes, std::size_t size) override {
        if (!hash_) return fail("the digest was already finished");
        while (size > 0) {
            // BCryptHashData counts in ULONG; larger inputs go in pieces.
            const ULONG piece =
                static_cast<ULONG>(std::min<std::size_t>(size, std::numeric_limits<ULONG>::max()));
            NTSTATUS status = BCryptHashData(hash_.get(), const_cast<PUCHAR>(bytes), piece, 0);
            if (!succeeded(status)) return fail(nt_status_text(status));
            bytes += piece;
            size -= piece;
        }
        return {};
    }

    Result<Sha256Digest> finish() override {
        if (!hash_) return fail("the digest was already finished");
        Sha256Digest digest{};
        NTSTATUS status =
            BCryptFinishHash(hash_.get(), digest.data(), static_cast<ULONG>(digest.size()), 0);
        // A finished CNG hash object can only be destroyed.
        hash_.reset();
        if (!succeeded(status)) return fail(nt_status_text(status));
        return digest;
    }

  private:
    // Declared in this order so the hash object is destroyed before its provider closes.
    UniqueBcryptAlgorithm algorithm_;
    UniqueBcryptHash hash_;
};

}  // namespace

Result<std::unique_ptr<Sha256>> start_sha256() {
    UniqueBcryptAlgorithm algorithm;
    NTSTATUS status =
        BCryptOpenAlgorithmProvider(algorithm.put(), BCRYPT_SHA256_ALGORITHM, nullptr, 0);
    if (!succeeded(status)) return fail(nt_status_text(status));

    // With no object buffer, CNG allocates and frees the hash object's memory itself.
    UniqueBcryptHash hash;
    status = BCryptCreateHash(algorithm.get(), hash.put(), nullptr, 0, nullptr, 0, 0);
    if (!succeeded(status)) return fail(nt_status_text(status));

    return std::unique_ptr<Sha256>(
        std::make_unique<BcryptSha256>(std::move(algorithm), std::move(hash)));
}

}  // namespace vantile
