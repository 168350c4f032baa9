// The page tree walk: the /Page objects below a node in document order.
// Depth-first over /Kids with an explicit stack, so that deeply nested trees
// cannot exhaust the call stack.
#include <algorithm>
#include <cstring>
#include <map>
#include <utility>
#include <vector>

#include "load/load_steps.h"

namespace {

// Per object number the walk keeps one byte of the caller's array: bit 0 is
// the visited flag, bits 1-2 hold obj_type + 1 once the row is classified, so
// a page listed many times is classified once.
constexpr uint8_t VISITED = 1;
constexpr int TYPE_SHIFT = 1;
constexpr uint8_t TYPE_MASK = 3 << TYPE_SHIFT;

int type_of(const pdf_doc& doc, const obj_entry& e, uint8_t* flags) {
    if (e.num < 0 || e.num > doc.max_obj) return obj_page_type(doc.data, doc.len, e);
    uint8_t& f = flags[e.num];
    if (!(f & TYPE_MASK)) f = static_cast<uint8_t>(f | (obj_page_type(doc.data, doc.len, e) + 1) << TYPE_SHIFT);
    return ((f & TYPE_MASK) >> TYPE_SHIFT) - 1;
}

// How many kids a node may list: a quarter of its text beyond a floor of 4096.
int64_t kid_cap(const obj_entry& e) {
    if (e.in_objstm) return 4096 + e.objstm_len / 4;
    if (e.endobj_pos > e.obj_pos) return 4096 + (e.endobj_pos - e.obj_pos) / 4;
    return 4096;
}

// Finds where a node's /Kids array starts. Node texts in the file may overlap
// (rows sharing one far "endobj"), so after searching more bytes than the
// file holds it switches to an index of every /Kids key of the file, built
// in one pass, that answers each node by bisection with the same result.
class kids_finder {
public:
    explicit kids_finder(const pdf_doc& doc) : doc_(doc), budget_(doc.len) {}

    // Position after the "[" of the first /Kids key in [start, end) whose
    // value is an array, or -1.
    pos array_start(const uint8_t* t, pos start, pos end, bool in_file) {
        if (in_file && budget_ < 0) return indexed(start, end);
        if (in_file) budget_ -= end - start;
        for (pos k = name_find(t, start, end, "Kids"); k >= 0; k = name_find(t, k + 1, end, "Kids")) {
            pos q = ws_skip(t, k + 5, end);
            if (q < end && t[q] == '[') return q + 1;
        }
        return -1;
    }

private:
    // With q = the first byte after the key and white space up to the file
    // end, a key is usable in a text ending at `end` exactly when the byte at
    // q is "[" and q < end; a key ending at `end` itself never is.
    pos indexed(pos start, pos end) {
        if (!built_) build();
        auto it = std::lower_bound(at_.begin(), at_.end(), start);
        if (it == at_.end()) return -1;
        int64_t g = next_good_[static_cast<size_t>(it - at_.begin())];
        if (g < 0 || bracket_[g] >= end) return -1;
        return bracket_[g] + 1;
    }

    void build() {
        built_ = true;
        const uint8_t* d = doc_.data;
        pos len = doc_.len;
        for (pos p = 0; p + 5 <= len;) {
            const void* hit = std::memchr(d + p, '/', static_cast<size_t>(len - 5 - p + 1));
            if (!hit) break;
            p = static_cast<const uint8_t*>(hit) - d;
            if (std::memcmp(d + p + 1, "Kids", 4) == 0 && (p + 5 == len || !is_name_cont(d[p + 5]))) {
                pos q = ws_skip(d, p + 5, len);
                at_.push_back(p);
                bracket_.push_back(q < len && d[q] == '[' ? q : -1);
            }
            ++p;
        }
        next_good_.assign(at_.size(), -1);
        for (size_t i = at_.size(); i-- > 0;)
            next_good_[i] = bracket_[i] >= 0 ? static_cast<int64_t>(i) : i + 1 < at_.size() ? next_good_[i + 1] : -1;
    }

