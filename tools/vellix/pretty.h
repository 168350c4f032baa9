// Indents a JSON text for reading.
#pragma once

#include <string>
#include <string_view>

// Returns `json` laid out with one member or element per line, two spaces per
// level, ": " after keys and "{}" / "[]" for empty containers. Indentation
// stops growing at 64 levels, so the output stays linear in the input.
// String tokens (escapes and bytes from 0x80 up included) are copied byte for
// byte, and so are numbers and literals. White space outside strings is
// dropped. The text is not validated: malformed input is laid out as far as
// it goes, never read past its end. No final line feed is added.
std::string json_pretty(std::string_view json);
