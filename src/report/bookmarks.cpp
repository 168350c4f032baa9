// Bookmarks: the document outline as nested JSON, each item with its title,
// the page its destination points to, and its children. With OPT_RESOLVE
// the standard reading (bookmarks_resolve.cpp) runs instead.
#include <new>
#include <string>
#include <unordered_map>
#include <vector>

#include "core/options.h"
#include "syntax/codecs.h"
#include "report/nav_resolve.h"
#include "report/report_common.h"
#include "report/reports.h"

namespace {

constexpr int32_t CHILD_LOOP_BUDGET = 4096;

// What the outline walk needs besides the document: the written-items set,
// the /Next of each written item, and page numbers by page object.
struct outline_ctx {
    const pdf_doc& doc;
    strbuf& b;
    std::vector<uint8_t> visited;    // by row: item written
    std::vector<int32_t> next_of;    // by row: /Next of a written item, -1 when none
    std::vector<int32_t> loop_mark;  // by row: id of the children loop that last passed it
    std::unordered_map<int32_t, int32_t> page_of;  // page object -> first 1-based page index
};

// Destination given as an array whose "[" is at pos: its first integer, as
// a page number when it names a page object.
int32_t dest_array_page(const outline_ctx& cx, const uint8_t* text, pos at, pos end) {
    pos p = ws_skip(text, at + 1, end);
    if (p >= end || !is_digit(text[p])) return 0;
    int32_t n = int_read(text, &p, end);
    if (n <= 0) return 0;
    if (!cx.doc.pages_ok || cx.doc.pages.empty()) return n;
    auto it = cx.page_of.find(n);
    return it != cx.page_of.end() ? it->second : n;
}

// Destination by reference: the referenced object must hold an array.
int32_t dest_indirect_page(const outline_ctx& cx, int32_t num) {
    const obj_entry* e = doc_find(cx.doc, num);
    if (!e) return 0;
    if (e->in_objstm) {
        if (!e->objstm_text || e->objstm_len <= 0) return 0;
        pos p = ws_skip(e->objstm_text, 0, e->objstm_len);
        if (p >= e->objstm_len || e->objstm_text[p] != '[') return 0;
        return dest_array_page(cx, e->objstm_text, p, e->objstm_len);
    }
    obj_body body = doc_obj_body(cx.doc, *e);
    if (body.start >= body.end || cx.doc.data[body.start] != '[') return 0;
    return dest_array_page(cx, cx.doc.data, body.start, body.end);
}

// Page number of the destination value starting at pos of text[.., end):
// an array, a reference to an array, or 0 (named destinations, anything else).
int32_t dest_to_page(const outline_ctx& cx, const uint8_t* text, pos at, pos end) {
    if (at < 0 || at >= end) return 0;
    if (text[at] == '[') return dest_array_page(cx, text, at, end);
    if (!is_digit(text[at])) return 0;
    pos p = at;
    int32_t n = int_read(text, &p, end);
    return n > 0 ? dest_indirect_page(cx, n) : 0;
}

cstr item_title(const dict_view& r) {
    pos v = r.value("Title");
    if (v < 0) return nullptr;
    if (r.text[v] == '(') return literal_decode(r.text, v, r.end);
    if (r.text[v] == '<' && !dict_opens(r.text, v, r.end)) return hex_decode(r.text, v, r.end);
    return nullptr;
}

// The title's bytes whole, zero bytes included (for the decoded text).
std::string item_title_bytes(const dict_view& r) {
    pos v = r.value("Title");
    strbuf t;
    if (v >= 0 && !(r.text[v] == '<' && dict_opens(r.text, v, r.end)))
        if (!literal_decode_to(r.text, v, r.end, &t)) hex_decode_to(r.text, v, r.end, &t);
    return std::string(t.data ? t.data : "", t.len);
}

// Writes one item up to (not including) its children and closing brace.
// Returns its /First (-1 when none); stores its /Next.
int32_t item_write_head(outline_ctx& cx, const obj_entry& item, const dict_view& r, int32_t& flag) {
    pos dv = r.value("Dest");
    int32_t page = dv >= 0 ? dest_to_page(cx, r.text, dv, r.end) : 0;
    size_t row = doc_row(cx.doc, &item);
    cx.next_of[row] = r.ref("Next");
    cx.visited[row] = 1;
    if (!flag) buf_bytes(&cx.b, ",", 1);
    flag = 0;
    buf_str(&cx.b, "{\"title\":");
    if (option_on(OPT_UNICODE)) {
        text_json_append(&cx.b, item_title_bytes(r));
    } else {
        cstr title = item_title(r);
        json_str_append(&cx.b, title ? title.get() : "");
    }
    buf_str(&cx.b, ",\"page\":");
    buf_int(&cx.b, page);
    return r.ref("First");
}

// One open "children" array: the loop over the child chain that calls the
// chain walk for each child in turn until the chain ends or its budget runs out.
struct child_loop {
    const obj_entry* child;
    int32_t flag;
    int32_t budget;
    int32_t id;
    int32_t parent_next;  // /Next of the item whose children these are
};

// The next child of the loop, or null when the loop ends. Every child met
// before was written (or ended the loop), so coming back to a child already
// passed by this loop can only repeat calls that write nothing: the loop
// ends there with the same output as running out its budget.
const obj_entry* child_loop_advance(outline_ctx& cx, child_loop& L) {
    size_t row = doc_row(cx.doc, L.child);
    if (!cx.visited[row]) return nullptr;  // no dictionary: never written
    int32_t n = cx.next_of[row];
    const obj_entry* c = n > 0 ? doc_find(cx.doc, n) : nullptr;
    if (!c || --L.budget == 0) return nullptr;
    size_t crow = doc_row(cx.doc, c);
    if (cx.loop_mark[crow] == L.id) return nullptr;
    cx.loop_mark[crow] = L.id;
    return c;
}

// Writes the chain of siblings that starts at `item`, with every nested
// children array, into the array whose first-item flag is `top_flag`. The
// nesting is kept on an explicit stack so depth costs no call stack.
void outline_walk(outline_ctx& cx, const obj_entry* item, int32_t& top_flag) {
    std::vector<child_loop> stack;
    int32_t next_id = 0;
    for (;;) {
        while (item) {
            dict_view r = doc_dict_span(cx.doc, *item);
            if (!r.text || cx.visited[doc_row(cx.doc, item)]) break;
            int32_t& flag = stack.empty() ? top_flag : stack.back().flag;
            int32_t first = item_write_head(cx, *item, r, flag);
            int32_t next = cx.next_of[doc_row(cx.doc, item)];
            if (first > 0) {
                buf_str(&cx.b, ",\"children\":[");
                if (const obj_entry* c = doc_find(cx.doc, first)) {
                    stack.push_back({c, 1, CHILD_LOOP_BUDGET, ++next_id, next});
                    cx.loop_mark[doc_row(cx.doc, c)] = next_id;
                    item = c;
                    continue;
                }
                buf_bytes(&cx.b, "]", 1);
            }
            buf_bytes(&cx.b, "}", 1);
            item = next > 0 ? doc_find(cx.doc, next) : nullptr;
        }
        if (stack.empty()) return;
        child_loop& L = stack.back();
        if (const obj_entry* c = child_loop_advance(cx, L)) {
            L.child = c;
            item = c;
            continue;
        }
        buf_str(&cx.b, "]}");
        int32_t next = L.parent_next;
        stack.pop_back();
        item = next > 0 ? doc_find(cx.doc, next) : nullptr;
    }
}

// First item of the outline: catalog /Outlines, then its /First.
const obj_entry* outline_first_item(const pdf_doc& doc) {
    dict_view cr = doc_catalog_dict(doc);
    if (!cr.text) return nullptr;
    int32_t on = cr.ref("Outlines");
    const obj_entry* outlines = on > 0 ? doc_find(doc, on) : nullptr;
    if (!outlines) return nullptr;
    dict_view orr = doc_dict_span(doc, *outlines);
    if (!orr.text) return nullptr;
    int32_t fn = orr.ref("First");
    return fn > 0 ? doc_find(doc, fn) : nullptr;
}

}  // namespace

bool bookmarks_build(const pdf_doc& doc, strbuf& b) {
    if (option_on(OPT_RESOLVE)) return bookmarks_build_resolved(doc, b);
    buf_bytes(&b, "[", 1);
    if (const obj_entry* first = outline_first_item(doc)) {
        outline_ctx cx{doc, b, {}, {}, {}, {}};
        try {
            size_t rows = doc.objs.size();
            cx.visited.assign(rows, 0);
            cx.next_of.assign(rows, -1);
            cx.loop_mark.assign(rows, 0);
        } catch (const std::bad_alloc&) {
            set_error("failed to build JSON");
            return false;
        }
        if (doc.pages_ok) {
            cx.page_of.reserve(doc.pages.size());
            for (size_t i = 0; i < doc.pages.size(); ++i)
                cx.page_of.emplace(doc.pages[i].page_obj, static_cast<int32_t>(i + 1));
        }
        int32_t top_flag = 1;
        outline_walk(cx, first, top_flag);
    }
    buf_bytes(&b, "]", 1);
    return true;
}
