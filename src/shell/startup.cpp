#include "shell/startup.h"

#include <windows.h>

#include "base/text.h"
#include "base/version.h"
#include "flow/install_flow.h"
#include "flow/manifest_source.h"
#include "flow/quiet_sink.h"
#include "shell/install_log.h"
#include "shell/portable/command_line.h"
#include "ui/installer_window.h"
#include "windows/environment.h"
#include "windows/pause.h"
#include "windows/system_checks.h"
#include "windows/system_libraries.h"
#include "windows/unique_handle.h"
#include "windows/windows_operations.h"

namespace vantile {
namespace {

// Another copy holds the lock: leave one line in its log and, in window mode, bring
// its window forward.
int run_as_second_copy(const std::vector<std::string>& arguments) {
    {
        InstallLog log = InstallLog::open(LogMode::Append);
        log.write_line("Another Vantile installer is already running.");
    }
    if (mode_for(arguments) == Mode::Quiet) return 1;
    bring_running_window_forward();
    return 0;
}

int run_quiet(const ManifestSource& source, InstallLog& log, InstallOperations& operations) {
    SetEnvironmentVariableW(L"VANTILE_DESKTOP_NO_DIALOG", L"1");
    QuietSink sink(log, pause_milliseconds);
    AttemptReport report = run_install_flow(source, sink, operations);
    return exit_code_for(report.outcome);
}

// A run that cannot start its attempt: the reason goes to the log and, in window mode, to an
// error box; the exit code is the failure's.
int stop_before_the_attempt(InstallLog& log, Mode mode, const std::string& message) {
    log.write_line(message);
    if (mode == Mode::Window) show_error_dialog(message);
    return 1;
}

}  // namespace

int run(const std::vector<std::string>& arguments, bool dll_search_restricted) {
    // Only the lock's existence matters; a mutex that cannot be made lets this copy run.
    UniqueHandle lock(CreateMutexW(nullptr, FALSE, SINGLE_INSTANCE_MUTEX));
    if (lock && GetLastError() == ERROR_ALREADY_EXISTS) {
        lock.reset();
        return run_as_second_copy(arguments);
    }

    InstallLog log = InstallLog::open(LogMode::Fresh);
    log.write_line(fill_template("vantile-install {} ({})", {PROGRAM_VERSION, BUILD_CHANNEL}));

    if (!dll_search_restricted) {
        // Nothing is shown: a box or a window loads DLLs (uxtheme, Common Controls 6, ...),
        // and an unrestricted search finds any planted beside the program first.
        log.write_line(unrestricted_dll_search_message(running_windows_build()));
        return 1;
    }
    const Mode mode = mode_for(arguments);
    if (Status bound = bind_system_libraries(); !bound)
        return stop_before_the_attempt(log, mode, bound.error());

    if (mode == Mode::UsageError) {
        log.write_line(USAGE_LINE);
        return 1;
    }

    Result<ManifestSource> source =
        manifest_source_from_environment(environment_variable("VANTILE_INSTALL_MANIFEST"));
    if (!source) return stop_before_the_attempt(log, mode, source.error());

    WindowsOperations operations;
    if (mode == Mode::Quiet) return run_quiet(source.value(), log, operations);
    return run_installer_window(source.value(), std::make_unique<InstallLog>(std::move(log)),
                                operations);
}

}  // namespace vantile
