// Image list: every image stream of the object table with the first page
// whose resources refer to it, its pixel size, bits per pixel, filter chain
// and stored size.
#include <cstring>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "core/options.h"
#include "load/graph.h"
#include "syntax/codecs.h"
#include "syntax/text_string.h"
#include "report/report_common.h"
#include "report/reports.h"

namespace {

constexpr size_t REF_SET_CAP = 1024;

// The references found in one page's resources: at most 1024 distinct object
// numbers, first ones in scan order kept. Membership is by a per-row stamp
// (numbers of existing rows) or a hash set (numbers without a row), so each
// add is constant time.
class ref_set {
public:
    explicit ref_set(const pdf_doc& doc) : doc_(doc), stamp_(doc.objs.size(), 0) {}

    void clear() {
        ++epoch_;
        count_ = 0;
        rows_.clear();
        other_.clear();
    }
    bool full() const { return count_ >= REF_SET_CAP; }
    void add(int32_t num) {
        if (full()) return;
        if (const obj_entry* e = doc_find(doc_, num)) {
            size_t row = doc_row(doc_, e);
            if (stamp_[row] == epoch_) return;
            stamp_[row] = epoch_;
            rows_.push_back(row);
        } else if (!other_.insert(num).second) {
            return;
        }
        ++count_;
    }
    // Rows of the numbers held that name an object of the table.
    const std::vector<size_t>& rows() const { return rows_; }

private:
    const pdf_doc& doc_;
    std::vector<uint32_t> stamp_;
    std::unordered_set<int32_t> other_;
    std::vector<size_t> rows_;
    size_t count_ = 0;
    uint32_t epoch_ = 0;
};

// Regular characters of a name: everything but PDF white space and delimiters.
bool is_regular(uint8_t c) {
    if (is_pdf_ws(c)) return false;
    switch (c) {
        case '(': case ')': case '<': case '>': case '[': case ']':
        case '{': case '}': case '/': case '%':
            return false;
        default:
            return true;
    }
}

// Adds to `set` the object number of every reference N G R that follows a
// name in text[pos, end). The scan goes on right after each name, so names
// written back to back (/Type/XObject) are all seen.
void collect_resource_refs(const uint8_t* text, pos p, pos end, ref_set& set) {
    while (p < end && !set.full()) {
        if (text[p] != '/') {
            ++p;
            continue;
        }
        pos q = p + 1;
        while (q < end && is_regular(text[q])) ++q;
        if (q >= end) return;
        pos v = ws_skip(text, q, end);
        if (v < end && is_digit(text[v])) {
            int32_t n = ref_read(text, v, end);
            if (n > 0) set.add(n);
        }
        p = q;
    }
}

// Page number (1-based) of the first page whose reference set holds each
// row's object number, 0 for none; indexed by row. A page object listed
// twice, or a resource dictionary shared by reference, is scanned once: its
// numbers already carry the earlier page.
std::vector<int32_t> image_first_pages(const pdf_doc& doc) {
    std::vector<int32_t> first(doc.objs.size(), 0);
    if (!doc.pages_ok || doc.pages.empty()) return first;
    ref_set set(doc);
    std::vector<uint8_t> page_done(doc.objs.size(), 0), res_done(doc.objs.size(), 0);
    for (size_t i = 0; i < doc.pages.size(); ++i) {
        const obj_entry* pe = doc_find(doc, doc.pages[i].page_obj);
        if (!pe || page_done[doc_row(doc, pe)]) continue;
        page_done[doc_row(doc, pe)] = 1;
        dict_view r = doc_dict_span(doc, *pe);
        if (!r.text) continue;
        pos v = r.value("Resources");
        if (v < 0) continue;
        set.clear();
        if (r.text[v] == '<') {
            collect_resource_refs(r.text, v, r.end, set);
        } else if (is_digit(r.text[v])) {
            int32_t n = ref_read(r.text, v, r.end);
            const obj_entry* re = n > 0 ? doc_find(doc, n) : nullptr;
            if (!re || res_done[doc_row(doc, re)]) continue;
            res_done[doc_row(doc, re)] = 1;
            dict_view rr = doc_dict_span(doc, *re);
            if (!rr.text) continue;
            collect_resource_refs(rr.text, rr.start, rr.end, set);
        } else {
            continue;
        }
        for (size_t row : set.rows())
            if (first[row] == 0) first[row] = static_cast<int32_t>(i + 1);
    }
    return first;
}

// --- Reading as the standard defines it (OPT_RESOLVE) -----------------------

// The resources a page inherits from its /Pages ancestors (/Parent chain;
// a page met on the way lends none). Each node's answer is kept, so a chain is read once however many pages
// hang below it; a loop in the chain ends it without an answer.
class inherited_resources {
public:
    explicit inherited_resources(const pdf_doc& doc) : doc_(doc), memo_(doc.objs.size(), UNKNOWN) {}

