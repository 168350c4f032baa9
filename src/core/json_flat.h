// Parser for flat JSON objects whose values are all strings.
#pragma once

#include <string>
#include <vector>

struct json_pair {
    std::string key;
    std::string value;
};

// The pairs of one object in input order; a key that occurs twice is two pairs.
using jsonobj = std::vector<json_pair>;

// How escapes are read. byte_rules: "\c" stands for the letter c itself, except
// n, t and r in values. standard: every JSON escape as JSON defines it, in keys
// and values alike: \b \f \n \r \t, and \uXXXX (a UTF-16 pair for characters
// beyond the first plane) written as UTF-8; a lone surrogate, "\u0000" or a
// "\u" without four hex digits is refused.
enum class json_escapes { byte_rules, standard };

// Parses text into *obj (previous contents discarded). True when the text is
// accepted; on refusal *obj keeps the pairs read before the point of refusal.
// Throws std::bad_alloc when memory runs out.
bool json_parse_flat(const char* text, jsonobj* obj, json_escapes escapes = json_escapes::byte_rules);
