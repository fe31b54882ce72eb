#include "release_tool/online_check.h"

#include <chrono>
#include <fstream>
#include <random>
#include <system_error>

#include "base/text.h"
#include "flow/file_messages.h"
#include "flow/manifest_source.h"
#include "flow/release_manifest.h"
#include "flow/sha256.h"

namespace fs = std::filesystem;

namespace vantile {
namespace {

std::string as_utf8(const fs::path& path) {
    const std::u8string text = path.u8string();
    return std::string(text.begin(), text.end());
}

fs::path make_temporary_folder() {
    std::random_device random;
    const fs::path base = fs::temp_directory_path();
    for (int attempt = 0; attempt < 16; ++attempt) {
        fs::path folder = base / fill_template("vantile-release-{}", {std::to_string(random())});
        std::error_code error;
        if (fs::create_directory(folder, error)) return folder;
    }
    throw std::runtime_error("no temporary folder");
}

// Reads one address, hashing what arrives and handing it on; the outcome records it all.
class Reading {
  public:
    explicit Reading(std::string address) { outcome_.address = std::move(address); }

    // The consumer for the fetch: counts and hashes, then hands on to `next`.
    ChunkConsumer consumer(const ChunkConsumer& next) {
        return [this, next](const char* data, std::size_t size) {
            outcome_.bytes_read += size;
            if (sha_) (void)sha_->feed(reinterpret_cast<const std::uint8_t*>(data), size);
            return next(data, size);
        };
    }

    DownloadOutcome& finish(const HostAnswer& answer) {
        outcome_.status = answer.status;
        outcome_.content_encoding = answer.content_encoding;
        outcome_.content_length = answer.content_length;
        outcome_.location = answer.location;
        outcome_.failure = answer.failure;
        if (answer.host_did) outcome_.host_lines.push_back(*answer.host_did);
        if (sha_) {
            Result<Sha256Digest> digest = sha_->finish();
            if (digest) outcome_.sha256 = sha256_hex(digest.value());
        }
        return outcome_;
    }

    DownloadOutcome& outcome() { return outcome_; }

