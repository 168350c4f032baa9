#include "info/info_build.h"

#include <cstring>

#include "syntax/codecs.h"
#include "core/date.h"
#include "core/frame.h"
#include "syntax/lexer.h"

namespace {

// End just after the ')' closing the literal string whose '(' is at pos, or -1.
int32_t literal_end(const uint8_t* t, int32_t end, int32_t pos) {
    int depth = 1;
    for (int32_t i = pos + 1; i < end; ++i) {
        if (t[i] == '\\') {
            ++i;
        } else if (t[i] == '(') {
            ++depth;
        } else if (t[i] == ')' && --depth == 0) {
            return i + 1;
        }
    }
    return -1;
}

// End just after the '>' closing the hexadecimal string whose '<' is at pos, or -1.
int32_t hex_end(const uint8_t* t, int32_t end, int32_t pos) {
    for (int32_t i = pos + 1; i < end; ++i)
        if (t[i] == '>') return i + 1;
    return -1;
}

bool dict_open_at(const uint8_t* t, int32_t end, int32_t i) { return i + 1 < end && t[i] == '<' && t[i + 1] == '<'; }
bool dict_close_at(const uint8_t* t, int32_t end, int32_t i) { return i + 1 < end && t[i] == '>' && t[i + 1] == '>'; }

// Skips a string starting at i (literal or hexadecimal); returns the position
// after it, i itself when no string starts there, or -1 when it is unterminated.
int32_t skip_string(const uint8_t* t, int32_t end, int32_t i) {
    if (t[i] == '(') return literal_end(t, end, i);
    if (t[i] == '<' && !dict_open_at(t, end, i)) return hex_end(t, end, i);
    return i;
}

int32_t dict_end(const uint8_t* t, int32_t end, int32_t pos) {
    int depth = 1;
    int32_t i = pos + 2;
    while (i < end) {
        if (dict_open_at(t, end, i)) {
            ++depth;
            i += 2;
        } else if (dict_close_at(t, end, i)) {
            i += 2;
            if (--depth == 0) return i;
        } else {
            int32_t after = skip_string(t, end, i);
            if (after < 0) return -1;
            i = after > i ? after : i + 1;
        }
    }
    return -1;
}

int32_t array_end(const uint8_t* t, int32_t end, int32_t pos) {
    int depth = 1;
    int32_t i = pos + 1;
    while (i < end) {
        if (t[i] == '[') {
            ++depth;
            ++i;
        } else if (t[i] == ']') {
            ++i;
            if (--depth == 0) return i;
        } else if (dict_open_at(t, end, i)) {
            i += 2;
        } else {
            int32_t after = skip_string(t, end, i);
            if (after < 0) return -1;
            i = after > i ? after : i + 1;
        }
    }
    return -1;
}

// A number, or a whole indirect reference "12 0 R" when one starts here.
int32_t number_end(const uint8_t* t, int32_t end, int32_t pos) {
    int32_t i = pos;
    if (t[i] == '+' || t[i] == '-') ++i;
    int32_t run = i;
    bool integer = true;
    while (i < end && (is_digit(t[i]) || t[i] == '.')) {
        if (t[i] == '.') integer = false;
        ++i;
    }
    if (i == run) return -1;  // a lone sign
    if (!integer || run != pos || ref_read(t, pos, end) <= 0) return i;
    // ref_read accepted "N [G] R": take the same bytes.
    int32_t j = ws_skip(t, i, end);
    if (j < end && is_digit(t[j])) {
        while (j < end && is_digit(t[j])) ++j;
        j = ws_skip(t, j, end);
    }
    return j < end && t[j] == 'R' ? j + 1 : i;
}

}  // namespace

int32_t info_value_end(const uint8_t* t, int32_t end, int32_t pos) {
    if (pos < 0 || pos >= end) return -1;
    uint8_t c = t[pos];
    if (dict_open_at(t, end, pos)) return dict_end(t, end, pos);
    if (c == '<') return hex_end(t, end, pos);
    if (c == '(') return literal_end(t, end, pos);
    if (c == '/') {
        int32_t i = pos + 1;
        while (i < end && (is_name_cont(t[i]) || t[i] == '#')) ++i;
        return i > pos + 1 ? i : -1;
    }
    if (c == '[') return array_end(t, end, pos);
    if (is_digit(c) || c == '.' || c == '+' || c == '-') return number_end(t, end, pos);
    if (is_alpha(c)) {
        int32_t i = pos;
        while (i < end && is_alpha(t[i])) ++i;
        return i;
    }
    return -1;
}

void info_collect(const uint8_t* text, int32_t end, int32_t start, info_pairs* pairs) {
    for (int f = 0; f < INFO_FIELD_COUNT; ++f) {
        info_pair& p = (*pairs)[f];
        p.bytes.reset();
        p.size = 0;
        p.present = 0;
        int32_t k = name_find_depth0(text, start, end, INFO_KEYS[f]);
        if (k < 0) continue;
        int32_t v = ws_skip(text, k + 1 + static_cast<int32_t>(std::strlen(INFO_KEYS[f])), end);
        int32_t ve = info_value_end(text, end, v);
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
    if (r.text) info_collect(r.text, r.end, r.start, pairs);
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

// " /Key " and value as a literal string.
bool append_value(strbuf* b, int field, const char* value) {
    return buf_str(b, " /") && buf_str(b, INFO_KEYS[field]) && buf_bytes(b, " ", 1) && pdf_escape_literal(b, value);
}

}  // namespace

cstr info_dict_build(const pdf_doc& doc, const info_values& v) {
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
