// Checks on files written by the library: dates of now masked for exact
// comparison, the cross-reference table checked against the objects, and the
// external PDF checkers when they are installed.
#pragma once

#include <string>

// Brackets a write in time: dates of now written during the write lie
// between `before` and `after` (both 14 digits, UTC).
struct clock_window {
    std::string before, after;
    void start();
    void stop();
    // Replaces every run of 14 digits followed by 'Z' whose value lies in the
    // window by "NNNNNNNNNNNNNN" (the 'Z' and any "D:" before it stay).
    std::string mask(const std::string& text) const;
};

// "" when the file ends with "xref\n0 S\n", S rows of 20 bytes, a trailer and
// "startxref N\n%%EOF\n" whose N is the offset of "xref", and every in-use row
// points at "num gen obj\n" with its own number and generation; otherwise a
// description of the first fault.
std::string xref_fault(const std::string& file);

// Runs a shell command; returns its exit status and stores stdout+stderr.
int run_command(const std::string& cmd, std::string* output);
bool have_tool(const char* name);
