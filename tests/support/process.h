// Runs a program as a child process with its standard input fed and its
// outputs collected, optionally with standard error on a pseudo-terminal.
#pragma once

#include <string>
#include <vector>

struct process_result {
    int status = -1;  // exit status, or -1 when the program did not exit normally
    std::string out, err;
    long max_rss_kb = 0;  // the child's peak resident memory
};

struct process_setup {
    std::string input;                  // fed on standard input, then closed
    const char* stdout_path = nullptr;  // standard output to this file instead of a pipe
    bool stderr_on_terminal = false;    // standard error on a pseudo-terminal (read back as err)
};

// argv[0] is the program's path.
process_result run_process(const std::vector<std::string>& argv, const process_setup& setup = {});
