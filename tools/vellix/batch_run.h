// Runs one piece of work per input on several threads and hands the results
// on in input order. A window bounds how far the inputs read may run ahead
// of the results handed on, so memory does not grow with the number of inputs.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>

#include "batch_inputs.h"

struct batch_outcome {
    std::string record;  // the text handed on for this input
    bool failed = false;
};

struct batch_counts {
    uint64_t done = 0, failed = 0;  // outcomes handed on, and those failed
    uint64_t read = 0;              // inputs read so far
    bool all_read = false;          // the inputs have ended (read is the total)
};

struct batch_run_settings {
    int jobs = 1;
    size_t window = 0;  // results held at most; 0 for a default from jobs
    // Called once on each worker thread before its first input (the library
    // options are per thread).
    std::function<void()> thread_start;
    // Called on the calling thread about every interval_ms, and once at the
    // end with final set, while the run goes on.
    std::function<void(const batch_counts&, bool final)> tick;
    int interval_ms = 200;
    // Called on the calling thread when no further outcome is ready yet (to
    // flush what was handed on).
    std::function<void()> idle;
};

// Takes inputs from `next` (on a thread of its own), runs `work` on
// settings.jobs threads and calls `emit` on the calling thread with each
// outcome in input order. `emit` returning false stops the run: no further
// input is read and no further outcome handed on. Returns the counts of
// outcomes handed on.
batch_counts batch_run(const std::function<bool(batch_input&)>& next,
                       const std::function<batch_outcome(const batch_input&)>& work,
                       const std::function<bool(const batch_outcome&)>& emit, const batch_run_settings& settings);

// The progress line: files done (of the total when known), files per second,
// failures and the time left when the total is known.
std::string batch_progress_line(const batch_counts& c, double seconds, int64_t total);
