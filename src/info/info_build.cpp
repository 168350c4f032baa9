#include "info/info_build.h"

#include <cstring>
#include <string>

#include "syntax/codecs.h"
#include "core/date.h"
#include "core/frame.h"
#include "core/options.h"
#include "syntax/lexer.h"
#include "syntax/text_string.h"

void info_collect(const uint8_t* text, pos start, pos end, info_pairs* pairs) {
    for (int f = 0; f < INFO_FIELD_COUNT; ++f) {
        info_pair& p = (*pairs)[f];
        p.bytes.reset();
        p.size = 0;
        p.present = 0;
        pos k = name_find_depth0(text, start, end, INFO_KEYS[f]);
        if (k < 0) continue;
        pos v = ws_skip(text, k + 1 + static_cast<pos>(std::strlen(INFO_KEYS[f])), end);
        pos ve = value_end(text, v, end);
        if (ve < 0) continue;
        uint64_t n = static_cast<uint64_t>(ve - k);
        char* copy = static_cast<char*>(std::malloc(n));
        if (!copy) continue;
        std::memcpy(copy, text + k, n);
        p.bytes.reset(copy);
        p.size = n;
        p.present = 1;
    }
}

void info_collect_doc(const pdf_doc& doc, info_pairs* pairs) {
    for (info_pair& p : *pairs) {
        p.bytes.reset();
        p.size = 0;
        p.present = 0;
    }
    if (doc.info < 0) return;
    const obj_entry* e = doc_find(doc, doc.info);
    if (!e) return;
    dict_view r = doc_dict_span(doc, *e);
    if (r.text) info_collect(r.text, r.start, r.end, pairs);
}

char* info_pair_append(strbuf* b, const info_pair& p) {
    if (!buf_bytes(b, " ", 1)) return nullptr;
    return buf_bytes(b, p.bytes.get(), p.size);
}

const obj_entry* info_obj_writable(const pdf_doc& doc) {
    if (doc.info < 0 || doc.info == doc.root) return nullptr;
    const obj_entry* e = doc_find(doc, doc.info);
    return e && obj_page_type(doc.data, doc.len, *e) == 0 ? e : nullptr;  // never a page or a page-tree node
}

namespace {

// The bytes as a hexadecimal string "<...>", upper-case digits.
bool append_hex(strbuf* b, const std::string& bytes) {
    static const char DIGITS[] = "0123456789ABCDEF";
    std::string hex;
    hex.reserve(2 * bytes.size() + 2);
    hex += '<';
    for (char c : bytes) {
        uint8_t u = static_cast<uint8_t>(c);
        hex += DIGITS[u >> 4];
        hex += DIGITS[u & 15];
    }
    hex += '>';
    return buf_bytes(b, hex.data(), hex.size()) != nullptr;
}

// " /Key " and the value: a literal string, or under OPT_UNICODE (and
// OPT_SYNC, whose texts are UTF-8), for a value
// that is not printable ASCII, its UTF-16BE text string (with FE FF) in
// hexadecimal, which no byte handling on the way can alter.
bool append_value(strbuf* b, int field, const char* value) {
    if (!buf_str(b, " /") || !buf_str(b, INFO_KEYS[field]) || !buf_bytes(b, " ", 1)) return false;
    if (option_on(OPT_UNICODE) || option_on(OPT_SYNC)) {
        std::string stored;
        if (!utf8_to_text_string(value, &stored)) return false;  // refused by info_values_utf8_check first
        if (stored != value) return append_hex(b, stored);
    }
    return pdf_escape_literal(b, value) != nullptr;
}

}  // namespace

bool info_values_utf8_check(const info_values& v) {
    if (!option_on(OPT_UNICODE) && !option_on(OPT_SYNC)) return true;
    for (int f = 0; f < INFO_FIELD_COUNT; ++f) {
        if (v.given[f] && !utf8_valid(v.given[f])) {
            set_error("%s is not valid UTF-8", KEYS[f]);
            return false;
        }
    }
    return true;
}

cstr info_dict_build(const pdf_doc& doc, const info_values& v) {
    if (!info_values_utf8_check(v)) return cstr();
    info_pairs pairs;
    info_collect_doc(doc, &pairs);
    char today[DATE_BUF];
    today_pdf_date(today);
    strbuf b = strbuf_start();
    bool ok = buf_bytes(&b, "<<", 2) != nullptr;
    for (int f = 0; f < INFO_FIELD_COUNT && ok; ++f) {
        bool is_date = f == FIELD_CREATION_DATE || f == FIELD_MOD_DATE;
        const char* given = v.given[f];
        char date[DATE_BUF];
        if (given && is_date) {
            if (normalize_write_date(given, date) != 0) {
                set_error("bad date for %s: %s", INFO_KEYS[f], given);
                return cstr();
            }
            given = date;
        }
        bool stamp = f == FIELD_MOD_DATE && v.mod_date == mod_date_rule::now;
        if (given)
            ok = append_value(&b, f, given);
        else if (pairs[f].present && !stamp)
            ok = info_pair_append(&b, pairs[f]);
        else if (is_date)
            ok = append_value(&b, f, today);
    }
    ok = ok && buf_bytes(&b, ">>", 2);
    if (!ok || b.len == 0) {
        set_error("failed to build the Info dict");
        return cstr();
    }
    return cstr(b.release());
}
