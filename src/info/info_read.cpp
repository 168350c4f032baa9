// Reading the Info dictionary: top-level key search, value decoding, the
// Keywords join, the eight-field reader, and the choice of the Info object.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "core/date.h"
#include "core/options.h"
#include "info/info.h"
#include "load/graph.h"
#include "syntax/codecs.h"
#include "syntax/lexer.h"
#include "syntax/text_string.h"

const char* const INFO_KEYS[INFO_FIELD_COUNT] = {"Title",    "Author",   "Subject",      "Keywords",
                                                 "Creator",  "Producer", "CreationDate", "ModDate"};
const char* const KEYS[INFO_FIELD_COUNT] = {"title",   "author",   "subject",       "keywords",
                                            "creator", "producer", "creation_date", "mod_date"};

namespace {

bool is_date_field(int i) { return i == FIELD_CREATION_DATE || i == FIELD_MOD_DATE; }

// Positions of "/Title", "/Author", "/Producer" and "/Creator" in the file
// bytes: a row of the file body can hold one of these keys only where its
// span contains the bytes, so most rows are ruled out without a scan of
// their own.
struct key_hits {
    static constexpr const char* NAMES[4] = {"Title", "Author", "Producer", "Creator"};
    std::vector<pos> at[4];

    explicit key_hits(const pdf_doc& doc) {
        const uint8_t* d = doc.data;
        pos len = doc.len;
        for (pos i = 0; i < len; ++i) {
            const void* hit = std::memchr(d + i, '/', static_cast<size_t>(len - i));
            if (!hit) break;
            i = static_cast<const uint8_t*>(hit) - d;
            for (int k = 0; k < 4; ++k) {
                size_t n = std::strlen(NAMES[k]);
                if (static_cast<size_t>(len - i - 1) >= n && std::memcmp(d + i + 1, NAMES[k], n) == 0)
                    at[k].push_back(i);
            }
        }
    }

    // Some occurrence of key k lies wholly inside [start, end).
    bool within(int k, pos start, pos end) const {
        const auto& v = at[k];
        auto it = std::lower_bound(v.begin(), v.end(), start);
        return it != v.end() && *it + 1 + static_cast<pos>(std::strlen(NAMES[k])) <= end;
    }
};

bool region_has(const dict_view& r, const char* key) {
    return name_find_depth0(r.text, r.start, r.end, key) >= 0;
}

// The fallback rule: Title, Author or Producer, and Producer or Creator.
bool region_looks_like_info(const dict_view& r) {
    return (region_has(r, "Title") || region_has(r, "Author") || region_has(r, "Producer")) &&
           (region_has(r, "Producer") || region_has(r, "Creator"));
}

}  // namespace

cstr info_value_at(const uint8_t* text, pos k, pos end) {
    pos i = k + 1;
    while (i < end && is_name_cont(text[i])) ++i;
    i = ws_skip(text, i, end);
    if (i >= end) return nullptr;
    uint8_t c = text[i];
    if (c == '(') return literal_decode(text, i, end);
    if (c == '<') {
        if (dict_opens(text, i, end)) return nullptr;
        return hex_decode(text, i, end);
    }
    if (c == '/') {
        // A name value keeps '#' escapes undecoded, so '#' belongs to its run.
        pos j = name_run_end(text, i + 1, end);
        if (j == i + 1) return nullptr;
        size_t n = static_cast<size_t>(j - i - 1);
        cstr out(static_cast<char*>(std::malloc(n + 1)));
        if (!out) return nullptr;
        std::memcpy(out.get(), text + i + 1, n);
        out.get()[n] = 0;
        return out;
    }
    return nullptr;
}

