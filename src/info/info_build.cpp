#include "info/info_build.h"

#include <cstring>

#include "syntax/codecs.h"
#include "core/date.h"
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

cstr build_info_dict(const pdf_doc& doc, const char* title, const char* author, const char* subject,
                     const char* keywords) {
    info_pairs pairs;
    info_collect_doc(doc, &pairs);
    char today[DATE_BUF];
    today_pdf_date(today);

    strbuf b = strbuf_start();
    bool ok = buf_bytes(&b, "<<", 2) != nullptr;
    const char* given[4] = {title, author, subject, keywords};
    for (int f = 0; f < 4 && ok; ++f) {
        if (given[f]) {
            ok = buf_str(&b, " /") && buf_str(&b, INFO_KEYS[f]) && buf_bytes(&b, " ", 1) &&
                 pdf_escape_literal(&b, given[f]);
        } else if (pairs[f].present) {
            ok = info_pair_append(&b, pairs[f]);
        }
    }
    for (int f : {FIELD_CREATOR, FIELD_PRODUCER})
        if (ok && pairs[f].present) ok = info_pair_append(&b, pairs[f]);
    if (ok) {
        if (pairs[FIELD_CREATION_DATE].present)
            ok = info_pair_append(&b, pairs[FIELD_CREATION_DATE]);
        else
            ok = buf_str(&b, " /CreationDate ") && pdf_escape_literal(&b, today);
    }
    ok = ok && buf_str(&b, " /ModDate ") && pdf_escape_literal(&b, today) && buf_bytes(&b, ">>", 2);
    if (!ok || b.len == 0) return cstr();
    return cstr(b.release());
}