    pdf_val of(pdf_val page) {
        std::vector<size_t> chain;  // rows on the way up, answered at the end
        pdf_val found;
        int32_t n = val_ref(dict_get_raw(page, "Parent"));
        while (n > 0) {
            int64_t row = doc_.by_num.row(n);
            if (row < 0) break;
            int32_t m = memo_[static_cast<size_t>(row)];
            if (m >= 0) {
                found = answers_[static_cast<size_t>(m)];
                break;
            }
            if (m == ON_CHAIN) break;  // a loop
            memo_[static_cast<size_t>(row)] = ON_CHAIN;
            chain.push_back(static_cast<size_t>(row));
            pdf_val node = graph_object(doc_, n);
            // A /Parent naming a page is no page tree node: its resources are its own.
            pdf_val res = val_name(dict_get(doc_, node, "Type")) == "Page" ? pdf_val{} : dict_get(doc_, node, "Resources");
            if (res.is_dict()) {
                found = res;
                break;
            }
            n = val_ref(dict_get_raw(node, "Parent"));
        }
        if (!chain.empty()) {
            answers_.push_back(found);
            for (size_t row : chain) memo_[row] = static_cast<int32_t>(answers_.size() - 1);
        }
        return found;
    }

private:
    static constexpr int32_t UNKNOWN = -1;
    static constexpr int32_t ON_CHAIN = -2;
    const pdf_doc& doc_;
    std::vector<int32_t> memo_;  // by row: index into answers_, or UNKNOWN / ON_CHAIN
    std::vector<pdf_val> answers_;
};

// Walks the resources reached from the pages in page order (the page's own
// or inherited resources, and the normal appearances of its annotations) and
// gives each image the first page that reaches it. Whatever was walked for one page
// (a resource or XObject dictionary, a form) has given its images a page no
// later than any later page would, so it is never walked again: the whole
// walk is linear in the size of the graph, with an explicit stack.
class resource_walk {
public:
    explicit resource_walk(const pdf_doc& doc)
        : doc_(doc), first_(doc.objs.size(), 0), forms_(doc), inherited_(doc) {}

    std::vector<int32_t> run() {
        if (!doc_.pages_ok || doc_.pages.empty()) return std::move(first_);
        for (size_t i = 0; i < doc_.pages.size(); ++i) {
            pdf_val page = graph_object(doc_, doc_.pages[i].page_obj);
            if (!page.is_dict()) continue;
            pdf_val res = dict_get(doc_, page, "Resources");
            if (!res.is_dict()) res = inherited_.of(page);
            stack_.push_back(res);
            annotations(page);
            walk(static_cast<int32_t>(i + 1));
        }
        return std::move(first_);
    }

private:
    // True the first time the dictionary or array at v's position is seen.
    bool first_time(pdf_val v) { return (v.is_dict() || v.is_array()) && seen_.insert(v.text + v.start).second; }

    // The normal appearances of the page's annotations are forms drawn on
    // the page: a stream, or a dictionary of appearance states.
    void annotations(pdf_val page) {
        pdf_val annots = dict_get(doc_, page, "Annots");
        if (!first_time(annots)) return;
        array_each(annots, [&](pdf_val a) {
            pdf_val annot = graph_resolve(doc_, a);
            if (!first_time(annot)) return true;
            pdf_val normal = dict_get_raw(dict_get(doc_, annot, "AP"), "N");
            if (appearance(val_ref(normal))) return true;
            pdf_val states = graph_resolve(doc_, normal);
            if (first_time(states))
                dict_each(states, [&](std::string_view, pdf_val v) {
                    appearance(val_ref(v));
                    return true;
                });
            return true;
        });
    }

