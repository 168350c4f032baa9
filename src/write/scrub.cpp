// Planning a scrub: a walk from the catalog over the objects as they will be
// written, so that what only metadata referred to is not reached.
#include "write/scrub.h"

#include <fcntl.h>
#include <sys/random.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>

#include "core/frame.h"
#include "info/info.h"
#include "load/graph.h"
#include "write/dict_strip.h"
#include "write/emitter.h"

namespace {

const strip_keys& metadata_keys() {
    static const strip_keys keys{{"Metadata", "PieceInfo"}, {}};
    return keys;
}

const strip_keys& info_like_keys() {
    static const strip_keys keys{{"Metadata", "PieceInfo"},
                                 {INFO_KEYS, INFO_KEYS + INFO_FIELD_COUNT}};
    return keys;
}

// The text of row e that the scrub may rewrite: an object-stream member's
// text, a whole stream's dictionary, or a file-body value. text null when
// the row has none (a stream whose parts are not whole is copied as it is).
dict_view editable_region(const pdf_doc& doc, const obj_entry& e) {
    if (e.in_objstm) {
        const uint8_t* t = doc_row_text(doc, e);
        if (!t) return {};
        return {t, graph_detail::skip_ws_comments(t, 0, e.objstm_len), e.objstm_len};
    }
    if (e.has_stream) {
        if (!stream_bounds_ok(doc, e)) return {};
        return {doc.data, e.dict_pos, e.stream_kw};
    }
    obj_body b = doc_obj_body(doc, e);
    if (b.start >= b.end) return {};
    return {doc.data, graph_detail::skip_ws_comments(doc.data, b.start, b.end), b.end};
}

bool is_xmp_stream(const pdf_doc& doc, const obj_entry& e) {
    if (!e.has_stream) return false;
    dict_view r = doc_dict_span(doc, e);
    if (!r.text) return false;
    pdf_val d{r.text, r.start, r.end};
    return val_name(dict_get_raw(d, "Type")) == "Metadata" && val_name(dict_get_raw(d, "Subtype")) == "XML";
}

// Row e as the scrub writes it: its new text in plan->texts when an entry
// goes; then f(num) for each reference of what is written.
template <class F>
void scrub_row(const pdf_doc& doc, const obj_entry& e, write_plan* plan, F&& push) {
    dict_view r = editable_region(doc, e);
    if (r.text) {
        const bool info_like = !e.has_stream && dict_info_like(pdf_val{r.text, r.start, r.end});
        std::string text;
        if (strip_entries(r.text, r.start, r.end, info_like ? info_like_keys() : metadata_keys(), &text)) {
            const auto* t = reinterpret_cast<const uint8_t*>(text.data());
            refs_each(t, 0, static_cast<pos>(text.size()), push);
            plan->texts.emplace(e.num, std::move(text));
            return;
        }
    }
    dict_view whole = e.has_stream || e.in_objstm ? doc_dict_span(doc, e) : dict_view{};
    if (whole.text) return refs_each(whole.text, whole.start, whole.end, push);
    obj_body b = doc_obj_body(doc, e);
    refs_each(doc.data, b.start, b.end, push);
}

}  // namespace

bool scrub_plan_make(const pdf_doc& doc, const char* path, write_plan* plan) {
    if (doc.root <= 0 || !doc_find(doc, doc.root)) {
        set_error("cannot scrub %s: the document has no catalog", path);
        return false;
    }
    const auto slots = static_cast<size_t>(std::max(doc.max_obj, 0)) + 1;
    plan->left_out.assign(slots, 1);
    plan->span = xref_span::written;
    std::vector<uint8_t> seen(slots, 0);
    std::vector<int32_t> todo;
    auto push = [&](int32_t n) {
        if (n <= 0 || static_cast<size_t>(n) >= slots || seen[static_cast<size_t>(n)]) return;
        seen[static_cast<size_t>(n)] = 1;
        todo.push_back(n);
    };
    push(doc.root);
    for (const page_entry& p : doc.pages) push(p.page_obj);
    while (!todo.empty()) {
        const int32_t n = todo.back();
        todo.pop_back();
        const obj_entry* e = doc_find(doc, n);
        if (!e || is_xmp_stream(doc, *e)) continue;
        plan->left_out[static_cast<size_t>(n)] = 0;
        scrub_row(doc, *e, plan, push);
    }
    plan->id = random_file_id();
    return true;
}

std::string random_file_id() {
    unsigned char r[32];
    size_t got = 0;
    while (got < sizeof r) {
        ssize_t n = getrandom(r + got, sizeof r - got, 0);
        if (n <= 0) break;
        got += static_cast<size_t>(n);
    }
    if (got < sizeof r) {  // no entropy source: the clock and the process, mixed
        struct timespec ts;
        clock_gettime(CLOCK_REALTIME, &ts);
        uint64_t h = static_cast<uint64_t>(ts.tv_nsec) ^ (static_cast<uint64_t>(ts.tv_sec) << 30) ^
                     (static_cast<uint64_t>(getpid()) << 12);
        for (size_t i = got; i < sizeof r; ++i) {
            h ^= h >> 33;
            h *= 0xFF51AFD7ED558CCDull;
            r[i] = static_cast<unsigned char>(h >> 56);
        }
    }
    static const char DIGITS[] = "0123456789ABCDEF";
    std::string id = "[<";
    for (size_t i = 0; i < sizeof r; ++i) {
        if (i == 16) id += "><";
        id += DIGITS[r[i] >> 4];
        id += DIGITS[r[i] & 15];
    }
    id += ">]";
    return id;
}
