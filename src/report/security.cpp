// Security summary: whether the file is encrypted and, when it is, the
// handler, key length and four user permissions read from the encryption
// dictionary (which is stored unencrypted). Nothing is decrypted.
#include <cstring>

#include "syntax/codecs.h"
#include "report/report_common.h"
#include "report/reports.h"

namespace {

constexpr char UNENCRYPTED_JSON[] =
    "{\"encrypted\":false,\"method\":\"none\",\"key_length\":0,"
    "\"permissions\":{\"print\":true,\"modify\":true,\"copy\":true,\"annotate\":true}}";
static_assert(sizeof UNENCRYPTED_JSON - 1 == 121);

struct security_facts {
    char method[64] = "unknown";
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
    security_facts f = security_read(doc);
    uint32_t bits = static_cast<uint32_t>(f.flags);
    buf_str(&b, "{\"encrypted\":true,\"method\":");
    json_str_append(&b, f.method);
    buf_str(&b, ",\"key_length\":");
    buf_int(&b, f.key_length);
    bool_piece(b, ",\"permissions\":{\"print\":", bits & 4);
    bool_piece(b, ",\"modify\":", bits & 8);
    bool_piece(b, ",\"copy\":", bits & 16);
    bool_piece(b, ",\"annotate\":", bits & 32);
    buf_str(&b, "}}");
    return true;
}