    // A form given as an appearance: its resources are walked. False when
    // object n is no stream.
    bool appearance(int32_t n) {
        const obj_entry* e = n > 0 ? doc_find(doc_, n) : nullptr;
        if (!e || !e->has_stream) return false;
        if (forms_.first_visit(n)) stack_.push_back(dict_get(doc_, graph_object(doc_, n), "Resources"));
        return true;
    }

    void walk(int32_t page) {
        while (!stack_.empty()) {
            pdf_val r = stack_.back();
            stack_.pop_back();
            if (!first_time(r)) continue;
            pdf_val xo = dict_get(doc_, r, "XObject");
            if (!first_time(xo)) continue;
            dict_each(xo, [&](std::string_view, pdf_val v) {
                int32_t n = val_ref(v);
                if (n > 0 && forms_.first_visit(n)) xobject(n, page);
                return true;
            });
        }
    }

    void xobject(int32_t n, int32_t page) {
        pdf_val x = graph_object(doc_, n);
        std::string subtype = val_name(dict_get(doc_, x, "Subtype"));
        if (subtype == "Image") {
            int64_t row = doc_.by_num.row(n);
            if (row >= 0 && first_[static_cast<size_t>(row)] == 0) first_[static_cast<size_t>(row)] = page;
        } else if (subtype == "Form") {
            stack_.push_back(dict_get(doc_, x, "Resources"));
        }
    }

