// Bookmarks read as the PDF standard defines them: the outline items from the
// catalog's /Outlines through /First and /Next (references or direct
// dictionaries), titles read through references, and each item's page from
// its /Dest, else from a GoTo action's /D. A destination is an array whose
// first element is a page reference, reached directly, through references,
// through << /D ... >> dictionaries or through a named destination.
#include <string>
#include <unordered_map>
#include <vector>

#include "load/graph.h"
#include "load/tree_walk.h"
#include "report/nav_resolve.h"

namespace {

// Links followed from a destination value to its array: a name to a
// dictionary to its /D, and so on. A real file needs two or three.
constexpr int DEST_HOPS_MAX = 8;

// The named destinations of the document: the catalog's /Dests dictionary
// (keys are names) and the /Names /Dests name tree (keys are strings). A name
// is looked up in the dictionary first, then in the tree, whichever syntax it
// was written in. Both are read in one pass when the first name is looked up.
class named_dests {
public:
    named_dests(const pdf_doc& doc, pdf_val catalog) : doc_(doc), catalog_(catalog) {}

    // The destination value stored for `key` (as written), or none.
    pdf_val find(const std::string& key) {
        if (!built_) build();
        if (auto it = in_dict_.find(key); it != in_dict_.end()) return it->second;
        if (auto it = in_tree_.find(key); it != in_tree_.end()) return it->second;
        return {};
    }

private:
    void build() {
        built_ = true;
        dict_each(dict_get(doc_, catalog_, "Dests"), [&](std::string_view k, pdf_val v) {
            in_dict_.insert_or_assign(std::string(k), v);  // the last of a repeated key, as dict_get reads it
            return true;
        });
        pdf_val names = dict_get(doc_, catalog_, "Names");
        pdf_val tree = dict_get_raw(names, "Dests");
        if (!tree) return;
        name_tree_each(doc_, tree, [&](std::string_view k, pdf_val v) {
            in_tree_.emplace(std::string(k), v);
            return true;
        });
    }

    const pdf_doc& doc_;
    pdf_val catalog_;
    bool built_ = false;
    std::unordered_map<std::string, pdf_val> in_dict_;
    std::unordered_map<std::string, pdf_val> in_tree_;
};

// The entries of an outline item the report reads, as written (the last of
// a repeated key), taken in one pass over the dictionary.
struct outline_item {
    pdf_val title, dest, action, next, first;

    explicit outline_item(pdf_val d) {
        dict_each(d, [&](std::string_view k, pdf_val v) {
            if (k == "Title")
                title = v;
            else if (k == "Dest")
                dest = v;
            else if (k == "A")
                action = v;
            else if (k == "Next")
                next = v;
            else if (k == "First")
                first = v;
            return true;
        });
    }
};

struct outline_reader {
    const pdf_doc& doc;
    page_index pages;
    named_dests names;
    visit_set seen;

    // 1-based page the destination names, 0 when it names none (an integer
    // first element is a page number of another file's destination).
    int32_t dest_page(pdf_val d) {
        for (int hop = 0; hop < DEST_HOPS_MAX; ++hop) {
            d = graph_resolve(doc, d);
            if (d.is_array()) {
                pdf_val first;
                array_each(d, [&](pdf_val v) {
                    first = v;
                    return false;
                });
                int32_t n = val_ref(first);
                return n > 0 ? pages.of(n) : 0;
            }
            if (d.is_dict()) {
                d = dict_get_raw(d, "D");
                continue;
            }
            std::string key;
            if (d.is_name())
                key = val_name(d);
            else if (!val_string(d, &key))
                return 0;
            d = names.find(key);
        }
        return 0;
    }

    // The page of an item: its /Dest when it has one, else its GoTo action's.
    int32_t item_page(const struct outline_item& it) {
        if (it.dest) return dest_page(it.dest);
        pdf_val a = graph_resolve(doc, it.action);
        if (a.is_dict() && val_name(dict_get(doc, a, "S")) == "GoTo") return dest_page(dict_get_raw(a, "D"));
        return 0;
    }

    // The item a /First or /Next value names: a dictionary met for the first
    // time, or none (which ends the chain).
    pdf_val item_at(pdf_val v) {
        int32_t n = val_ref(v);
        if (n > 0) {
            if (!seen.first_visit(n)) return {};
            v = graph_resolve(doc, v);
        }
        return v.is_dict() ? v : pdf_val{};
    }
};

// One open array of siblings: the value naming the next sibling, and whether
// nothing has been written into the array yet.
struct sibling_chain {
    pdf_val next;
    bool empty;
};

bool names_items(pdf_val v) { return val_ref(v) > 0 || v.is_dict(); }

}  // namespace

bool bookmarks_build_resolved(const pdf_doc& doc, strbuf& b) {
    buf_bytes(&b, "[", 1);
    pdf_val catalog = graph_object(doc, doc.root);
    pdf_val outlines_ref = dict_get_raw(catalog, "Outlines");
    pdf_val outlines = graph_resolve(doc, outlines_ref);
    if (outlines.is_dict()) {
        outline_reader rd{doc, page_index(doc), named_dests(doc, catalog), visit_set(doc)};
        if (int32_t n = val_ref(outlines_ref); n > 0) rd.seen.first_visit(n);  // the root is no item
        // The nesting is kept on an explicit stack so depth costs no call stack.
        std::vector<sibling_chain> stack{{dict_get_raw(outlines, "First"), true}};
        std::string title;
        while (!stack.empty()) {
            sibling_chain& c = stack.back();
            pdf_val item = rd.item_at(c.next);
            if (!item) {
                stack.pop_back();
                if (!stack.empty()) buf_str(&b, "]}");
                continue;
            }
            outline_item it(item);
            if (!c.empty) buf_bytes(&b, ",", 1);
            c.empty = false;
            c.next = it.next;
            title.clear();
            val_string(graph_resolve(doc, it.title), &title);
            buf_str(&b, "{\"title\":");
            text_json_append(&b, title);
            buf_str(&b, ",\"page\":");
            buf_int(&b, rd.item_page(it));
            if (names_items(it.first)) {
                buf_str(&b, ",\"children\":[");
                stack.push_back({it.first, true});  // c is not used past this point
            } else {
                buf_bytes(&b, "}", 1);
            }
        }
    }
    buf_bytes(&b, "]", 1);
    return true;
}
