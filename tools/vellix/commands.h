// The subcommands of the vellix tool.
#pragma once

#include <string>
#include <vector>

#include "cli_args.h"
#include "vellix.h"

// Exit statuses.
constexpr int EXIT_OK = 0;
constexpr int EXIT_FAILED = 1;  // the library refused the operation
constexpr int EXIT_USAGE = 2;   // the command line is wrong

// The library options every command runs with, unless --exact is given.
constexpr unsigned TOOL_OPTIONS = VELLIX_UNICODE | VELLIX_RESOLVE;
// The options of the writing commands: those, signed documents refused a
// full rewrite (--force drops it), and untouched object streams copied as
// they are rather than expanded.
constexpr unsigned TOOL_WRITER_OPTIONS = TOOL_OPTIONS | VELLIX_KEEP_SIGNATURES | VELLIX_KEEP_STREAMS;

struct command {
    const char* name;
    const char* operands;  // as listed in the tool's help, e.g. "FILE"
    const char* synopsis;  // the command's usage line after its name
    const char* summary;   // one line for the tool's help
    const char* details;   // further paragraphs for the command's help
    std::vector<option_spec> options;
    int operand_count;  // -1: any number, checked by the command
    int (*run)(const parsed_args& args);
};

const std::vector<command>& all_commands();
// The options word cmd runs with: 0 under --exact, else TOOL_WRITER_OPTIONS
// for a writing command (without VELLIX_KEEP_SIGNATURES under --force),
// TOOL_OPTIONS for the others; --incremental adds VELLIX_INCREMENTAL.
unsigned command_options(const command& cmd, const parsed_args& a);
const command* find_command(const std::string& name);

// The batch commands (batch.cpp) and their options.
int run_batch(const parsed_args& args);
int run_batch_clear(const parsed_args& args);
const std::vector<option_spec>& batch_options(bool clear_command);

// Help texts.
std::string tool_help();
std::string command_help(const command& cmd);

// Prints "vellix: MESSAGE" on standard error.
void print_error(const std::string& message);
// A usage error of cmd (null for the tool itself): the message and a hint; returns EXIT_USAGE.
int usage_error(const command* cmd, const std::string& message);