    const pdf_doc& doc_;
    std::vector<int32_t> first_;  // by row
    visit_set forms_;             // XObjects looked at, by number
    inherited_resources inherited_;
    std::unordered_set<const uint8_t*> seen_;  // dictionaries walked, by position
    std::vector<pdf_val> stack_;
};

bool is_null(pdf_val v) { return v && v.end - v.start >= 4 && std::memcmp(v.text + v.start, "null", 4) == 0; }

// Components per pixel of a colour space: a device or CIE-based name, or an
// array whose first element names the family (ICCBased: the profile's /N;
// Indexed and Separation: 1; DeviceN: its number of colorant names). -1 when
// unknown. An ICC profile without /N falls back to its /Alternate; the chain
// of fallbacks is cut after a few links.
int32_t colorspace_components_resolved(const pdf_doc& doc, pdf_val cs) {
    static const struct {
        const char* name;
        int32_t n;
    } NAMES[] = {{"DeviceRGB", 3}, {"RGB", 3},     {"CalRGB", 3},   {"Lab", 3},   {"ICCBased", 3},
                 {"DeviceCMYK", 4}, {"CMYK", 4},   {"DeviceGray", 1}, {"G", 1},   {"CalGray", 1},
                 {"GHS", 1},       {"Indexed", 1}, {"I", 1},        {"Separation", 1}};
    for (int links = 0; links < 8; ++links) {
        cs = graph_resolve(doc, cs);
        pdf_val family = cs;
        pdf_val second;
        if (cs.is_array()) {
            int k = 0;
            array_each(cs, [&](pdf_val v) {
                if (k == 0) family = graph_resolve(doc, v);
                else second = v;
                return ++k < 2;
            });
        }
        if (!family.is_name()) return -1;
        std::string name = val_name(family);
        if (name == "ICCBased" && cs.is_array()) {
            pdf_val profile = graph_resolve(doc, second);
            int64_t n = 0;
            if (val_int(dict_get(doc, profile, "N"), &n) && n > 0 && n <= 32) return static_cast<int32_t>(n);
            cs = dict_get_raw(profile, "Alternate");
            continue;
        }
        if (name == "DeviceN") {
            int32_t count = 0;
            array_each(graph_resolve(doc, second), [&](pdf_val) {
                ++count;
                return true;
            });
            return count > 0 ? count : -1;
        }
        for (const auto& row : NAMES)
            if (name == row.name) return row.n;
        return -1;
    }
    return -1;
}

// The top-level entries an image's facts come from, read in one pass (the
// last entry of a key wins, as dict_get_raw reads it).
struct image_entries {
    pdf_val width, height, mask, colorspace, bpc, filter;
};

image_entries image_entries_of(pdf_val img) {
    image_entries m;
    dict_each(img, [&](std::string_view k, pdf_val v) {
        if (k == "Width") m.width = v;
        else if (k == "Height") m.height = v;
        else if (k == "ImageMask") m.mask = v;
        else if (k == "ColorSpace") m.colorspace = v;
        else if (k == "BitsPerComponent") m.bpc = v;
        else if (k == "Filter") m.filter = v;
        return true;
    });
    return m;
}

// An integer value, references followed; `absent` when it is no integer.
int64_t int_of(const pdf_doc& doc, pdf_val v, int64_t absent) {
    int64_t n = 0;
    return val_int(graph_resolve(doc, v), &n) ? n : absent;
}

int32_t clamp_dim(int64_t v) { return v < 0 ? 0 : v > INT32_MAX ? INT32_MAX : static_cast<int32_t>(v); }

// Bits per pixel: components times /BitsPerComponent; an image mask is one
// bit deep. 0 when either is unknown.
int32_t image_bpp_resolved(const pdf_doc& doc, const image_entries& m) {
    pdf_val mask = graph_resolve(doc, m.mask);
    if (mask && mask.end - mask.start >= 4 && std::memcmp(mask.text + mask.start, "true", 4) == 0) return 1;
    int32_t comps = colorspace_components_resolved(doc, m.colorspace);
    int64_t bpc = int_of(doc, m.bpc, -1);
    if (comps < 0 || bpc < 0 || bpc > 64) return 0;
    return comps * static_cast<int32_t>(bpc);
}

// Filter chain: a name, or the names of an array joined by ","; "none" when
// absent, null or empty.
std::string image_filter_resolved(const pdf_doc& doc, const image_entries& m) {
    pdf_val f = graph_resolve(doc, m.filter);
    if (f.is_name()) return val_name(f);
    std::string joined;
    array_each(f, [&](pdf_val v) {
        pdf_val n = graph_resolve(doc, v);
        if (n.is_name()) {
            if (!joined.empty()) joined += ',';
            joined += val_name(n);
        }
        return true;
    });
    return joined.empty() || is_null(f) ? "none" : joined;
}

// Filter chain: a name, or the names of an array joined by ","; "none" when
// absent or empty.
std::string image_filter(const dict_view& r) {
    const uint8_t* t = r.text;
    pos end = r.end;
    pos v = r.value_past_name("Filter");
    if (v < 0 || v >= end) return "none";
    if (t[v] == '/') {
        cstr name = name_decode(t, v + 1, end);
        return name ? name.get() : "";
    }
    if (t[v] != '[') return "none";
    std::string joined;
    pos p = v + 1;
    for (;;) {
        p = ws_skip(t, p, end);
        if (p >= end || t[p] == ']') break;
        if (t[p] != '/') {
            ++p;
            continue;
        }
        if (cstr name = name_decode(t, p + 1, end)) {
            if (!joined.empty()) joined += ',';
            joined += name.get();
        }
        // Names written back to back count as one run: only the first is taken.
        while (p < end && (t[p] == '/' || t[p] == '#' || is_name_cont(t[p]))) ++p;
    }
    return joined.empty() ? "none" : joined;
}

// Components per pixel of a colour space name; -1 for names not listed.
int32_t colorspace_components(const char* name) {
    static const struct {
        const char* name;
        int32_t n;
    } TABLE[] = {{"DeviceRGB", 3}, {"CalRGB", 3}, {"ICCBased", 3}, {"DeviceCMYK", 4}, {"DeviceGray", 1}, {"GHS", 1}};
    for (const auto& row : TABLE)
        if (std::strcmp(name, row.name) == 0) return row.n;
    return -1;
}

// Bits per pixel: components of /ColorSpace times /BitsPerComponent, 0 when
// either is unknown. A number as colour space (an indirect reference's object
// number included) is taken as the component count.
int32_t image_bpp(const dict_view& r) {
    int32_t comps = -1;
    pos v = r.value("ColorSpace");
    if (v >= 0 && r.text[v] == '/') {
        cstr name = name_decode(r.text, v + 1, r.end);
        if (name) comps = colorspace_components(name.get());
    } else if (v >= 0 && is_digit(r.text[v])) {
        comps = int_read(r.text, &v, r.end);
    }
    int32_t bpc = r.int_value("BitsPerComponent", -1);
    if (comps < 0 || bpc < 0) return 0;
    return static_cast<int32_t>(static_cast<uint32_t>(comps) * static_cast<uint32_t>(bpc));
}

int32_t non_negative(int32_t v) { return v < 0 ? 0 : v; }

void image_write(strbuf& b, const int32_t (&nums)[4], const std::string& filter, int32_t size, bool& first,
                 bool counted = false) {
    static const char* const KEYS[4] = {"{\"page\":", ",\"width\":", ",\"height\":", ",\"bpp\":"};
    if (!first) buf_bytes(&b, ",", 1);
    first = false;
    for (int k = 0; k < 4; ++k) {
        buf_str(&b, KEYS[k]);
        buf_int(&b, nums[k]);
    }
    buf_str(&b, ",\"filter\":");
    if (counted)
        json_str_append_n(&b, filter.data(), filter.size());
    else
        json_str_append(&b, filter.c_str());
    buf_str(&b, ",\"size_bytes\":");
    buf_int(&b, size);
    buf_bytes(&b, "}", 1);
}

// One image read with the options: OPT_RESOLVE reads the image dictionary's
// top-level entries with references followed; OPT_UNICODE makes the filter
// names valid UTF-8.
void image_write_optioned(const pdf_doc& doc, const obj_entry& e, const dict_view& r,
                          const std::vector<int32_t>& first_page, bool resolve, bool unicode, strbuf& b, bool& first) {
    int64_t row = e.num > 0 ? doc.by_num.row(e.num) : -1;
    int32_t page = row >= 0 ? first_page[static_cast<size_t>(row)] : 0;
    int32_t nums[4];
    std::string filter;
    if (resolve) {
        image_entries m = image_entries_of(graph_object(doc, e.num));
        nums[0] = page;
        nums[1] = clamp_dim(int_of(doc, m.width, 0));
        nums[2] = clamp_dim(int_of(doc, m.height, 0));
        nums[3] = image_bpp_resolved(doc, m);
        filter = image_filter_resolved(doc, m);
    } else {
        nums[0] = page;
        nums[1] = non_negative(r.int_value("Width", 0));
        nums[2] = non_negative(r.int_value("Height", 0));
        nums[3] = image_bpp(r);
        filter = image_filter(r);
    }
    if (unicode) filter = utf8_sanitize(filter);
    int32_t size = static_cast<int32_t>(static_cast<uint32_t>(e.data_end) - static_cast<uint32_t>(e.data_start));
    image_write(b, nums, filter, size, first, unicode);
}

}  // namespace