    const pdf_doc& doc_;
    int64_t budget_;
    bool built_ = false;
    std::vector<pos> at_, bracket_;
    std::vector<int64_t> next_good_;
};

// One step of the /Kids array reader at p (not at "]" or the end): the
// position after a number with its generation number and "R", or after one
// other byte. *num receives the number read, 0 when the step read none.
pos kids_step(const uint8_t* t, pos p, pos end, int32_t* num) {
    *num = 0;
    if (!is_digit(t[p])) return p + 1;
    *num = int_read(t, &p, end);
    p = ws_skip(t, p, end);
    if (p < end && is_digit(t[p])) int_read(t, &p, end);
    p = ws_skip(t, p, end);
    if (p < end && t[p] == 'R') ++p;
    return ws_skip(t, p, end);
}

// Whether a /Kids array holds "<<" before its "]" or the end of its text.
// A node's whole array is checked before any kid is followed. Arrays of
// different nodes in the file may overlap; since the reader's path from any
// array start is fixed and passes every later array start on the way, the
// stop found from one start (the "]", the "<<" or the file end) is shared by
// every start on its path, and remembered: each byte is read once per walk.
class array_checker {
public:
    explicit array_checker(const pdf_doc& doc) : doc_(doc) {}

    // For a text outside the file (from an object stream) the numbers read
    // on the way (those above 0) are appended to *nums, which then holds the
    // array's kids in order when there is no "<<".
    bool holds_dict(const uint8_t* t, pos p, pos end, bool in_file, std::vector<int32_t>* nums) {
        if (!in_file) {
            while (p < end && t[p] != ']') {
                if (dict_opens(t, p, end)) return true;
                int32_t n;
                p = kids_step(t, p, end, &n);
                if (n > 0) nums->push_back(n);
            }
            return false;
        }
        stop s = stop_from(p);
        return s.dict && s.at + 1 < end;  // a "<<" completed before the text ends
    }

private:
    struct stop {
        pos at;     // where the reader stops with the file end as its end
        bool dict;  // at a "<<" (else at "]" or the file end)
    };

    stop stop_from(pos p) {
        auto next = known_.upper_bound(p);
        if (next != known_.begin() && std::prev(next)->second.at >= p) return std::prev(next)->second;
        const uint8_t* d = doc_.data;
        pos len = doc_.len;
        stop s{len, false};
        for (pos q = p; q < len;) {
            int32_t n;
            while (next != known_.end() && next->first < q) ++next;
            if (next != known_.end() && next->first == q) {
                s = next->second;
                break;
            }
            if (d[q] == ']' || dict_opens(d, q, len)) {
                s = {q, d[q] == '<'};
                break;
            }
            q = kids_step(d, q, len, &n);
        }
        known_.emplace(p, s);
        return s;
    }

    const pdf_doc& doc_;
    std::map<pos, stop> known_;  // array start -> its stop
};

// The kids of one node in array order: read lazily from the file, or the
// numbers the array check read from an object stream's text (listed).
struct kids_cursor {
    const uint8_t* t = nullptr;
    pos p = 0, end = 0;
    int64_t cap = 0, taken = 0;  // kids beyond the first `cap` are ignored
    bool from_list = false;
    std::vector<int32_t> listed;

