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

// Parses text into *obj (previous contents discarded). True when the text is
// accepted; on refusal *obj keeps the pairs read before the point of refusal.
// Throws std::bad_alloc when memory runs out.
bool json_parse_flat(const char* text, jsonobj* obj);
