#include "flow/install_flow.h"

#include <exception>
#include <optional>
#include <string_view>
#include <utility>
#include <variant>

#include "base/text.h"
#include "flow/download_plan.h"
#include "flow/release_manifest.h"

namespace vantile {
namespace {

// The message of an exception that ends a step or the removal (in practice running out of
// memory), written into room taken before the steps run: once memory is short, building a
// message would throw again. A detail longer than the room left is cut.
class StopMessage {
  public:
    StopMessage() noexcept {
        try {
            text_.reserve(CAPACITY);
        } catch (...) {
            // No room at all: take() falls back to a text short enough to need none.
        }
    }

    // "The installer stopped unexpectedly: <detail>." (without ": <detail>" when there is none).
    std::string take(const char* detail) noexcept {
        // 14 characters fit the string's own inline buffer (15 in libstdc++), so this takes no
        // memory either.
        constexpr std::string_view NO_ROOM = "Out of memory.";
        if (text_.capacity() < CAPACITY) return std::string(NO_ROOM);
        text_.assign(UNEXPECTED_STOP);
        if (detail) {
            text_.append(": ");
            std::string_view shown(detail);
            text_.append(shown.substr(0, CAPACITY - text_.size() - 1));
        }
        text_.push_back('.');
        return std::move(text_);
    }

  private:
    static constexpr std::size_t CAPACITY = 256;
    std::string text_;
};

class Attempt {
  public:
    Attempt(const ManifestSource& source, ProgressSink& sink, InstallOperations& operations)
        : source_(source), sink_(sink), operations_(operations) {}

    // Never throws: an exception in a step or in the removal becomes part of the report, and a
    // log that cannot take the report loses it.
    AttemptReport run() noexcept {
        AttemptReport report;
        report.outcome = run_steps_to_an_outcome();
        remove_staging_folder(report);
        log_report(report);
        return report;
    }

  private:
    // An exception that escapes a step ends the attempt like a failure of that step, so the
    // staging folder is removed and the report logged on this path too.
    InstallOutcome run_steps_to_an_outcome() noexcept {
        try {
            return settled(run_steps());
        } catch (const std::exception& error) {
            return Failed{step_stop_.take(error.what()), current_step_};
        } catch (...) {
            return Failed{step_stop_.take(nullptr), current_step_};
        }
    }

    // A failure after the user asked to stop counts as the stop, until Installing began.
    InstallOutcome settled(InstallOutcome outcome) {
        if (std::holds_alternative<Failed>(outcome) && current_step_ != InstallStep::Installing &&
            sink_.is_cancelled())
            return Cancelled{};
        return outcome;
    }

    // Whatever ended the attempt, its staging folder goes; one that stays is named.
    void remove_staging_folder(AttemptReport& report) noexcept {
        if (!staging_folder_) return;
        try {
            Status removed = operations_.remove_staging_folder(*staging_folder_);
            if (removed) return;
            report.removal_error = removed.error();
        } catch (const std::exception& exception) {
            report.removal_error = removal_stop_.take(exception.what());
        } catch (...) {
            report.removal_error = removal_stop_.take(nullptr);
        }
        report.leftover_folder = std::move(*staging_folder_);
    }

    void log_report(const AttemptReport& report) noexcept {
        try {
            for (const std::string& line : report_lines(report)) sink_.log_line(line);
        } catch (...) {
            // A log that cannot take the report loses it; the report itself still decides
            // the exit code and what the window shows.
        }
    }

    // The flow keeps its own record of the step that began; the sink only answers.
    bool begin(InstallStep step) {
        if (sink_.begin_step(step) != StepAnswer::GoOn) return false;
        current_step_ = step;
        return true;
    }

    // A transfer that waits for the network stops waiting once the user cancels.
    StopQuery stop_requested() {
        return [this] { return sink_.is_cancelled(); };
    }

    Failed failed(std::string message) const { return Failed{std::move(message), current_step_}; }

