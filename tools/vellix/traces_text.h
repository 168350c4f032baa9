// The human timeline of a traces report: revision by revision what the Info
// values became, then every metadata item on one line.
#pragma once

#include <string>
#include <string_view>

// The timeline of the JSON text vellix_traces returns; false (out untouched)
// when the text is not such a report.
bool traces_timeline(std::string_view json, std::string* out);
