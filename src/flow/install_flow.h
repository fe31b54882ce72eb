#pragma once
#include "flow/install_operations.h"
#include "flow/outcome_report.h"
#include "flow/progress_sink.h"
#include "flow/sources.h"
#include "flow/staged_archive.h"

namespace vantile {

// How an exception that ends a step begins its message: "<this>: <detail>." or "<this>.".
inline constexpr const char* UNEXPECTED_STOP = "The installer stopped unexpectedly";

// Runs one attempt through the five steps, removes its staging folder, writes the
// report's lines to the log and returns the report. An exception that escapes a step (in
// practice running out of memory) ends the attempt as a failure of that step; none escapes.
// The source must outlive the call.
AttemptReport run_install_flow(const ManifestSource& source, ProgressSink& sink,
                               InstallOperations& operations);

}  // namespace vantile