    InstallOutcome run_steps() {
        if (!begin(InstallStep::Checking)) return Cancelled{};
        if (Status build = operations_.check_windows_build(); !build) return failed(build.error());
        Result<std::string> tar_path = operations_.locate_system_tar();
        if (!tar_path) return failed(tar_path.error());
        Architecture architecture = operations_.detect_architecture();

        if (!begin(InstallStep::ReadingManifest)) return Cancelled{};
        sink_.log_line(fill_template("Manifest: {}", {source_text(source_)}));
        Result<std::string> bytes = read_manifest_with_retries();
        if (!bytes) return failed(bytes.error());
        Result<JsonValue> document = parse_manifest_document(bytes.value(), source_text(source_));
        if (!document) return failed(document.error());
        Result<BuildEntry> chosen = select_build(document.value(), architecture);
        if (!chosen) return failed(chosen.error());
        const BuildEntry& build = chosen.value();
        sink_.log_line(fill_template("Installing the Vantile desktop app {} for {} ({})",
                                     {build.version, platform_key(architecture), build.asset}));

        if (!begin(InstallStep::Downloading)) return Cancelled{};
        Result<DownloadPlan> plan = plan_download(build, source_);
        if (!plan) return failed(plan.error());
        Result<std::string> staging = operations_.create_staging_folder();
        if (!staging) return failed(staging.error());
        // Moved, not copied: a folder that exists is always recorded for removal.
        staging_folder_ = std::move(staging.value());
        const StagedArchive staged = staged_archive(*staging_folder_);
        Result<FileDigest> digest = download_with_retries(plan.value(), staged.archive);
        if (!digest) return failed(digest.error());
        if (Status verified = verify_download(plan.value(), digest.value()); !verified)
            return failed(verified.error());

        if (!begin(InstallStep::Unpacking)) return Cancelled{};
        Result<std::string> program = unpack_staged_archive(operations_, tar_path.value(), staged);
        if (!program) return failed(program.error());

        if (!begin(InstallStep::Installing)) return Cancelled{};
        Result<std::int32_t> exit_code = operations_.run_app_installer(program.value());
        if (!exit_code) return failed(exit_code.error());
        if (exit_code.value() != 0)
            return failed(operations_.installer_exit_message(exit_code.value()));
        return Installed{build.version};
    }

    Result<std::string> read_manifest_with_retries() {
        const unsigned limit = try_limit(source_);
        for (unsigned try_number = 1;; ++try_number) {
            Result<std::string> bytes = operations_.read_manifest(source_, stop_requested());
            if (bytes || try_number >= limit || sink_.is_cancelled()) return bytes;
            sink_.retrying(bytes.error(), try_number + 1, limit);
        }
    }

    // The size and digest of the downloaded file to verify, or the message of the try that
    // ended the download (a cancelled one included).
    Result<FileDigest> download_with_retries(const DownloadPlan& plan,
                                             const std::string& archive_path) {
        const DownloadSource& download = plan.source;
        const unsigned limit = try_limit(download);
        const std::uint64_t expected = plan.size < 0 ? 0 : static_cast<std::uint64_t>(plan.size);
        for (unsigned try_number = 1;; ++try_number) {
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
            Result<TransferEnd> transferred =
                operations_.download_to_file(download, archive_path, observer, stop_requested());
            // An overrun is judged by its size, never tried again.
            if (overrun) return FileDigest{*overrun, std::string()};
            if (!transferred) {
                if (sink_.is_cancelled() || try_number >= limit)
                    return std::move(transferred).failure();
                sink_.retrying(transferred.error(), try_number + 1, limit);
                continue;
            }
            const std::string short_message =
                fill_template("The download stopped at {} of {} bytes.",
                              {std::to_string(received), std::to_string(expected)});
            // Short of an overrun, only a cancel stops a transfer, and it is never tried again.
            if (transferred.value() == TransferEnd::Stopped) return fail(short_message);
            if (received < expected && try_number < limit) {
                sink_.retrying(short_message, try_number + 1, limit);
                continue;
            }
            return operations_.sha256_of_file(archive_path);
        }
    }

    // The caller's own copy, which outlives the attempt: copying it here could throw.
    const ManifestSource& source_;
    ProgressSink& sink_;
    InstallOperations& operations_;
    InstallStep current_step_ = InstallStep::Checking;
    std::optional<std::string> staging_folder_;
    StopMessage step_stop_;
    StopMessage removal_stop_;
};

}  // namespace

AttemptReport run_install_flow(const ManifestSource& source, ProgressSink& sink,
                               InstallOperations& operations) {
    return Attempt(source, sink, operations).run();
}

}  // namespace vantile
