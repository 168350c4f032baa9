// The call flows of the exports: one for the reports, one for the writers,
// one for the operations over a directory. Every export empties the message
// at entry and checks its pointer arguments with args_given; an exception
// (memory exhausted inside a container) becomes the export's failure message
// and failure value (export_guard).
#pragma once

#include <array>
#include <initializer_list>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "api/dir_list.h"
#include "core/frame.h"
#include "core/options.h"
#include "core/strbuf.h"
#include "load/doc.h"
#include "syntax/text_string.h"
#include "write/edits.h"
#include "write/writer.h"

// True when no argument is null; otherwise "NULL path argument" (the text the
// library documents for every null pointer argument, JSON texts included).
inline bool args_given(std::initializer_list<const void*> args) {
    for (const void* a : args) {
        if (!a) {
            set_error("NULL path argument");
            return false;
        }
    }
    return true;
}

// Records msg as the failure; false, for the checks of the flows' callbacks.
inline bool refuse(const char* msg) {
    set_error("%s", msg);
    return false;
}

// Publishes a report text as slot_publish does. Under OPT_UNICODE the text is
// made valid UTF-8 first: the JSON structure is ASCII, so bytes that are not
// UTF-8 can only lie inside strings, where each becomes U+FFFD. Builders
// decode what they take from the file; this keeps the rule that every text
// of this mode is valid UTF-8 whatever a builder passed through.
inline const char* text_publish(result_slot& slot, strbuf& b, const char* fail_msg) {
    if (b.data && b.len && option_on(OPT_UNICODE) && !utf8_valid(std::string_view(b.data, b.len))) {
        std::string valid = utf8_sanitize(std::string_view(b.data, b.len));
        b.reset();
        buf_bytes(&b, valid.data(), valid.size());
    }
    return slot_publish(slot, b, fail_msg);
}

namespace flow_detail {
template <class Build, size_t... I>
bool build_from(Build& build, const std::array<pdf_doc, sizeof...(I)>& docs, strbuf& b, std::index_sequence<I...>) {
    return build(docs[I]..., b);
}
}  // namespace flow_detail

// The report flow: empties the slot and the message, checks the paths, loads
// each (allow_encrypted as given), lets build(doc..., b) write the text and
// publishes it in the slot. build returns false when it has recorded a
// failure. An empty text and an exception both give fail_msg. Null on failure,
// the slot then empty.
template <class Build, class... Paths>
const char* report_flow(result_slot& slot, const char* fail_msg, int allow_encrypted, Build&& build,
                        Paths... paths) noexcept {
    return export_guard<const char*>(nullptr, fail_msg, [&]() -> const char* {
        slot.reset();
        clear_error();
        if (!args_given({paths...})) return nullptr;
        const char* path_list[] = {paths...};
        std::array<pdf_doc, sizeof...(Paths)> docs;
        for (size_t i = 0; i < docs.size(); ++i)
            if (doc_load(path_list[i], &docs[i], allow_encrypted) != 0) return nullptr;
        strbuf b = strbuf_start();
        if (!flow_detail::build_from(build, docs, b, std::index_sequence_for<Paths...>{})) return nullptr;
        return text_publish(slot, b, fail_msg);
    });
}

// The writer flow: empties the message, checks in_path, out_path and `more`
// (the export's JSON text), runs check(&req) (the export's own checks and the
// request they give, made before any file is opened; false when it has
// recorded a failure), loads in_path and writes out_path as the options ask
// (path_write_opts: an incremental update loads only what it appends). 1 on
// success with the message empty, 0 with the failing step's message; an
// exception gives "out of memory".
template <class Check>
int write_flow(const char* in_path, const char* out_path, std::initializer_list<const void*> more, Check&& check) noexcept {
    return export_guard(0, "out of memory", [&]() -> int {
        clear_error();
        if (!args_given({in_path, out_path}) || !args_given(more)) return 0;
        write_request req;
        if (!check(&req)) return 0;
        return path_write_opts(in_path, out_path, req);
    });
}

// The multi-file flow: loads each entry of d in turn (encrypted files
// refused) and runs each(name, doc) for those that load; an entry that does
// not load is skipped, its message left in g_err.
template <class Each>
void pdf_dir_each_loaded(const pdf_dir& d, Each&& each) {
    for (const std::string& name : d.names) {
        pdf_doc doc;
        std::string path = dir_join(d.path, name);
        if (doc_load(path.c_str(), &doc, 0) != 0) continue;
        each(name, static_cast<const pdf_doc&>(doc));
    }
}
