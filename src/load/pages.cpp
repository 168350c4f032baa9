// The page tree walk: the /Page objects below a node in document order.
// Depth-first over /Kids with an explicit stack, so that deeply nested trees
// cannot exhaust the call stack.
#include <algorithm>

#include "load/load_steps.h"
#include "load/scan.h"

namespace {

// Per object number the walk keeps one byte of the caller's array: bit 0 is
// the visited flag, bits 1-2 hold obj_type + 1 once the row is classified, so
// a page listed many times is classified once.
constexpr uint8_t VISITED = 1;
constexpr int TYPE_SHIFT = 1;
constexpr uint8_t TYPE_MASK = 3 << TYPE_SHIFT;

int type_of(const pdf_doc& doc, const obj_entry& e, uint8_t* flags) {
    if (e.num < 0 || e.num > doc.max_obj) return obj_type(doc.data, doc.len, e);
    uint8_t& f = flags[e.num];
    if (!(f & TYPE_MASK)) f = static_cast<uint8_t>(f | (obj_type(doc.data, doc.len, e) + 1) << TYPE_SHIFT);
    return ((f & TYPE_MASK) >> TYPE_SHIFT) - 1;
}

// How many kids a node may list: a quarter of its text beyond a floor of 4096.
int64_t kid_cap(const obj_entry& e) {
    if (e.in_objstm) return 4096 + e.objstm_len / 4;
    if (e.endobj_pos > e.obj_pos) return 4096 + (e.endobj_pos - e.obj_pos) / 4;
    return 4096;
}

// Reads the node's first /Kids array into *kids. Returns 1 when numbers were
// recorded, 0 when there is no usable array or it names nothing, -2 when the
// array holds a direct dictionary.
int read_kids(const pdf_doc& doc, const obj_entry& node, std::vector<int32_t>* kids) {
    dict_region r = doc_dict_span(doc, node);
    if (!r.text) return 0;
    const uint8_t* t = r.text;
    int32_t end = r.end;
    int32_t p = -1;
    for (int32_t k = find_name(t, end, r.start, end, "Kids"); k >= 0; k = find_name(t, end, k + 1, end, "Kids")) {
        int32_t q = skip_ws(t, k + 5, end);
        if (q < end && t[q] == '[') {
            p = q + 1;
            break;
        }
    }
    if (p < 0) return 0;
    p = skip_ws(t, p, end);
    if (p >= end) return 0;
    int64_t cap = kid_cap(node);
    while (p < end && t[p] != ']') {
        if (t[p] == '<' && p + 1 < end && t[p + 1] == '<') return -2;
        if (!is_digit(t[p])) {
            ++p;
            continue;
        }
        int32_t v = parse_int_at(t, end, &p);
        if (v > 0 && static_cast<int64_t>(kids->size()) < cap) kids->push_back(v);
        p = skip_ws(t, p, end);
        if (p < end && is_digit(t[p])) parse_int_at(t, end, &p);
        p = skip_ws(t, p, end);
        if (p < end && t[p] == 'R') ++p;
        p = skip_ws(t, p, end);
    }
    return kids->empty() ? 0 : 1;
}

// Marks a page-tree node as entered; false when it was entered before.
bool enter_node(const pdf_doc& doc, int32_t num, uint8_t* visited) {
    if (doc.max_obj < 0 || num < 0 || num > doc.max_obj) return true;
    if (visited[num] & VISITED) return false;
    visited[num] |= VISITED;
    return true;
}

struct frame {
    std::vector<int32_t> kids;
    size_t next = 0;
};

// Enters a page-tree node: the visited check and its kids. Returns 1 with a
// new frame pushed, 0 for a node without kids, or a negative walk result.
int open_node(const pdf_doc& doc, const obj_entry& node, uint8_t* visited, std::vector<frame>* stack) {
    if (!enter_node(doc, node.num, visited)) return -1;
    frame f;
    int r = read_kids(doc, node, &f.kids);
    if (r <= 0) return r;
    stack->push_back(std::move(f));
    return 1;
}

}  // namespace

int resolve_pages(const pdf_doc& doc, int32_t obj_num, std::vector<page_entry>* pages, uint8_t* visited) {
    try {
        const obj_entry* top = doc_find(doc, obj_num);
        if (!top) return -1;
        int t = type_of(doc, *top, visited);
        if (t == 1) {
            pages->push_back({obj_num});
            return 1;
        }
        if (t != 2) return -1;
        std::vector<frame> stack;
        int r = open_node(doc, *top, visited, &stack);
        if (r <= 0) return r;
        while (!stack.empty()) {
            frame& f = stack.back();
            if (f.next == f.kids.size()) {
                stack.pop_back();
                continue;
            }
            int32_t kid = f.kids[f.next++];
            const obj_entry* e = doc_find(doc, kid);
            if (!e) return -1;
            int kt = type_of(doc, *e, visited);
            if (kt == 1) {
                pages->push_back({kid});
            } else if (kt == 2) {
                r = open_node(doc, *e, visited, &stack);  // may reallocate: f is not used after this
                if (r < 0) return r;
            } else {
                return -1;
            }
        }
        return static_cast<int>(pages->size());
    } catch (const std::bad_alloc&) {
        return -1;
    }
}
