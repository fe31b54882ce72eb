#include "ui/start_attempt.h"

#include <commctrl.h>

#include <string>

#include "base/text.h"
#include "flow/install_flow.h"
#include "ui/window_procedure.h"
#include "ui/installer_window_record.h"
#include "windows/error_text.h"
#include "windows/pause.h"

namespace vantile {
namespace {

void log_report(LineLog& log, const AttemptReport& report) {
    for (const std::string& line : report_lines(report)) log.write_line(line);
}

}  // namespace

DWORD WINAPI run_worker_task(void* parameter) {
    std::unique_ptr<WorkerTask> task(static_cast<WorkerTask*>(parameter));
    try {
        // The flow turns an exception in a step into a failure of that step, so the window
        // always gets a report.
        AttemptReport report =
            run_install_flow(task->manifest_source, task->sink, *task->operations);
        hand_off_report(*task->outcome_slot, task->window, std::move(report));
    } catch (...) {
        // The last guard: should anything escape all the same, the window would wait for a
        // report that never comes, so the program ends at once as a failed install, its log
        // saying so first.
        try {
            if (task->log) task->log->write_line(fill_template("{}.", {UNEXPECTED_STOP}));
        } catch (...) {
            // The exit code still tells.
        }
        ExitProcess(1);
    }
    return 0;
}

void hand_off_unstarted_attempt(SharedLog& log, OutcomeSlot& outcome_slot, HWND window,
                                std::uint32_t error_code) {
    AttemptReport report;
    report.outcome = Failed{
        fill_template("Vantile could not start the install. {}", {os_error_text(error_code)}),
        InstallStep::Checking};
    log_report(log, report);
    hand_off_report(outcome_slot, window, std::move(report));
}

void start_attempt(InstallerWindow& window) {
    window.cancel_requested->exchange(false);
    window.phase = WindowPhase::Running;
    window.step = InstallStep::Checking;
    SendMessageW(window.progress_bar, PBM_SETPOS, 0, 0);
    show_step(window);

    auto task = std::make_unique<WorkerTask>(
        WorkerTask{window.manifest_source,
                   WindowSink(window.cancel_requested, window.log, window.hwnd, pause_milliseconds),
                   window.outcome_slot, window.operations, window.hwnd, window.log});
    HANDLE thread = CreateThread(nullptr, 0, run_worker_task, task.get(), 0, nullptr);
    const DWORD error = thread ? 0 : GetLastError();
    // An earlier worker has already posted its report; its handle goes without waiting.
    window.worker.reset(thread);
    if (thread) {
        task.release();  // the thread owns it now
        return;
    }
    hand_off_unstarted_attempt(*window.log, *window.outcome_slot, window.hwnd, error);
}

}  // namespace vantile
