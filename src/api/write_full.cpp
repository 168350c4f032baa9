#include <cstring>

#include "core/frame.h"
#include "core/json_flat.h"
#include "info/info.h"
#include "write/writer.h"
#include "vellix.h"

namespace {

// Points each of the eight positions at the value of the first pair whose key
// is that field's JSON key; returns how many positions got a value.
int fields_from_json(const jsonobj& obj, const char* values[INFO_FIELD_COUNT]) {
    int found = 0;
    for (int f = 0; f < INFO_FIELD_COUNT; ++f) {
        values[f] = nullptr;
        for (int32_t i = 0; i < obj.count; ++i) {
            if (std::strcmp(obj.keys[i], FIELDS[f]) == 0) {
                values[f] = obj.values[i];
                ++found;
                break;
            }
        }
    }
    return found;
}

}  // namespace

extern "C" VELLIX_API int vellix_write_full(const char* in_path, const char* out_path, const char* json) {
    return export_guard(0, "out of memory", [&]() -> int {
        if (!out_path || !json || !in_path) {
            set_error("NULL path argument");
            return 0;
        }
        jsonobj obj;
        jsonobj_guard release{&obj};
        if (!json_parse_flat(json, &obj)) {
            set_error("invalid JSON object for vellix_write_full");
            return 0;
        }
        const char* values[INFO_FIELD_COUNT];
        if (fields_from_json(obj, values) == 0) {
            set_error("no recognised fields in the JSON object");
            return 0;
        }
        pdf_doc doc;
        if (doc_load_ex(in_path, &doc, 0) != 0) {
            return 0;
        }
        int ok = doc_write2(doc, out_path, 1, 0, nullptr, 0, values);
        if (ok) clear_error();
        return ok;
    });
}
