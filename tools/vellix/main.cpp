// vellix: command-line front end of libvellix.
#include <cstdio>
#include <string>
#include <vector>

#include "commands.h"
#include "vellix.h"

#ifndef VELLIX_VERSION
#define VELLIX_VERSION "unknown"
#endif

namespace {

int print_stdout(const std::string& text) {
    if (std::fwrite(text.data(), 1, text.size(), stdout) != text.size() || std::fflush(stdout) != 0) {
        print_error("cannot write to standard output");
        return EXIT_FAILED;
    }
    return EXIT_OK;
}

int run_command(const command& cmd, const std::vector<std::string>& args) {
    if (wants_help(args)) return print_stdout(command_help(cmd));
    parsed_args parsed;
    std::string err = parse_args(cmd.options, args, parsed);
    if (!err.empty()) return usage_error(&cmd, err);
    int n = static_cast<int>(parsed.positionals.size());
    if (cmd.operand_count >= 0 && n < cmd.operand_count)
        return usage_error(&cmd, std::string("missing operand (expects ") + cmd.operands + ")");
    if (cmd.operand_count >= 0 && n > cmd.operand_count)
        return usage_error(&cmd, "unexpected operand '" + parsed.positionals[cmd.operand_count] + "'");
    if (vellix_set_options(command_options(cmd, parsed)) == static_cast<unsigned>(-1)) {
        print_error(vellix_last_error());
        return EXIT_FAILED;
    }
    return cmd.run(parsed);
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + (argc > 0 ? 1 : 0), argv + argc);
    if (args.empty()) return usage_error(nullptr, "no command given");
    const std::string& first = args[0];
    if (first == "-h" || first == "--help") return print_stdout(tool_help());
    if (first == "-V" || first == "--version") return print_stdout("vellix " VELLIX_VERSION "\n");
    if (first == "help") {
        if (args.size() == 1) return print_stdout(tool_help());
        const command* cmd = find_command(args[1]);
        if (!cmd) return usage_error(nullptr, "unknown command '" + args[1] + "'");
        return print_stdout(command_help(*cmd));
    }
    const command* cmd = find_command(first);
    if (!cmd) {
        if (first.size() > 1 && first[0] == '-') return usage_error(nullptr, "unknown option '" + first + "'");
        return usage_error(nullptr, "unknown command '" + first + "'");
    }
    vellix_init();
    return run_command(*cmd, std::vector<std::string>(args.begin() + 1, args.end()));
}
