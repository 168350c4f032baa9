// Number and name trees walked with an explicit stack and a visited set.
#include "load/tree_walk.h"

#include <vector>

namespace {

struct tree_node {
    pdf_val node;
    int depth;
};

// Walks the tree, handing every (key, value) pair of the leaf array `leaf_key`
// to pair(key, value); pair returns false to stop the walk.
void tree_walk(const pdf_doc& doc, pdf_val root, std::string_view leaf_key,
               const std::function<bool(pdf_val, pdf_val)>& pair) {
    visit_set seen(doc);
    if (int32_t n = val_ref(root); n > 0) seen.first_visit(n);
    std::vector<tree_node> stack;
    std::vector<pdf_val> kids;
    stack.push_back({graph_resolve(doc, root), 0});
    while (!stack.empty()) {
        tree_node t = stack.back();
        stack.pop_back();
        if (!t.node.is_dict()) continue;
        bool go_on = true;
        pdf_val key;
        array_each(dict_get(doc, t.node, leaf_key), [&](pdf_val v) {
            if (!key) {
                key = v;
                return true;
            }
            go_on = pair(key, v);
            key = {};
            return go_on;
        });
        if (!go_on) return;
        if (t.depth >= TREE_DEPTH_MAX) continue;
        kids.clear();
        array_each(dict_get(doc, t.node, "Kids"), [&](pdf_val v) {
            int32_t n = val_ref(v);
            if (n > 0 ? seen.first_visit(n) : v.is_dict()) kids.push_back(v);
            return true;
        });
        // Pushed last first, so the first kid is walked next.
        for (size_t i = kids.size(); i-- > 0;) stack.push_back({graph_resolve(doc, kids[i]), t.depth + 1});
    }
}

}  // namespace

void number_tree_each(const pdf_doc& doc, pdf_val root, const std::function<bool(int64_t, pdf_val)>& f) {
    tree_walk(doc, root, "Nums", [&](pdf_val k, pdf_val v) {
        int64_t key = 0;
        return val_int(graph_resolve(doc, k), &key) ? f(key, v) : true;
    });
}

void name_tree_each(const pdf_doc& doc, pdf_val root, const std::function<bool(std::string_view, pdf_val)>& f) {
    std::string key;
    tree_walk(doc, root, "Names", [&](pdf_val k, pdf_val v) {
        return val_string(graph_resolve(doc, k), &key) ? f(key, v) : true;
    });
}
