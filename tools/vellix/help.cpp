// Help texts of the tool and of each subcommand, built from the command table.
#include <cstdio>

#include "commands.h"

namespace {

std::string option_label(const option_spec& o) {
    std::string s = o.short_name ? std::string("-") + o.short_name + ", " : std::string("    ");
    s += "--";
    s += o.name;
    if (o.value_name) {
        s += ' ';
        s += o.value_name;
    }
    return s;
}

void append_row(std::string& out, const std::string& label, const char* text) {
    out += "  " + label;
    out.append(label.size() < 28 ? 28 - label.size() : 1, ' ');
    out += text;
    out += '\n';
}

}  // namespace

std::string tool_help() {
    std::string out =
        "Usage: vellix COMMAND [OPTIONS] OPERANDS\n"
        "Reads and rewrites the metadata of PDF files.\n"
        "\n"
        "Reports print one compact JSON text and a line feed (--pretty indents it).\n"
        "Writers take -o OUT (write a new file) or --in-place (replace FILE). They\n"
        "refuse to rewrite a signed document (--force does it anyway); set and\n"
        "set-xmp take --incremental, which appends the change to FILE's bytes.\n"
        "Object streams the change leaves alone are copied still compressed.\n"
        "Texts are Unicode (UTF-8) and structures are read as the PDF standard\n"
        "defines them; every command takes --exact for the byte-exact rules.\n"
        "\n"
        "Commands:\n";
    for (const auto& c : all_commands()) append_row(out, std::string(c.name) + " " + c.operands, c.summary);
    out +=
        "\n"
        "Options:\n"
        "  -h, --help                  show this help (vellix COMMAND --help for a command)\n"
        "  -V, --version               show the version\n"
        "\n"
        "Exit status: 0 on success, 1 when the operation failed (the reason follows\n"
        "\"vellix:\" on standard error), 2 for a usage error.\n";
    return out;
}

std::string command_help(const command& cmd) {
    std::string summary = cmd.summary;
    if (!summary.empty() && summary[0] >= 'a' && summary[0] <= 'z') summary[0] = static_cast<char>(summary[0] - 'a' + 'A');
    std::string out = std::string("Usage: vellix ") + cmd.name + " " + cmd.synopsis + "\n" + summary + ".\n";
    if (cmd.details && *cmd.details) out += std::string("\n") + cmd.details;
    out += "\nOptions:\n";
    for (const auto& o : cmd.options) append_row(out, option_label(o), o.help);
    append_row(out, "-h, --help", "show this help");
    return out;
}

void print_error(const std::string& message) { std::fprintf(stderr, "vellix: %s\n", message.c_str()); }

int usage_error(const command* cmd, const std::string& message) {
    if (cmd) {
        print_error(std::string(cmd->name) + ": " + message);
        std::fprintf(stderr, "Try 'vellix %s --help'.\n", cmd->name);
    } else {
        print_error(message);
        std::fprintf(stderr, "Try 'vellix --help'.\n");
    }
    return EXIT_USAGE;
}
