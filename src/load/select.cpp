// The choice of one row per object number, and the number index over the
// rows kept.
#include <algorithm>
#include <cstdlib>
#include <new>
#include <vector>

#include "load/load_steps.h"

namespace {

constexpr int32_t MAX_OBJ_NUM = 0x7FFFFF;

bool row_is_container(const pdf_doc& doc, const obj_entry& e) {
    if (!e.has_stream || e.dict_pos < 0) return false;
    pos lim = e.stream_kw > 0 ? e.stream_kw : doc.len;
    return name_find(doc.data, e.dict_pos, lim, "ObjStm") >= 0;
}

// Selection when the number indexes cannot be allocated: direct rows are all
// kept, a compressed row only when no direct row shares its number.
obj_table select_fallback(const pdf_doc& doc, const std::vector<bool>& container) {
    std::vector<int32_t> direct_nums;
    for (size_t k = 0; k < doc.objs.size(); ++k) {
        const obj_entry& e = doc.objs[k];
        if (e.num <= MAX_OBJ_NUM && !e.in_objstm && !container[k]) direct_nums.push_back(e.num);
    }
    std::sort(direct_nums.begin(), direct_nums.end());
    obj_table kept;
    for (size_t k = 0; k < doc.objs.size(); ++k) {
        const obj_entry& e = doc.objs[k];
        if (e.num > MAX_OBJ_NUM || container[k]) continue;
        if (e.in_objstm && std::binary_search(direct_nums.begin(), direct_nums.end(), e.num)) continue;
        kept.push_back(e);
    }
    return kept;
}

// winner[num] after a pass in table order: 1 + k for the last direct row k,
// else -(1 + k) for the last compressed row k, or 0. A direct row overwrites
// anything, a compressed row only another compressed one, so a row is kept
// when it is its number's winner. The zero-filled block keeps a sparse
// numbering cheap: untouched pages are never materialised.
std::unique_ptr<int32_t, free_deleter> select_winners(const pdf_doc& doc, const std::vector<bool>& container,
                                                      int32_t high) {
    std::unique_ptr<int32_t, free_deleter> winner(
        static_cast<int32_t*>(std::calloc(static_cast<size_t>(high) + 1, sizeof(int32_t))));
    if (!winner) throw std::bad_alloc();
    int32_t* w = winner.get();
    for (size_t k = 0; k < doc.objs.size(); ++k) {
        const obj_entry& e = doc.objs[k];
        if (e.num > MAX_OBJ_NUM || container[k]) continue;
        int32_t id = static_cast<int32_t>(k) + 1;
        if (!e.in_objstm)
            w[e.num] = id;
        else if (w[e.num] <= 0)
            w[e.num] = -id;
    }
    return winner;
}

}  // namespace

void doc_select(pdf_doc* doc) {
    std::vector<bool> container(doc->objs.size());
    int32_t high = 0;
    if (doc->container_rows_known) {
        for (size_t k : doc->container_rows) container[k] = true;
    }
    for (size_t k = 0; k < doc->objs.size(); ++k) {
        const obj_entry& e = doc->objs[k];
        if (!doc->container_rows_known) container[k] = row_is_container(*doc, e);
        if (e.num <= MAX_OBJ_NUM) high = std::max(high, e.num);
    }
    try {
        // Kept rows move forward in place, keeping their order.
        auto winner = select_winners(*doc, container, high);
        size_t w = 0;
        for (size_t k = 0; k < doc->objs.size(); ++k) {
            const obj_entry& e = doc->objs[k];
            if (e.num > MAX_OBJ_NUM || container[k]) continue;
            int32_t v = winner.get()[e.num];
            int32_t id = static_cast<int32_t>(k) + 1;
            if (v != id && v != -id) continue;
            if (w != k) doc->objs[w] = e;
            ++w;
        }
        doc->objs.resize(w);
    } catch (const std::bad_alloc&) {
        doc->objs = select_fallback(*doc, container);
    }
    // The container rows named rows of the table before the selection.
    doc->container_rows = {};
    doc->container_rows_known = false;
    doc->max_obj = 0;
    for (const obj_entry& e : doc->objs) doc->max_obj = std::max(doc->max_obj, e.num);
}

int doc_build_index(pdf_doc* doc) {
    if (!doc->by_num.reset(doc->max_obj)) return -1;
    for (size_t k = 0; k < doc->objs.size(); ++k) doc->by_num.add_first(doc->objs[k].num, k);
    return 0;
}
