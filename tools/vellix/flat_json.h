// Builds the flat JSON objects that the writers take (string keys, string values).
#pragma once

#include <string>
#include <utility>
#include <vector>

// {"k1":"v1",...} in the given order, made so that the writers decode every
// key and value to exactly its bytes: quote and backslash are escaped, line
// feed, tab and carriage return are escaped in values, and every other byte
// (bytes from 0x80 up included) is written as it is.
std::string json_flat_object(const std::vector<std::pair<std::string, std::string>>& pairs);
