#include "xmp/xmp_build.h"

#include <cstring>
#include <string>

#include "core/date.h"
#include "core/frame.h"
#include "syntax/lexer.h"
#include "write/writer.h"
#include "vellix.h"

namespace {

constexpr char PACKET_BEGIN[] = "<?xpacket begin=\"\xEF\xBB\xBF\" id=\"W5M0MpCehiHzreSzNTczkc9d\"?>\n";
constexpr char XMPMETA_OPEN[] = "<x:xmpmeta xmlns:x=\"adobe:ns:meta/\">\n";
constexpr char RDF_OPEN[] = "<rdf:RDF xmlns:rdf=\"http://www.w3.org/1999/02/22-rdf-syntax-ns#\">\n";
constexpr char DESCRIPTION_OPEN[] =
    "<rdf:Description rdf:about=\"\" "
    "xmlns:dc=\"http://purl.org/dc/elements/1.1/\" "
    "xmlns:xmp=\"http://ns.adobe.com/xap/1.0/\" "
    "xmlns:pdf=\"http://ns.adobe.com/pdf/1.3/\" "
    "xmlns:photoshop=\"http://ns.adobe.com/photoshop/1.0/\" "
    "xmlns:exif=\"http://ns.adobe.com/exif/1.0/\" "
    "xmlns:iptc=\"http://iptc.org/std/Iptc4xmpCore/1.0/xmlns/\">";
constexpr char PACKET_TAIL[] = "</rdf:Description>\n</rdf:RDF>\n</x:xmpmeta>\n<?xpacket end=\"w\"?>";

struct packet_writer {
    strbuf b = strbuf_start();
    bool ok = true;

    void str(const char* s) { bytes(s, std::strlen(s)); }
    void bytes(const char* s, size_t n) {
        if (ok && !buf_bytes(&b, s, n)) ok = false;
    }
    void escaped(const char* s) {
        cstr e = xml_escape(s);
        if (!e) {
            ok = false;
            return;
        }
        str(e.get());
    }
};

// The value split at commas as strtok(",") would (runs of commas are one
// separator, empty items vanish), each item without its leading blanks.
void write_alt(packet_writer& w, const char* value) {
    w.str("<rdf:Alt>");
    std::string item;
    for (const char* p = value;;) {
        while (*p == ',') ++p;
        if (!*p) break;
        const char* q = std::strchr(p, ',');
        if (!q) q = p + std::strlen(p);
        const char* s = p;
        while (s < q && (*s == ' ' || *s == '\t')) ++s;
        item.assign(s, static_cast<size_t>(q - s));
        w.str("<rdf:li>");
        w.escaped(item.c_str());
        w.str("</rdf:li>");
        p = q;
    }
    w.str("</rdf:Alt>");
}

}  // namespace

cstr xml_escape(const char* s) {
    strbuf b = strbuf_start();
    bool ok = true;
    const char* run = s;
    for (const char* p = s;; ++p) {
        const char* ent = nullptr;
        switch (*p) {
            case '"': ent = "&quot;"; break;
            case '&': ent = "&amp;"; break;
            case '\'': ent = "&apos;"; break;
            case '<': ent = "&lt;"; break;
            case '>': ent = "&gt;"; break;
            default: break;
        }
        if (!ent && *p) continue;
        if (p > run) ok = ok && buf_bytes(&b, run, static_cast<uint64_t>(p - run));
        if (!ent) break;
        ok = ok && buf_str(&b, ent);
        run = p + 1;
    }
    if (!ok) return cstr();
    if (b.len == 0) return cstr_dup("");
    return cstr(b.release());
}

int xmp_key_ok(const char* key) {
    size_t n = std::strlen(key);
    if (n == 0 || key[n - 1] == ':') return 0;
    bool colon = false;
    for (size_t i = 0; i < n; ++i) {
        uint8_t c = static_cast<uint8_t>(key[i]);
        if (c == ':') colon = true;
        else if (!is_word(c) && c != '_' && c != '-') return 0;
    }
    return colon ? 1 : 0;
}

strbuf xmp_packet_build(const jsonobj& obj, bool has_modify_date) {
    packet_writer w;
    w.str(PACKET_BEGIN);
    w.str(XMPMETA_OPEN);
    w.str(RDF_OPEN);
    w.str(DESCRIPTION_OPEN);
    for (int32_t i = 0; i < obj.count && w.ok; ++i) {
        const char* key = obj.keys[i];
        const char* value = obj.values[i];
        w.str("<");
        w.str(key);
        w.str(">");
        if (std::strchr(value, ','))
            write_alt(w, value);
        else
            w.escaped(value);
        w.str("</");
        w.str(key);
        w.str(">");
    }
    if (!has_modify_date) {
        char today[DATE_BUF];
        today_pdf_date(today);
        w.str("<xmp:ModifyDate>");
        w.str(today + 2);
        w.str("</xmp:ModifyDate>");
    }
    w.str(PACKET_TAIL);
    if (!w.ok) w.b.reset();
    return std::move(w.b);
}

extern "C" {

VELLIX_API int vellix_write_xmp(const char* in_path, const char* out_path, const char* xmp_json) {
    return export_guard(0, "out of memory", [&]() -> int {
        if (!out_path || !xmp_json || !in_path) {
            set_error("NULL path argument");
            return 0;
        }
        jsonobj obj;
        jsonobj_guard release{&obj};
        if (!json_parse_flat(xmp_json, &obj)) {
            set_error("invalid XMP JSON (flat object of strings required)");
            return 0;
        }
        if (obj.count == 0) {
            set_error("XMP JSON is empty");
            return 0;
        }
        bool has_modify_date = false;
        for (int32_t i = 0; i < obj.count; ++i) {
            if (!xmp_key_ok(obj.keys[i])) {
                set_error("invalid XMP property key (ns:Local required)");
                return 0;
            }
            if (std::strcmp(obj.keys[i], "xmp:ModifyDate") == 0) has_modify_date = true;
        }
        strbuf packet = xmp_packet_build(obj, has_modify_date);
        if (packet.len == 0 || !packet.data) {
            set_error("out of memory");
            return 0;
        }
        jsonobj_free(&obj);
        pdf_doc doc;
        if (doc_load_ex(in_path, &doc, 0) != 0) {
            return 0;
        }
        int ok = doc_write2(doc, out_path, 1, 1, packet.data, static_cast<int32_t>(std::strlen(packet.data)),
                            nullptr);
        if (ok) clear_error();
        return ok;
    });
}

VELLIX_API int vellix_clear_xmp(const char* in_path, const char* out_path) {
    return export_guard(0, "out of memory", [&]() -> int {
        if (!in_path || !out_path) {
            set_error("NULL path argument");
            return 0;
        }
        pdf_doc doc;
        if (doc_load_ex(in_path, &doc, 0) != 0) {
            return 0;
        }
        int ok = doc_write2(doc, out_path, 1, 3, nullptr, 0, nullptr);
        if (ok) clear_error();
        return ok;
    });
}

}  // extern "C"