cstr info_keywords_at(const uint8_t* text, pos k, pos end) {
    pos i = ws_skip(text, k + 9, end);
    if (i >= end || text[i] != '[') {
        cstr v = info_value_at(text, k, end);
        return v ? std::move(v) : cstr_dup("");
    }
    strbuf b = strbuf_start();
    bool failed = false;
    auto add = [&](const cstr& s) {
        if (!s) return;
        if (b.len > 0 && !buf_bytes(&b, ",", 1)) failed = true;
        if (!failed && !buf_str(&b, s.get())) failed = true;
    };
    i = ws_skip(text, i + 1, end);
    while (i < end && text[i] != ']' && !failed) {
        uint8_t c = text[i];
        if (c == '(') {
            add(literal_decode(text, i, end));
            pos j = literal_end(text, i, end);
            i = j < 0 ? end : j;
        } else if (dict_opens(text, i, end)) {
            ++i;
        } else if (c == '<') {
            add(hex_decode(text, i, end));
            pos j = hex_end(text, i, end);
            i = j < 0 ? end : j;
        } else {
            ++i;
        }
        i = ws_skip(text, i, end);
    }
    if (failed) return nullptr;
    if (b.len == 0) return cstr_dup("");
    return cstr(b.release());
}

namespace {

// Values read under the options: text decoding (unicode) and references
// followed (doc non-null).
struct option_reader {
    const pdf_doc* doc;
    bool unicode;

    // The value at text[p], or the value of the object it names when it is a
    // reference and references are followed.
    pdf_val target(const uint8_t* text, pos p, pos end) const {
        pdf_val v{text, p, end};
        return doc && val_ref(v) >= 0 ? graph_resolve(*doc, v) : v;
    }

    // The text of the string at v. The byte rules end a value at a zero byte.
    bool string_text(pdf_val v, std::string* out) const {
        if (!v.is_string()) return false;
        strbuf b;
        bool ok = v.first() == '(' ? literal_decode_to(v.text, v.start, v.end, &b)
                                   : hex_decode_to(v.text, v.start, v.end, &b);
        if (!ok) return false;
        std::string_view bytes(b.data ? b.data : "", b.len);
        *out = unicode ? text_string_to_utf8(bytes) : std::string(bytes.substr(0, bytes.find('\0')));
        return true;
    }

    // A string's text, or a name's raw characters (no '#' decoding), as
    // info_value_at reads them.
    bool value_text(pdf_val v, std::string* out) const {
        if (string_text(v, out)) return true;
        if (!v.is_name()) return false;
        pos j = name_run_end(v.text, v.start + 1, v.end);
        if (j == v.start + 1) return false;
        out->assign(reinterpret_cast<const char*>(v.text + v.start + 1), static_cast<size_t>(j - v.start - 1));
        return true;  // ASCII: the run ends at any other byte
    }

    // Keywords: the strings of an array joined with commas, found as
    // info_keywords_at finds them, plus (when followed) the strings that
    // references among the elements name; else the value as value_text reads it.
    std::string keywords_text(pdf_val v) const {
        std::string out;
        if (!v.is_array()) {
            value_text(v, &out);
            return out;
        }
        auto add = [&](pdf_val s) {
            std::string item;
            if (!string_text(s, &item)) return;
            if (!out.empty()) out += ',';
            out += item;
        };
        const uint8_t* text = v.text;
        pos end = v.end;
        pos i = ws_skip(text, v.start + 1, end);
        while (i < end && text[i] != ']') {
            uint8_t c = text[i];
            pdf_val here{text, i, end};
            if (c == '(') {
                add(here);
                pos j = literal_end(text, i, end);
                i = j < 0 ? end : j;
            } else if (dict_opens(text, i, end)) {
                ++i;
            } else if (c == '<') {
                add(here);
                pos j = hex_end(text, i, end);
                i = j < 0 ? end : j;
            } else if (doc && is_digit(c) && val_ref(here) >= 0) {
                add(graph_resolve(*doc, here));
                pos j = value_end(text, i, end);
                i = j > i ? j : i + 1;
            } else {
                ++i;
            }
            i = ws_skip(text, i, end);
        }
        return out;
    }
};

}  // namespace

