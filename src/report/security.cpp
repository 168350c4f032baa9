// Security summary: whether the file is encrypted and, when it is, the
// handler, key length and four user permissions read from the encryption
// dictionary (which is stored unencrypted). Nothing is decrypted.
#include <cstring>
#include <string>

#include "core/options.h"
#include "load/graph.h"
#include "syntax/codecs.h"
#include "syntax/text_string.h"
#include "report/report_common.h"
#include "report/reports.h"

namespace {

constexpr char UNENCRYPTED_JSON[] =
    "{\"encrypted\":false,\"method\":\"none\",\"key_length\":0,"
    "\"permissions\":{\"print\":true,\"modify\":true,\"copy\":true,\"annotate\":true}}";
static_assert(sizeof UNENCRYPTED_JSON - 1 == 121);

struct security_facts {
    char method[64] = "unknown";
    size_t method_len = 7;  // the method's bytes (a name may hold zero bytes)
    int32_t key_length = 0;
    int32_t flags = -1;  // -1: every permission bit set
};

// Handler name: /Filter when its value is a name, cut to 63 bytes.
void security_read_method(const dict_view& r, security_facts& f) {
    pos v = r.value("Filter");
    if (v < 0 || r.text[v] != '/') return;
    cstr name = name_decode(r.text, v + 1, r.end);
    if (!name) return;
    size_t n = std::strlen(name.get());
    if (n > sizeof f.method - 1) n = sizeof f.method - 1;
    std::memcpy(f.method, name.get(), n);
    f.method[n] = 0;
    f.method_len = n;
}

// Permission flags /P, read in place after white space; absent keeps -1.
void security_read_flags(const dict_view& r, security_facts& f) {
    pos k = r.key("P");
    if (k < 0) return;
    pos p = k + 2;
    if (p < r.end) p = ws_skip(r.text, p, r.end);
    f.flags = int_read(r.text, &p, r.end);
}

security_facts security_read(const pdf_doc& doc) {
    security_facts f;
    const obj_entry* e = doc.encrypt_obj > 0 ? doc_find(doc, doc.encrypt_obj) : nullptr;
    if (!e) return f;
    dict_view r = doc_dict_span(doc, *e);
    if (!r.text) return f;
    security_read_method(r, f);
    f.key_length = r.int_value("Length", -1);
    security_read_flags(r, f);
    return f;
}

// Key length in bits as the standard defines it: the top-level /Length of the
// encryption dictionary; without it, 40 for /V 1 and 2, 256 for /V 5, and for
// /V 4 128 when the standard crypt filter (/StmF's entry of /CF, else /StdCF)
// uses /V2 or /AESV2 (256 for /AESV3). 0 when none of these applies.
int32_t key_bits(const pdf_doc& doc, pdf_val enc) {
    int64_t n = 0;
    if (val_int(dict_get(doc, enc, "Length"), &n) && n > 0 && n <= INT32_MAX) return static_cast<int32_t>(n);
    int64_t v = 0;
    val_int(dict_get(doc, enc, "V"), &v);
    if (v == 1 || v == 2) return 40;
    if (v == 5) return 256;
    std::string filter = val_name(dict_get(doc, enc, "StmF"));
    if (filter.empty() || filter == "Identity") filter = "StdCF";
    pdf_val cf = dict_get(doc, dict_get(doc, enc, "CF"), filter);
    std::string method = val_name(dict_get(doc, cf, "CFM"));
    if (method == "AESV3") return 256;
    if (method == "AESV2" || method == "V2") return 128;
    return 0;
}

// The summary read as the standard defines it (OPT_RESOLVE): top-level
// entries of the encryption dictionary, references followed.
security_facts security_read_resolved(const pdf_doc& doc, bool unicode) {
    security_facts f;
    pdf_val enc = doc.encrypt_obj > 0 ? graph_object(doc, doc.encrypt_obj) : pdf_val{};
    if (!enc.is_dict()) return f;
    pdf_val filter = dict_get(doc, enc, "Filter");
    if (filter.is_name()) {
        std::string name = val_name(filter);
        if (unicode) name = utf8_sanitize(name);
        size_t n = name.size() < sizeof f.method - 1 ? name.size() : sizeof f.method - 1;
        // A cut inside a multi-byte sequence would leave invalid UTF-8.
        if (unicode)
            while (n > 0 && n < name.size() && (static_cast<uint8_t>(name[n]) & 0xC0) == 0x80) --n;
        std::memcpy(f.method, name.data(), n);
        f.method[n] = 0;
        f.method_len = n;
    }
    f.key_length = key_bits(doc, enc);
    int64_t p = 0;
    if (val_int(dict_get(doc, enc, "P"), &p)) f.flags = static_cast<int32_t>(static_cast<uint32_t>(p));
    return f;
}

void bool_piece(strbuf& b, const char* key, bool v) {
    buf_str(&b, key);
    buf_str(&b, v ? "true" : "false");
}

}  // namespace

bool security_build(const pdf_doc& doc, strbuf& b) {
    if (!doc.encrypted) {
        buf_bytes(&b, UNENCRYPTED_JSON, sizeof UNENCRYPTED_JSON - 1);
        return true;
    }
    const bool resolve = option_on(OPT_RESOLVE);
    const bool unicode = option_on(OPT_UNICODE);
    security_facts f = resolve ? security_read_resolved(doc, unicode) : security_read(doc);
    uint32_t bits = static_cast<uint32_t>(f.flags);
    buf_str(&b, "{\"encrypted\":true,\"method\":");
    if (unicode) {
        std::string m = utf8_sanitize(std::string_view(f.method, resolve ? f.method_len : std::strlen(f.method)));
        json_str_append_n(&b, m.data(), m.size());
    } else {
        json_str_append(&b, f.method);
    }
    buf_str(&b, ",\"key_length\":");
    buf_int(&b, f.key_length);
    bool_piece(b, ",\"permissions\":{\"print\":", bits & 4);
    bool_piece(b, ",\"modify\":", bits & 8);
    bool_piece(b, ",\"copy\":", bits & 16);
    bool_piece(b, ",\"annotate\":", bits & 32);
    buf_str(&b, "}}");
    return true;
}