bool images_build(const pdf_doc& doc, strbuf& b) {
    buf_bytes(&b, "[", 1);
    bool first = true;
    std::vector<int32_t> first_page;
    bool pages_indexed = false;
    const bool resolve = option_on(OPT_RESOLVE);
    const bool unicode = option_on(OPT_UNICODE);
    for (const obj_entry& e : doc.objs) {
        if (!e.has_stream) continue;
        dict_view r = doc_dict_span(doc, e);
        if (!r.text) continue;
        cstr subtype = dict_name(r, "Subtype");
        if (!subtype || std::strcmp(subtype.get(), "Image") != 0) continue;
        if (!pages_indexed) {
            first_page = resolve ? resource_walk(doc).run() : image_first_pages(doc);
            pages_indexed = true;
        }
        if (resolve || unicode) {
            image_write_optioned(doc, e, r, first_page, resolve, unicode, b, first);
            continue;
        }
        // The page is looked up by number: the row that doc_find gives for it.
        const obj_entry* by_num = doc_find(doc, e.num);
        int32_t page = by_num ? first_page[doc_row(doc, by_num)] : 0;
        int32_t nums[4] = {page, non_negative(r.int_value("Width", 0)), non_negative(r.int_value("Height", 0)),
                           image_bpp(r)};
        int32_t size = static_cast<int32_t>(static_cast<uint32_t>(e.data_end) - static_cast<uint32_t>(e.data_start));
        image_write(b, nums, image_filter(r), size, first);
    }
    buf_bytes(&b, "]", 1);
    return true;
}
