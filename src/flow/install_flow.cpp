#include "flow/install_flow.h"

#include <optional>
#include <variant>

#include "base/text.h"
#include "flow/release_manifest.h"
#include "flow/trust_rules.h"

namespace vantile {
namespace {

// How the steps ended, before the end of the attempt turns it into an outcome.
struct EndedInstalled {
    std::string version;
};
struct EndedCancelled {};
struct EndedWithMessage {
    std::string message;
};
using StepsEnding = std::variant<EndedInstalled, EndedCancelled, EndedWithMessage>;

EndedWithMessage with_message(std::string message) {
    return EndedWithMessage{std::move(message)};
}

class Attempt {
  public:
    Attempt(const ManifestSource& source, ProgressSink& sink, InstallOperations& operations)
        : source_(source), sink_(sink), operations_(operations) {}

    AttemptReport run() {
        StepsEnding ending = run_steps();
        AttemptReport report;
        report.outcome = outcome_of(std::move(ending));
        if (staging_folder_) {
            Status removed = operations_.remove_staging_folder(*staging_folder_);
            if (!removed) {
                report.leftover_folder = *staging_folder_;
                report.removal_error = removed.error();
            }
        }
        for (const std::string& line : report_lines(report)) sink_.log_line(line);
        return report;
    }

  private:
    bool begin(InstallStep step) {
        return sink_.begin_step(step, current_step_) == StepAnswer::GoOn;
    }

    StepsEnding run_steps() {
        if (!begin(InstallStep::Checking)) return EndedCancelled{};
        if (Status build = operations_.check_windows_build(); !build)
            return with_message(build.error());
        Result<std::string> tar_path = operations_.locate_system_tar();
        if (!tar_path) return with_message(tar_path.error());
        Architecture architecture = operations_.detect_architecture();

        if (!begin(InstallStep::ReadingManifest)) return EndedCancelled{};
        sink_.log_line(fill_template("Manifest: {}", {source_text(source_)}));
        Result<std::string> bytes = read_manifest_with_retries();
        if (!bytes) return with_message(bytes.error());
        Result<JsonValue> document = parse_manifest_document(bytes.value(), source_text(source_));
        if (!document) return with_message(document.error());
        Result<ReleaseManifest> chosen = select_build(document.value(), architecture);
        if (!chosen) return with_message(chosen.error());
        const ReleaseManifest& build = chosen.value();
        sink_.log_line(fill_template("Installing the Vantile desktop app {} for {} ({})",
                                     {build.version, platform_key(architecture), build.asset}));

        if (!begin(InstallStep::Downloading)) return EndedCancelled{};
        Result<DownloadSource> download = resolve_download_source(build.url, source_);
        if (!download) return with_message(download.error());
        if (Status digest_text = check_sha256_text(build.sha256, download.value()); !digest_text)
            return with_message(digest_text.error());
        Result<std::string> staging = operations_.create_staging_folder();
        if (!staging) return with_message(staging.error());
        staging_folder_ = staging.value();
        const std::string archive_path = join_path(*staging_folder_, ARCHIVE_FILE_NAME);

        std::optional<StepsEnding> download_ending;
        FileDigest digest =
            download_with_retries(download.value(), archive_path, build.size, download_ending);
        if (download_ending) return std::move(*download_ending);
        if (Status verified = verify_download(download.value(), digest.byte_count, digest.digest,
                                              build.size, build.sha256);
            !verified)
            return with_message(verified.error());

        if (!begin(InstallStep::Unpacking)) return EndedCancelled{};
        const std::string unpack_folder = join_path(*staging_folder_, UNPACK_FOLDER_NAME);
        if (Status unpacked =
                operations_.unpack_archive(tar_path.value(), archive_path, unpack_folder);
            !unpacked)
            return with_message(unpacked.error());
        Result<std::string> program = operations_.find_app_executable(unpack_folder);
        if (!program) return with_message(program.error());

        if (!begin(InstallStep::Installing)) return EndedCancelled{};
        Result<std::int32_t> exit_code = operations_.run_app_installer(program.value());
        if (!exit_code) return with_message(exit_code.error());
        if (exit_code.value() != 0)
            return with_message(operations_.installer_exit_message(exit_code.value()));
        return EndedInstalled{build.version};
    }

    Result<std::string> read_manifest_with_retries() {
        const unsigned limit = try_limit(source_);
        for (unsigned attempt = 1;; ++attempt) {
            Result<std::string> bytes = operations_.read_manifest(source_);
            if (bytes || attempt >= limit || sink_.is_cancelled()) return bytes;
            sink_.retrying(bytes.error(), attempt + 1, limit);
        }
    }

    // Returns the size and digest to verify, or sets `ending` when the attempt ends here.
    FileDigest download_with_retries(const DownloadSource& download,
                                     const std::string& archive_path, std::int64_t manifest_size,
                                     std::optional<StepsEnding>& ending) {
        const unsigned limit = try_limit(download);
        const std::uint64_t expected =
            manifest_size < 0 ? 0 : static_cast<std::uint64_t>(manifest_size);
        for (unsigned attempt = 1;; ++attempt) {
            std::uint64_t received = 0;
            std::optional<std::uint64_t> overrun;
            auto observer = [&](std::uint64_t total) {
                received = total;
                bool go_on = sink_.report_progress(total, expected);
                if (total > expected) {
                    overrun = total;
                    return false;
                }
                return go_on;
            };
            Status transferred = operations_.download_to_file(download, archive_path, observer);
            if (!transferred) {
                // An overrun is judged by its size, never tried again.
                if (overrun) return FileDigest{*overrun, std::string()};
                if (sink_.is_cancelled()) {
                    ending = EndedCancelled{};
                    return {};
                }
                if (attempt >= limit) {
                    ending = with_message(transferred.error());
                    return {};
                }
                sink_.retrying(transferred.error(), attempt + 1, limit);
                continue;
            }
            if (received < expected && attempt < limit) {
                sink_.retrying(fill_template("The download stopped at {} of {} bytes.",
                                             {std::to_string(received), std::to_string(expected)}),
                               attempt + 1, limit);
                continue;
            }
            Result<FileDigest> hashed = operations_.sha256_of_file(archive_path);
            if (!hashed) {
                ending = with_message(hashed.error());
                return {};
            }
            return std::move(hashed).value();
        }
    }

    InstallOutcome outcome_of(StepsEnding ending) {
        if (auto* installed = std::get_if<EndedInstalled>(&ending))
            return Installed{std::move(installed->version)};
        if (std::holds_alternative<EndedCancelled>(ending)) return Cancelled{};
        auto& message = std::get<EndedWithMessage>(ending).message;
        // A failure after the user asked to stop counts as the stop, until Installing began.
        if (current_step_ != InstallStep::Installing && sink_.is_cancelled()) return Cancelled{};
        return Failed{std::move(message), current_step_};
    }

    const ManifestSource source_;
    ProgressSink& sink_;
    InstallOperations& operations_;
    InstallStep current_step_ = InstallStep::Checking;
    std::optional<std::string> staging_folder_;
};

}  // namespace

AttemptReport run_install_flow(const ManifestSource& source, ProgressSink& sink,
                               InstallOperations& operations) {
    return Attempt(source, sink, operations).run();
}

}  // namespace vantile
