#pragma once
// The worker side of an attempt in window mode.
#include <windows.h>

#include <cstdint>
#include <memory>

#include "flow/install_operations.h"
#include "flow/sources.h"
#include "ui/installer_window_record.h"
#include "ui/window_sink.h"

namespace vantile {

// Everything one attempt's worker thread owns; it holds its own references to the shared
// parts, so it outlives nothing it uses.
struct WorkerTask {
    ManifestSource manifest_source;
    WindowSink sink;
    std::shared_ptr<OutcomeSlot> outcome_slot;
    InstallOperations* operations = nullptr;
    HWND window = nullptr;
    std::shared_ptr<SharedLog> log;  // says why, should the program have to end at once
};

// The thread's body: runs the attempt, then hands its report to the window.
DWORD WINAPI run_worker_task(void* task);

// When no worker thread can be made, the window still gets an attempt that ended: a
// failure at the first step naming the reason, logged like any report.
void hand_off_unstarted_attempt(SharedLog& log, OutcomeSlot& outcome_slot, HWND window,
                                std::uint32_t error_code);

// Resets the window to step 0 and starts a worker thread for a new attempt.
void start_attempt(InstallerWindow& window);

}  // namespace vantile
