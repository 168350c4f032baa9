#include "cli_args.h"

namespace {

const option_spec* find_long(const std::vector<option_spec>& specs, std::string_view name) {
    for (const auto& s : specs)
        if (name == s.name) return &s;
    return nullptr;
}

const option_spec* find_short(const std::vector<option_spec>& specs, char c) {
    for (const auto& s : specs)
        if (s.short_name != 0 && s.short_name == c) return &s;
    return nullptr;
}

std::string quoted(std::string_view opt) {
    std::string q;
    q.reserve(opt.size() + 2);
    q += '\'';
    q += opt;
    q += '\'';
    return q;
}

}  // namespace

bool parsed_args::has(std::string_view name) const { return last(name) != nullptr; }

const std::string* parsed_args::last(std::string_view name) const {
    const std::string* v = nullptr;
    for (const auto& [k, val] : options)
        if (k == name) v = &val;
    return v;
}

std::vector<std::string> parsed_args::all(std::string_view name) const {
    std::vector<std::string> v;
    for (const auto& [k, val] : options)
        if (k == name) v.push_back(val);
    return v;
}

std::string parse_args(const std::vector<option_spec>& specs, const std::vector<std::string>& args,
                       parsed_args& out) {
    out = parsed_args{};
    bool options_done = false;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (options_done || a.size() < 2 || a[0] != '-') {
            out.positionals.push_back(a);
            continue;
        }
        if (a == "--") {
            options_done = true;
            continue;
        }
        const option_spec* match = nullptr;
        std::string shown;        // the option as the user wrote it, for messages
        std::string value;
        bool has_inline = false;  // value given as --name=VALUE or -oVALUE
        if (a[1] == '-') {
            size_t eq = a.find('=');
            shown = a.substr(0, eq);
            match = find_long(specs, std::string_view(shown).substr(2));
            if (eq != std::string::npos) {
                has_inline = true;
                value = a.substr(eq + 1);
            }
        } else {
            shown = a.substr(0, 2);
            match = find_short(specs, a[1]);
            if (a.size() > 2) {
                has_inline = true;
                value = a.substr(2);
            }
        }
        if (!match) return "unknown option " + quoted(shown);
        if (!match->value_name) {
            if (has_inline) return "option " + quoted(shown) + " takes no value";
        } else if (!has_inline) {
            if (i + 1 >= args.size()) return "option " + quoted(shown) + " needs a value";
            value = args[++i];
        }
        out.options.emplace_back(match->name, value);
    }
    return "";
}

bool wants_help(const std::vector<std::string>& args) {
    for (const auto& a : args) {
        if (a == "--") return false;
        if (a == "-h" || a == "--help") return true;
    }
    return false;
}
