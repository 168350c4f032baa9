// Page labels read as the PDF standard defines them: /PageLabels (direct or
// by reference) is a number tree from page indexes to label dictionaries,
// walked through /Nums and /Kids. A label dictionary gives the numbering
// style /S (none when absent: the labels are the prefix alone), the prefix
// /P and the first number /St. The label array of the byte rules is read as
// well: bracketed [start dictionary] pairs, bare start indexes, and pairs
// written flat as in /Nums.
#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "load/graph.h"
#include "load/tree_walk.h"
#include "report/nav_resolve.h"

namespace {

const char* style_of(pdf_val s) {
    if (!s.is_name()) return "none";
    std::string n = val_name(s);
    if (n == "D") return "decimal";
    if (n == "R") return "roman_upper";
    if (n == "r") return "roman_lower";
    if (n == "A") return "alpha_upper";
    if (n == "a") return "alpha_lower";
    return "none";  // no numbering viewers know of: the prefix alone
}

// Reads the label dictionary d (already resolved) into r.
void label_dict_read(const pdf_doc& doc, pdf_val d, label_range& r) {
    r.style = style_of(dict_get(doc, d, "S"));
    r.prefix.clear();
    val_string(dict_get(doc, d, "P"), &r.prefix);
    int64_t st = 1;
    r.start_num = val_int(dict_get(doc, d, "St"), &st) && st >= 1 ? st : 1;
}

// The ranges in the order of their first pages, as the tree's keys are meant
// to be sorted (a leaf written out of order is put right; equal keys keep
// the order of the file).
void label_tree_write(const pdf_doc& doc, pdf_val tree, strbuf& b) {
    std::vector<label_range> ranges;
    number_tree_each(doc, tree, [&](int64_t key, pdf_val v) {
        pdf_val d = graph_resolve(doc, v);
        if (key < 0 || !d.is_dict()) return true;  // labels no page
        label_range r;
        r.start = key;
        label_dict_read(doc, d, r);
        ranges.push_back(std::move(r));
        return true;
    });
    std::stable_sort(ranges.begin(), ranges.end(),
                     [](const label_range& x, const label_range& y) { return x.start < y.start; });
    bool first = true;
    for (const label_range& r : ranges) label_write(b, r, first);
}

// The label array. A start index waiting for its dictionary is written with
// the defaults when anything but a label dictionary follows it.
void label_array_write(const pdf_doc& doc, pdf_val arr, strbuf& b) {
    bool first = true;
    bool pending = false;
    label_range r;
    auto flush = [&] {
        if (pending) label_write(b, r, first);
        pending = false;
        r = label_range{};
    };
    array_each(arr, [&](pdf_val e) {
        int64_t n = 0;
        if (val_ref(e) < 0 && val_int(e, &n)) {
            flush();
            r.start = n;
            pending = true;
            return true;
        }
        pdf_val d = graph_resolve(doc, e);
        if (d.is_dict()) {
            if (pending) {
                label_dict_read(doc, d, r);
                label_write(b, r, first);
                pending = false;
                r = label_range{};
            }
            return true;
        }
        flush();
        if (!d.is_array()) return true;
        // [start dictionary]; either part may be missing.
        label_range p;
        pdf_val items[2];
        int count = 0;
        array_each(d, [&](pdf_val v) {
            items[count++] = v;
            return count < 2;
        });
        int at = 0;
        if (count > 0 && val_int(items[0], &n) && val_ref(items[0]) < 0) {
            p.start = n;
            at = 1;
        }
        pdf_val pd = at < count ? graph_resolve(doc, items[at]) : pdf_val{};
        if (pd.is_dict()) label_dict_read(doc, pd, p);
        label_write(b, p, first);
        return true;
    });
    flush();
}

}  // namespace

bool page_labels_build_resolved(const pdf_doc& doc, strbuf& b) {
    buf_bytes(&b, "[", 1);
    pdf_val raw = dict_get_raw(graph_object(doc, doc.root), "PageLabels");
    pdf_val labels = graph_resolve(doc, raw);
    if (labels.is_dict())
        label_tree_write(doc, raw, b);  // the reference itself, so that a /Kids loop back to the root ends
    else if (labels.is_array())
        label_array_write(doc, labels, b);
    buf_bytes(&b, "]", 1);
    return true;
}
