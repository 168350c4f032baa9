// Command-line parsing for the subcommands: long options (--name VALUE,
// --name=VALUE), short options (-o VALUE, -oVALUE), "--" to end options,
// positional arguments anywhere.
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

struct option_spec {
    const char* name;        // long name without the dashes
    char short_name;         // 0 when there is none
    const char* value_name;  // null for a flag, else the placeholder shown in help
    const char* help;
};

struct parsed_args {
    std::vector<std::string> positionals;
    // Options in command-line order: long name and value ("" for a flag).
    std::vector<std::pair<std::string, std::string>> options;

    bool has(std::string_view name) const;
    // Value of the last occurrence, or null when the option is absent.
    const std::string* last(std::string_view name) const;
    // Values of every occurrence, in order.
    std::vector<std::string> all(std::string_view name) const;
};

// Parses args against specs into out. Returns "" on success, otherwise the
// usage message (for example "unknown option '--colour'").
std::string parse_args(const std::vector<option_spec>& specs, const std::vector<std::string>& args,
                       parsed_args& out);

// True when -h or --help appears before any "--".
bool wants_help(const std::vector<std::string>& args);
