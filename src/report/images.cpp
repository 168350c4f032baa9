// Image list: every image stream of the object table with the first page
// whose resources refer to it, its pixel size, bits per pixel, filter chain
// and stored size.
#include <cstring>
#include <string>
#include <unordered_set>
#include <vector>

#include "syntax/codecs.h"
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

void image_write(strbuf& b, const int32_t (&nums)[4], const std::string& filter, int32_t size, bool& first) {
    static const char* const KEYS[4] = {"{\"page\":", ",\"width\":", ",\"height\":", ",\"bpp\":"};
    if (!first) buf_bytes(&b, ",", 1);
    first = false;
    for (int k = 0; k < 4; ++k) {
        buf_str(&b, KEYS[k]);
        buf_int(&b, nums[k]);
    }
    buf_str(&b, ",\"filter\":");
    json_str_append(&b, filter.c_str());
    buf_str(&b, ",\"size_bytes\":");
    buf_int(&b, size);
    buf_bytes(&b, "}", 1);
}

}  // namespace

bool images_build(const pdf_doc& doc, strbuf& b) {
    buf_bytes(&b, "[", 1);
    bool first = true;
    std::vector<int32_t> first_page;
    bool pages_indexed = false;
    for (const obj_entry& e : doc.objs) {
        if (!e.has_stream) continue;
        dict_view r = doc_dict_span(doc, e);
        if (!r.text) continue;
        cstr subtype = dict_name(r, "Subtype");
        if (!subtype || std::strcmp(subtype.get(), "Image") != 0) continue;
        if (!pages_indexed) {
            first_page = image_first_pages(doc);
            pages_indexed = true;
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