info_fields info_read_region(const dict_view& r, const pdf_doc* doc) {
    info_fields f;
    if (!r.text) return f;
    const bool unicode = option_on(OPT_UNICODE);
    const bool resolve = option_on(OPT_RESOLVE) && doc;
    for (int i = 0; i < INFO_FIELD_COUNT; ++i) {
        pos k = name_find_depth0(r.text, r.start, r.end, INFO_KEYS[i]);
        if (k < 0) continue;
        if (!unicode && !resolve) {  // the byte rules
            cstr v = i == FIELD_KEYWORDS ? info_keywords_at(r.text, k, r.end) : info_value_at(r.text, k, r.end);
            if (v && is_date_field(i)) v = normalize_pdf_date(v.get());
            if (v) f[i] = v.get();
            continue;
        }
        option_reader rd{resolve ? doc : nullptr, unicode};
        pos p = k + 1;
        while (p < r.end && is_name_cont(r.text[p])) ++p;
        p = ws_skip(r.text, p, r.end);
        if (p >= r.end) continue;
        pdf_val v = rd.target(r.text, p, r.end);
        std::string text;
        if (i == FIELD_KEYWORDS) {
            text = rd.keywords_text(v);
        } else if (!rd.value_text(v, &text)) {
            continue;
        }
        if (is_date_field(i)) {
            cstr d = normalize_pdf_date(text.c_str());
            text = d ? d.get() : "";
        }
        f[i] = std::move(text);
    }
    return f;
}

info_fields info_read_named(const pdf_doc& doc) {
    const obj_entry* e = doc.info >= 0 ? doc_find(doc, doc.info) : nullptr;
    return info_read_region(e ? doc_dict_span(doc, *e) : dict_view{}, &doc);
}

const obj_entry* info_obj_find(const pdf_doc& doc) {
    if (doc.info >= 0)
        if (const obj_entry* e = doc_find(doc, doc.info)) return e;
    std::unique_ptr<key_hits> hits;  // built on the first file-body row with a dictionary
    for (const obj_entry& e : doc.objs) {
        dict_view r = doc_dict_span(doc, e);
        if (!r.text) continue;
        if (!e.in_objstm) {
            if (!hits) hits = std::make_unique<key_hits>(doc);
            bool first = hits->within(0, r.start, r.end) || hits->within(1, r.start, r.end) ||
                         hits->within(2, r.start, r.end);
            bool second = hits->within(2, r.start, r.end) || hits->within(3, r.start, r.end);
            if (!first || !second) continue;
        }
        if (region_looks_like_info(r)) return &e;
    }
    return nullptr;
}

// {"title":...,"mod_date":...,"pages":P,"file_size":N,"pdf_version":"V"}
// A failed append empties the whole text, so no partial object is published.
bool read_json_build(const pdf_doc& doc, strbuf& b) {
    const obj_entry* e = info_obj_find(doc);
    info_fields f = info_read_region(e ? doc_dict_span(doc, *e) : dict_view{}, &doc);
    bool ok = buf_str(&b, "{") != nullptr;
    for (int i = 0; i < INFO_FIELD_COUNT; ++i) {
        ok = ok && buf_str(&b, i ? ",\"" : "\"") && buf_str(&b, KEYS[i]) && buf_str(&b, "\":") &&
             json_str_append_n(&b, f[i].data(), f[i].size());
    }
    char num[64];
    std::snprintf(num, sizeof num, ",\"pages\":%d", doc.pages_ok ? static_cast<int>(doc.pages.size()) : 0);
    ok = ok && buf_str(&b, num);
    std::snprintf(num, sizeof num, ",\"file_size\":%ld", static_cast<long>(doc.len));
    ok = ok && buf_str(&b, num) && buf_str(&b, ",\"pdf_version\":") &&
         json_str_append(&b, doc.version[0] ? doc.version : "1.0") && buf_str(&b, "}");
    if (!ok) b.reset();
    return true;
}
