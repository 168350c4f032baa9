// Size analysis helpers.
#pragma once

#include <cstdint>

// Whether the value of the first key /key in text[start, end) is a name that
// decodes to `want`: the answer strcmp(dict_type_name(...), want) == 0 gives
// for "Type" (and dict_subtype_name for "Subtype"), with the decoded name read
// up to its first zero byte, but without building the decoded text.
bool dict_name_is(const uint8_t* text, int32_t end, int32_t start, const char* key, const char* want);