    // The next kid, or 0 when the array is done.
    int32_t next() {
        if (from_list) return taken < cap && static_cast<size_t>(taken) < listed.size() ? listed[taken++] : 0;
        while (taken < cap && p < end && t[p] != ']') {
            int32_t n;
            p = kids_step(t, p, end, &n);
            if (n > 0) {
                ++taken;
                return n;
            }
        }
        return 0;
    }
};

// Opens a node's /Kids array into *c. Returns 1 when it may name kids, 0 when
// there is no usable array, -2 when the array holds a direct dictionary.
int open_kids(const pdf_doc& doc, const obj_entry& node, kids_finder* finder, array_checker* checker,
              kids_cursor* c) {
    dict_view r = doc_dict_span(doc, node);
    if (!r.text) return 0;
    const uint8_t* t = r.text;
    pos end = r.end;
    pos p = finder->array_start(t, r.start, end, !node.in_objstm);
    if (p < 0) return 0;
    p = ws_skip(t, p, end);
    if (p >= end) return 0;
    std::vector<int32_t> listed;
    if (checker->holds_dict(t, p, end, !node.in_objstm, &listed)) return -2;
    *c = {t, p, end, kid_cap(node), 0, node.in_objstm != 0, std::move(listed)};
    return 1;
}

// Marks a page-tree node as entered; false when it was entered before.
bool enter_node(const pdf_doc& doc, int32_t num, uint8_t* visited) {
    if (doc.max_obj < 0 || num < 0 || num > doc.max_obj) return true;
    if (visited[num] & VISITED) return false;
    visited[num] |= VISITED;
    return true;
}

struct walk_state {
    kids_finder finder;
    array_checker checker;
    std::vector<kids_cursor> stack;  // the nodes being walked, innermost last
    explicit walk_state(const pdf_doc& doc) : finder(doc), checker(doc) {}
};

// Enters a page-tree node: the visited check and its kids. Returns 1 with its
// cursor pushed, 0 for a node without kids, or a negative walk result.
int open_node(const pdf_doc& doc, const obj_entry& node, uint8_t* visited, walk_state* w) {
    if (!enter_node(doc, node.num, visited)) return -1;
    kids_cursor c;
    int r = open_kids(doc, node, &w->finder, &w->checker, &c);
    if (r <= 0) return r;
    w->stack.push_back(std::move(c));
    return 1;
}

}  // namespace

int resolve_pages(const pdf_doc& doc, int32_t obj_num, std::vector<page_entry>* pages, uint8_t* visited) {
    {
        const obj_entry* top = doc_find(doc, obj_num);
        if (!top) return -1;
        int t = type_of(doc, *top, visited);
        if (t == 1) {
            pages->push_back({obj_num});
            return 1;
        }
        if (t != 2) return -1;
        walk_state w(doc);
        int r = open_node(doc, *top, visited, &w);
        if (r <= 0) return r;
        while (!w.stack.empty()) {
            int32_t kid = w.stack.back().next();
            if (kid == 0) {
                w.stack.pop_back();
                continue;
            }
            const obj_entry* e = doc_find(doc, kid);
            if (!e) return -1;
            int kt = type_of(doc, *e, visited);
            if (kt == 1) {
                pages->push_back({kid});
            } else if (kt == 2) {
                r = open_node(doc, *e, visited, &w);
                if (r < 0) return r;
            } else {
                return -1;
            }
        }
        return static_cast<int>(pages->size());
    }
}

int obj_page_type(const uint8_t* data, pos len, const obj_entry& entry) {
    const uint8_t* t;
    pos s, e;
    if (entry.in_objstm) {
        if (!entry.objstm_text) return 0;
        t = entry.objstm_text;
        s = 0;
        e = entry.objstm_len;
    } else {
        if (entry.dict_pos < 0 || !data) return 0;
        t = data;
        s = entry.dict_pos;
        e = entry.stream_kw > 0 ? entry.stream_kw : entry.endobj_pos > 0 ? entry.endobj_pos : len;
        if (e > len) e = len;
    }
    while (s < e) {
        pos p = name_find_top(t, s, e, "Type");
        if (p < 0) return 0;
        pos q = ws_skip(t, p + 5, e);
        if (q + 5 <= e && std::memcmp(t + q, "/Page", 5) == 0) {
            pos r = q + 5;
            if (r == e || !is_word(t[r])) return 1;
            if (t[r] == 's' && (r + 1 == e || !is_word(t[r + 1]))) return 2;
            return 0;
        }
        s = p + 1;
    }
    return 0;
}