  private:
    DownloadOutcome outcome_;
    std::unique_ptr<Sha256> sha_ = [] {
        Result<std::unique_ptr<Sha256>> started = start_sha256();
        return started ? std::move(started.value()) : nullptr;
    }();
};

// The host compressed a body nobody asked to have compressed.
void note_unasked_encoding(DownloadOutcome& outcome, std::string_view what_fails) {
    if (!outcome.content_encoding || outcome.content_encoding->empty() ||
        ascii_lower(outcome.content_encoding->front()) == 'i')  // "identity"
        return;
    outcome.host_lines.push_back(fill_template(
        "sends it with Content-Encoding: {}, which the installer never asks for: "
        "Windows' WinINet hands such bytes to the installer still encoded, so {} there (it "
        "works under Wine and in a browser, which decode it)",
        {*outcome.content_encoding, what_fails}));
}

std::string file_name_of(std::string_view address) {
    return std::string(address.substr(address.rfind('/') + 1));
}

}  // namespace

OnlineCheck::OnlineCheck(FetchSettings settings, ProgressReport progress)
    : settings_(std::move(settings)), progress_(std::move(progress)) {}

OnlineCheck::~OnlineCheck() {
    if (!folder_) return;
    std::error_code ignored;
    fs::remove_all(*folder_, ignored);
}

FetchedManifest OnlineCheck::fetch_manifest(const std::string& address) {
    FetchedManifest fetched;
    Reading reading(address);
    HostAnswer answer;
    fetched.bytes = read_manifest_from_address(
        address,
        [&](const std::string& text, const ChunkConsumer& consumer) -> Result<TransferEnd> {
            answer = fetch_from_host(text, reading.consumer(consumer), settings_);
            if (answer.failure) return fail(*answer.failure);
            return TransferEnd::Complete;
        });
    fetched.outcome = reading.finish(answer);
    fetched.unreachable = answer.unreachable;
    // The size limit stopped the read: the installer's message is the reader's.
    if (!fetched.bytes) fetched.outcome.failure = fetched.bytes.error();
    note_unasked_encoding(fetched.outcome,
                          "the manifest is not JSON to it and every install fails");
    const std::string arrived = std::to_string(fetched.outcome.bytes_read);
    if (fetched.bytes && fetched.outcome.content_length && !fetched.outcome.content_encoding &&
        *fetched.outcome.content_length != arrived)
        fetched.outcome.host_lines.push_back(
            fill_template("says Content-Length {}, but {} bytes arrived",
                          {*fetched.outcome.content_length, arrived}));
    return fetched;
}

FetchedArchive OnlineCheck::fetch_archive(const DownloadPlan& plan) {
    const std::string& address = source_text(plan.source);
    if (auto earlier = fetched_.find(address); earlier != fetched_.end()) return earlier->second;
    FetchedArchive& fetched = fetched_[address];
    if (!folder_) folder_ = make_temporary_folder();
    const fs::path target =
        *folder_ /
        fs::path(std::u8string(reinterpret_cast<const char8_t*>(file_name_of(address).c_str())));
    fetched.path = as_utf8(target);
    std::ofstream out(target, std::ios::binary | std::ios::trunc);
    Reading reading(address);
    const std::uint64_t size = plan.size < 0 ? 0 : static_cast<std::uint64_t>(plan.size);
    std::uint64_t written = 0;
    std::optional<std::string> write_error;
    const HostAnswer answer =
        fetch_from_host(address, reading.consumer([&](const char* data, std::size_t count) {
            if (!out.write(data, static_cast<std::streamsize>(count))) {
                write_error = uncreatable_path_message(*fetched.path, "the write failed");
                return false;
            }
            written += count;
            if (progress_) progress_(written, size);
            // Past the published size the file can no longer be the right one.
            return written <= size;
        }),
                        settings_);
    out.close();
    fetched.outcome = reading.finish(answer);
    if (write_error) fetched.outcome.failure = write_error;
    fetched.digest = FileDigest{fetched.outcome.bytes_read, fetched.outcome.sha256};
    note_unasked_encoding(fetched.outcome, "its size and SHA-256 fail");
    // Beside an encoding, the length is the encoded one: the line above says it all.
    if (fetched.outcome.status == 200 && !fetched.outcome.content_encoding &&
        fetched.outcome.content_length &&
        *fetched.outcome.content_length != std::to_string(plan.size))
        fetched.outcome.host_lines.push_back(
            fill_template("says Content-Length {}, but the manifest says {} bytes",
                          {*fetched.outcome.content_length, std::to_string(plan.size)}));
    return fetched;
}

std::optional<std::string> served_manifest_differs(const FetchedManifest& served,
                                                   const std::string& local,
                                                   const std::string& named) {
    const std::string& address = served.outcome.address;
    if (!served.bytes)
        return fill_template("the release host does not serve {} at {}: {}",
                             {named, address, served.bytes.error()});
    if (served.bytes.value() == local) return std::nullopt;
    std::string versions;
    if (Result<JsonValue> document = parse_manifest_document(served.bytes.value(), address)) {
        // The build the first kind of computer takes tells one upload from another.
        const ArchitectureFacts& first = ARCHITECTURES[0];
        const BuildChoice choice = choose_build(document.value(), first.architecture);
        if (choice.chosen)
            versions =
                fill_template(" (its {} build is {})",
                              {first.name, choice.candidates[*choice.chosen].build->version});
    }
    return fill_template(
        "the release host serves another manifest at {}{}, {} bytes with SHA-256 {}, not {}: "
        "a cache or an older upload answers there, and installers get that one",
        {address, versions, std::to_string(served.outcome.bytes_read), served.outcome.sha256,
         named});
}

JsonValue download_document(const DownloadOutcome& outcome) {
    const auto text = [](const std::optional<std::string>& value) {
        return value ? JsonValue{*value} : JsonValue{JsonNull{}};
    };
    JsonArray host_lines;
    for (const std::string& line : outcome.host_lines) host_lines.push_back(JsonValue{line});
    return JsonValue{JsonObject{
        {"address", JsonValue{outcome.address}},
        {"status",
         outcome.status ? JsonValue{std::int64_t{*outcome.status}} : JsonValue{JsonNull{}}},
        {"content_encoding", text(outcome.content_encoding)},
        {"content_length", text(outcome.content_length)},
        {"location", text(outcome.location)},
        {"bytes_read", JsonValue{outcome.bytes_read}},
        {"sha256", JsonValue{outcome.sha256}},
        {"failure", text(outcome.failure)},
        {"host", JsonValue{std::move(host_lines)}},
    }};
}

}  // namespace vantile
