// The properties the fuzz targets check, shared with the regression test
// (tests/test_fuzz_regressions.cpp) so that a saved input is checked exactly
// as the fuzzer checked it. Each check returns "" or a description of the
// first property that failed.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <iterator>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "syntax/codecs.h"
#include "core/frame.h"
#include "core/json_flat.h"
#include "load/doc.h"
#include "syntax/inflate.h"
#include "syntax/lexer.h"
#include "support/json_check.h"
#include "support/pdf_builder.h"
#include "syntax/text_string.h"
#include "vellix.h"

#ifdef VELLIX_HAVE_ZLIB
#include <zlib.h>
#endif

namespace fuzzprop {

inline std::string write_bytes(const std::string& path, const uint8_t* data, size_t size) {
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return "cannot open " + path;
    bool ok = !size || std::fwrite(data, 1, size, f) == size;
    if (std::fclose(f) != 0) ok = false;
    return ok ? "" : "cannot write " + path;
}

// The two option sets every text export runs with: the byte rules, and
// standard reading with Unicode text.
constexpr unsigned OPTION_SETS[] = {0u, VELLIX_UNICODE | VELLIX_RESOLVE};

// Sets this thread's options for a scope and puts 0 back at its end.
struct options_scope {
    explicit options_scope(unsigned o) { vellix_set_options(o); }
    ~options_scope() { vellix_set_options(0); }
    options_scope(const options_scope&) = delete;
    options_scope& operator=(const options_scope&) = delete;
};

// A text export's result: valid JSON with the message empty, or NULL with a
// non-empty message. Under VELLIX_UNICODE the text must also be valid UTF-8,
// whatever the file holds.
inline std::string text_fault(const char* name, const char* text) {
    const char* err = vellix_last_error();
    if (!err) return std::string(name) + ": vellix_last_error gave NULL";
    if (!text) return err[0] ? "" : std::string(name) + ": NULL without a message";
    if (err[0]) return std::string(name) + ": result with message \"" + err + "\"";
    std::string fault = json_fault(text);
    if (!fault.empty()) return std::string(name) + ": invalid JSON (" + fault + "): " + std::string(text).substr(0, 2000);
    if ((vellix_get_options() & VELLIX_UNICODE) && !utf8_valid(text))
        return std::string(name) + ": invalid UTF-8 under VELLIX_UNICODE: " + std::string(text).substr(0, 2000);
    return "";
}

// " (options N)" for messages.
inline std::string options_note(unsigned o) { return " (options " + std::to_string(o) + ")"; }

// A writer's flag: 1 with the message empty, or 0 with a non-empty message.
inline std::string flag_fault(const char* name, int rc) {
    const char* err = vellix_last_error();
    if (rc == 1) return err[0] ? std::string(name) + ": success with message \"" + err + "\"" : "";
    if (rc == 0) return err[0] ? "" : std::string(name) + ": failure without a message";
    return std::string(name) + ": flag " + std::to_string(rc);
}

// The page count of a vellix_read (or batch) result; -1 when it has none.
// Quotes inside JSON strings are escaped, so the first match is the member.
inline long pages_of(const char* json) {
    const char* p = std::strstr(json, ",\"pages\":");
    return p ? std::strtol(p + 9, nullptr, 10) : -1;
}

// (1) The file `dir`/input.pdf (dir holds nothing else) through every text
// export with this thread's options.
inline std::string check_text_exports_now(const std::string& dir) {
    const std::string in = dir + "/input.pdf";
    std::string fault;
    const char* p = in.c_str();

    const char* r = vellix_read(p);
    if (!(fault = text_fault("vellix_read", r)).empty()) return fault;
    const long pages = r ? pages_of(r) : -1;
    if (r && pages < 0) return "vellix_read: no page count in " + std::string(r);

    const std::pair<const char*, std::function<const char*()>> exports[] = {
        {"vellix_read_xmp", [&] { return vellix_read_xmp(p); }},
        {"vellix_fonts", [&] { return vellix_fonts(p); }},
        {"vellix_images", [&] { return vellix_images(p); }},
        {"vellix_bookmarks", [&] { return vellix_bookmarks(p); }},
        {"vellix_security", [&] { return vellix_security(p); }},
        {"vellix_analyze", [&] { return vellix_analyze(p); }},
        {"vellix_page_labels", [&] { return vellix_page_labels(p); }},
        {"vellix_traces", [&] { return vellix_traces(p); }},
        {"vellix_compare", [&] { return vellix_compare(p, p); }},
    };
    for (const auto& [name, call] : exports)
        if (!(fault = text_fault(name, call())).empty()) return fault;

    // The batch read skips a file that does not load and keeps its message;
    // otherwise it lists the file with the page count vellix_read gives.
    const char* batch = nullptr;
    int rc = vellix_batch_read(dir.c_str(), &batch);
    if (rc != 1 || !batch) return "vellix_batch_read failed: " + std::string(vellix_last_error());
    if (!(fault = json_fault(batch)).empty()) return "vellix_batch_read: invalid JSON (" + fault + "): " + batch;
    if ((vellix_get_options() & VELLIX_UNICODE) && !utf8_valid(batch))
        return "vellix_batch_read: invalid UTF-8 under VELLIX_UNICODE: " + std::string(batch).substr(0, 2000);
    const std::string err = vellix_last_error();
    const std::string b = batch;
    if (!r) {
        if (b != "[]" || err.empty()) return "vellix_batch_read on a file that does not load: " + b + ", message \"" + err + "\"";
    } else {
        if (!err.empty()) return "vellix_batch_read: message \"" + err + "\" for a file that loads";
        if (b.rfind("[{\"file\":\"input.pdf\",", 0) != 0 || pages_of(batch) != pages)
            return "vellix_batch_read lists " + b + " for " + std::to_string(pages) + " pages";
    }
    return "";
}

// (1) The bytes as the file `dir`/input.pdf through every text export, with
// each of OPTION_SETS.
inline std::string check_text_exports(const std::string& dir, const uint8_t* data, size_t size) {
    std::string fault = write_bytes(dir + "/input.pdf", data, size);
    if (!fault.empty()) return fault;
    for (unsigned o : OPTION_SETS) {
        options_scope scope(o);
        if (!(fault = check_text_exports_now(dir)).empty()) return fault + options_note(o);
    }
    return "";
}

// Why the copies of the file at `path` may rightly read differently from it
// (the documented rules cause it, not a fault), or "" when nothing explains it.
//
// 1. An object taken from an object stream is the stored text from its
//    offset on, and its type is looked up in the whole text. The writers copy
//    that text (less white space and comments before the value) as the body
//    of a direct object, and the scan of the copy sees a dictionary only where
//    "<<" follows the obj keyword: a page, page-tree node or catalog whose text
//    has other bytes before its dictionary (a lone "<" among them) is no
//    longer recognised.
// 2. An object header ("N G obj") inside the value of another object, outside
//    stream data (which alone is cleaned up), or inside the text of an object
//    from an object stream. The scan finds it in the input and in the copy,
//    but the copy has its bytes at other places: the written bodies follow in
//    ascending number, so the rule that the last row of a number wins may pick
//    another row, and overlapping bodies are written twice. The same holds
//    for any object header between an object's header and its endobj.
// 3. A dictionary not closed within its object: the search for its close and
//    a stream keyword runs on into whatever follows, which in the copy is the
//    next object by number instead of the next one in the file.
// 4. Bytes other than white space between a stream's data end and its endobj:
//    the catalog's /Pages and other lookups over the span to endobj read
//    them, while the writers write the stream data, "endstream" and "endobj"
//    only.
// 5. A stream whose declared /Length reaches beyond its data (in the input
//    the declared end was not followed by "endstream", so the search found
//    the end): the dictionary is copied unchanged and the data are written
//    with their found length, so in the copy the declared end falls on other
//    bytes, and where it meets another stream's "endstream" the stream
//    swallows the objects written between.
// 6. The keyword "stream" in the text of an object from an object stream
//    (outside strings it cannot be told from a stream there): written as a
//    direct object, the copy holds "stream" after a dictionary, and the scan
//    reads a stream whose data run on over the objects written after it.
// Whether text[from, to) holds the whole word "obj" after a number, white
// space and a number.
inline bool holds_object_header(const uint8_t* text, pos from, pos to) {
    for (pos p = from; p + 3 <= to; ++p) {
        p = kw_find(text, p, to, "obj");
        if (p < 0) return false;
        pos q = p;
        auto back_ws = [&] {
            int32_t n = 0;
            while (q > from && is_pdf_ws(text[q - 1])) --q, ++n;
            return n;
        };
        auto back_digits = [&] {
            int32_t n = 0;
            while (q > from && text[q - 1] >= '0' && text[q - 1] <= '9') --q, ++n;
            return n;
        };
        back_ws();
        if (back_digits() > 0 && back_ws() > 0 && back_digits() > 0) return true;
    }
    return false;
}

// The /Length of a stream row as the loader reads it (the first usable
// key: an integer, the last integer of an array, or a reference to an object
// holding an integer), or -1.
inline int64_t declared_length(const pdf_doc& doc, const obj_entry& e) {
    const uint8_t* d = doc.data;
    const pos end = std::min(e.stream_kw, doc.len);
    for (pos k = name_find(d, e.dict_pos, end, "Length"); k >= 0; k = name_find(d, k + 1, end, "Length")) {
        pos p = ws_skip(d, k + 8, end);
        if (k + 8 >= end || p >= end) return -1;
        if (d[p] == '[') {
            int32_t last = -1;
            for (++p; p < end && d[p] != ']';) {
                pos q = p;
                int32_t v = int_read(d, &q, end);
                if (v >= 0) last = v;
                p = q > p ? q : p + 1;
            }
            if (last >= 0) return last;
            continue;
        }
        if (!is_digit(d[p]) && d[p] != '-') continue;
        int32_t n = int_read(d, &p, end);
        if (n < 0) continue;
        pos r = ws_skip(d, p, end);
        bool ref = false;
        if (r < end && is_digit(d[r])) {
            int_read(d, &r, end);
            r = ws_skip(d, r, end);
            ref = r < end && d[r] == 'R' && (r + 1 >= doc.len || !is_word(d[r + 1]));
        }
        if (ref) {
            const obj_entry* target = doc_find(doc, n);
            if (!target || target->has_stream || target->obj_pos < 0) return -1;
            pos q = obj_value_start(d, target->obj_pos, doc.len);
            return int_read(d, &q, doc.len);
        }
        return n;
    }
    return -1;
}

// Rules 2 to 5 for one row of the file body.
inline std::string direct_row_reason(const pdf_doc& doc, const obj_entry& e) {
    const std::string obj = "object " + std::to_string(e.num);
    pos own = kw_find(doc.data, e.obj_pos, doc.len, "obj");
    if (own < 0) return "";
    pos end = e.endobj_pos > 0 ? e.endobj_pos : doc.len;
    pos value_end = e.has_stream && e.stream_kw > 0 ? e.stream_kw : end;
    if (holds_object_header(doc.data, own + 3, value_end)) return "the value of " + obj + " holds an object header";
    if (e.dict_pos >= 0 && dict_close(doc.data, e.dict_pos, value_end) < 0)
        return "the dictionary of " + obj + " is not closed within the object";
    if (e.has_stream && e.data_end >= 0 && e.endobj_pos > e.data_end) {
        pos p = ws_skip(doc.data, e.data_end, e.endobj_pos);
        if (p + 9 <= e.endobj_pos && std::memcmp(doc.data + p, "endstream", 9) == 0) p = ws_skip(doc.data, p + 9, e.endobj_pos);
        if (p < e.endobj_pos) return "bytes between the stream data of " + obj + " and its endobj";
    }
    if (e.has_stream && e.data_end >= e.data_start && declared_length(doc, e) > e.data_end - e.data_start)
        return "the declared length of " + obj + " reaches beyond its data";
    return "";
}

inline std::string copy_difference_reason(const std::string& path) {
    pdf_doc doc;
    std::string reason;
    if (doc_load(path.c_str(), &doc, 0) == 0) {
        doc_expand_all(doc);  // the texts of every row are read below
        std::vector<std::pair<pos, pos>> spans;  // [obj_pos, endobj) of direct rows
        for (const obj_entry& e : doc.objs) {
            if (!e.in_objstm) {
                reason = direct_row_reason(doc, e);
                if (!reason.empty()) break;
                spans.push_back({e.obj_pos, e.endobj_pos > e.obj_pos ? e.endobj_pos : doc.len});
                continue;
            }
            if (!e.objstm_text || e.objstm_len <= 0) continue;
            if (holds_object_header(e.objstm_text, 0, e.objstm_len)) {
                reason = "the text of object " + std::to_string(e.num) + " from an object stream holds an object header";
                break;
            }
            if (kw_find(e.objstm_text, 0, e.objstm_len, "stream") >= 0) {
                reason = "the text of object " + std::to_string(e.num) + " from an object stream holds the keyword stream";
                break;
            }
            // The writers leave out white space and comments before the value.
            pos first = ws_skip(e.objstm_text, 0, e.objstm_len);
            while (first < e.objstm_len && e.objstm_text[first] == '%') {
                while (first < e.objstm_len && e.objstm_text[first] != '\n' && e.objstm_text[first] != '\r') ++first;
                first = ws_skip(e.objstm_text, first, e.objstm_len);
            }
            if (first + 1 < e.objstm_len && e.objstm_text[first] == '<' && e.objstm_text[first + 1] == '<') continue;
            if (e.num == doc.root || obj_page_type(doc.data, doc.len, e) != 0) {
                reason = "object " + std::to_string(e.num) +
                         " of the page tree comes from an object stream and its text does not begin with its dictionary";
                break;
            }
        }
        std::sort(spans.begin(), spans.end());
        pos reach = -1;
        for (const auto& [start, end] : spans) {
            if (reason.empty() && start < reach) reason = "an object header lies between another object's header and its endobj";
            reach = std::max(reach, end);
        }
    }
    clear_error();
    return reason;
}

// "" when vellix_traces lists nothing in path but one revision whose
// trailer names no Info and one /ID. (Kinds and keys are matched with their
// quotes: inside a value a quote is escaped.)
inline std::string scrub_trace_fault(const std::string& path) {
    const char* t = vellix_traces(path.c_str());
    if (!t) return std::string("vellix_traces of a scrubbed copy failed: ") + vellix_last_error();
    const std::string text = t;
    for (const char* kind : {"\"kind\":\"info\"", "\"kind\":\"xmp\"", "\"kind\":\"piece_info\""})
        if (text.find(kind) != std::string::npos) return std::string("vellix_scrub: the copy holds ") + kind;
    const size_t first = text.find("\"xref\":");
    if (first == std::string::npos || text.find("\"xref\":", first + 1) != std::string::npos)
        return "vellix_scrub: the copy has not exactly one revision";
    if (text.find("\"info\":null}]") == std::string::npos) return "vellix_scrub: the copy's trailer names an Info dictionary";
    const size_t id = text.find("\"kind\":\"id\"");
    if (id != std::string::npos && text.find("\"kind\":\"id\"", id + 1) != std::string::npos)
        return "vellix_scrub: the copy lists two identifiers";
    return "";
}

// Values the writers get under VELLIX_UNICODE: UTF-16 is written for them.
inline const std::string& unicode_title() {
    static const std::string t = "\xC3\x9C" "ber (Stra\xC3\x9F" "e) \xE6\x97\xA5 \xF0\x9F\x98\x80";  // Über (Straße) 日 😀
    return t;
}

// (2) The bytes as a file through each writer (the five with options 0 and
// the scrub, whose copy must also hold no trace of metadata, and
// vellix_write and vellix_write_full with VELLIX_UNICODE and non-ASCII
// values): whenever vellix_read accepts the input, it accepts every written
// copy with each of OPTION_SETS, with the same page count, and a title
// written under VELLIX_UNICODE reads back the same under it. `extra` is
// added to every writer's options (VELLIX_INCREMENTAL, VELLIX_KEEP_STREAMS).
inline std::string check_writers(const std::string& dir, const uint8_t* data, size_t size, unsigned extra = 0) {
    const std::string in = dir + "/input.pdf", out = dir + "/output.pdf";
    std::string fault = write_bytes(in, data, size);
    if (!fault.empty()) return fault;

    long in_pages[std::size(OPTION_SETS)];
    bool in_ok = false;
    for (size_t k = 0; k < std::size(OPTION_SETS); ++k) {
        options_scope scope(OPTION_SETS[k]);
        const char* r = vellix_read(in.c_str());
        if (!(fault = text_fault("vellix_read", r)).empty()) return fault + options_note(OPTION_SETS[k]);
        in_ok = r != nullptr;
        in_pages[k] = r ? pages_of(r) : -1;
    }

    struct writer {
        const char* name;
        unsigned options;
        std::function<int(const char*, const char*)> run;
        const char* title;  // read back under VELLIX_UNICODE, when set
    };
    const std::string full_json = "{\"title\":\"" + unicode_title() + "\",\"author\":\"caf\xC3\xA9\",\"creation_date\":\"2024-01-15\"}";
    const std::string sync_json = "{\"dc:title\":\"" + unicode_title() + "\",\"photoshop:City\":\"\"}";
    const writer writers[] = {
        {"vellix_write", 0, [](const char* i, const char* o) { return vellix_write(i, o, "T(1)", "A\\", nullptr, "k,l"); }, nullptr},
        {"vellix_clear", 0, [](const char* i, const char* o) { return vellix_clear(i, o); }, nullptr},
        {"vellix_write_full", 0,
         [](const char* i, const char* o) {
             return vellix_write_full(i, o, "{\"title\":\"T\",\"producer\":\"P\",\"creation_date\":\"2024-01-15\"}");
         },
         nullptr},
        {"vellix_write_xmp", 0,
         [](const char* i, const char* o) { return vellix_write_xmp(i, o, "{\"dc:title\":\"<x&y>\",\"pdf:Producer\":\"P\"}"); },
         nullptr},
        {"vellix_clear_xmp", 0, [](const char* i, const char* o) { return vellix_clear_xmp(i, o); }, nullptr},
        {"vellix_scrub", 0, [](const char* i, const char* o) { return vellix_scrub(i, o); }, nullptr},
        {"vellix_write (VELLIX_UNICODE)", VELLIX_UNICODE,
         [](const char* i, const char* o) { return vellix_write(i, o, unicode_title().c_str(), "A", nullptr, "k,\xC3\xA9"); },
         unicode_title().c_str()},
        {"vellix_write_full (VELLIX_UNICODE)", VELLIX_UNICODE,
         [&](const char* i, const char* o) { return vellix_write_full(i, o, full_json.c_str()); }, unicode_title().c_str()},
        {"vellix_write (VELLIX_SYNC)", VELLIX_UNICODE | VELLIX_SYNC,
         [](const char* i, const char* o) { return vellix_write(i, o, unicode_title().c_str(), "A", nullptr, "k"); },
         unicode_title().c_str()},
        {"vellix_write_xmp (VELLIX_SYNC)", VELLIX_UNICODE | VELLIX_SYNC,
         [&](const char* i, const char* o) { return vellix_write_xmp(i, o, sync_json.c_str()); }, unicode_title().c_str()},
    };
    for (const writer& w : writers) {
        std::remove(out.c_str());
        int rc;
        {
            options_scope scope(w.options | extra);
            rc = w.run(in.c_str(), out.c_str());
            if (!(fault = flag_fault(w.name, rc)).empty()) return fault;
        }
        if (rc != 1) continue;
        // The writer loaded the input with the loader that vellix_read uses.
        if (!in_ok) return std::string(w.name) + " succeeded on an input that vellix_read refuses";
        for (size_t k = 0; k < std::size(OPTION_SETS) && fault.empty(); ++k) {
            const unsigned o = OPTION_SETS[k];
            options_scope scope(o);
            const char* r2 = vellix_read(out.c_str());
            if (!(fault = text_fault("vellix_read of the copy", r2)).empty()) return fault + options_note(o);
            if (!r2)
                fault = std::string(w.name) + ": the copy does not read: " + vellix_last_error();
            else if (long n = pages_of(r2); n != in_pages[k])
                fault = std::string(w.name) + ": " + std::to_string(in_pages[k]) + " pages in the input, " +
                        std::to_string(n) + " in the copy";
            else if (w.title && (o & VELLIX_UNICODE) && json_string_member(r2, "title") != w.title)
                fault = std::string(w.name) + ": the title reads back as \"" + json_string_member(r2, "title") + "\"";
            if (!fault.empty()) fault += options_note(o);
        }
        // A scrubbed copy holds no trace of metadata but its new /ID.
        if (fault.empty() && std::strcmp(w.name, "vellix_scrub") == 0) fault = scrub_trace_fault(out);
        // Under VELLIX_SYNC a copy's packet holds the title Info holds.
        if (fault.empty() && (w.options & VELLIX_SYNC)) {
            options_scope scope(VELLIX_UNICODE | VELLIX_RESOLVE);
            const char* x = vellix_read_xmp(out.c_str());
            std::string xt = x ? json_string_member(x, "dc:title") : "<missing>";
            if (xt != "<missing>" && !xt.empty() && xt != w.title)
                fault = std::string(w.name) + ": the packet's dc:title reads \"" + xt + "\"";
        }
        if (!fault.empty()) {
            std::string reason = copy_difference_reason(in);
            if (reason.empty()) return fault;
            if (std::getenv("VELLIX_FUZZ_SHOW_REASONS")) std::fprintf(stderr, "explained: %s (%s)\n", fault.c_str(), reason.c_str());
            return "";
        }
    }
    return "";
}

// The fixed document of check_json_args: two pages, an Info dictionary and
// an uncompressed XMP stream.
inline std::string json_args_fixture() {
    const std::string xmp =
        "<?xpacket begin=\"\xEF\xBB\xBF\" id=\"W5M0MpCehiHzreSzNTczkc9d\"?>\n"
        "<x:xmpmeta xmlns:x=\"adobe:ns:meta/\"><rdf:RDF xmlns:rdf=\"http://www.w3.org/1999/02/22-rdf-syntax-ns#\">"
        "<rdf:Description rdf:about=\"\" xmlns:dc=\"http://purl.org/dc/elements/1.1/\">"
        "<dc:title><rdf:Alt><rdf:li xml:lang=\"x-default\">Old</rdf:li></rdf:Alt></dc:title>"
        "</rdf:Description></rdf:RDF></x:xmpmeta>\n<?xpacket end=\"w\"?>";
    PdfBuilder b;
    b.obj(1, "<< /Type /Catalog /Pages 2 0 R /Metadata 6 0 R >>");
    b.obj(2, "<< /Type /Pages /Kids [3 0 R 4 0 R] /Count 2 >>");
    b.obj(3, "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] >>");
    b.obj(4, "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] >>");
    b.obj(5, "<< /Title (Old title) /Producer (P) /CreationDate (D:20200101000000Z) >>");
    b.stream(6, "/Type /Metadata /Subtype /XML", xmp);
    b.xref_trailer("/Size 7 /Root 1 0 R /Info 5 0 R");
    return b.bytes();
}

// Why a copy written by vellix_write_full with `json` may rightly read
// differently from the fixture, or "": the values are written into literal
// strings of the Info dictionary as the caller's bytes (only parentheses,
// backslashes and most control bytes are escaped, the latter as three octal
// digits), and the scan finds an
// object header ("N G obj") inside a string like anywhere else; being the
// last object written, the Info dictionary then replaces object N.
// Under VELLIX_UNICODE (unicode set) only values of printable ASCII are
// written as literal strings; the others are hexadecimal UTF-16.
inline std::string json_copy_difference_reason(const std::string& json, bool unicode) {
    jsonobj obj;
    if (!json_parse_flat(json.c_str(), &obj)) return "";
    for (const json_pair& kv : obj) {
        std::string stored;
        if (unicode && utf8_to_text_string(kv.value.c_str(), &stored) && stored != kv.value.c_str()) continue;
        // As written: the escapes of control bytes are digits too.
        strbuf b;
        pdf_escape_literal(&b, kv.value.c_str());
        if (b.data && holds_object_header(reinterpret_cast<const uint8_t*>(b.data), 0, static_cast<int32_t>(b.len)))
            return "the value of \"" + kv.key + "\" holds an object header as written";
    }
    return "";
}

// (3) The bytes (up to a first zero byte) as the JSON text of
// vellix_write_full and vellix_write_xmp on the file `fixture`, written by
// json_args_fixture: flag and message agree, and an accepted text gives a
// copy that reads with two pages (and, for XMP, whose packet reads).
inline std::string check_json_args(const std::string& fixture, const std::string& out, const uint8_t* data, size_t size) {
    const std::string json(reinterpret_cast<const char*>(data), size);
    struct writer {
        const char* name;
        unsigned options;
        std::function<int()> run;
    };
    auto full = [&] { return vellix_write_full(fixture.c_str(), out.c_str(), json.c_str()); };
    auto xmp = [&] { return vellix_write_xmp(fixture.c_str(), out.c_str(), json.c_str()); };
    const writer writers[] = {
        {"vellix_write_full", 0, full},
        {"vellix_write_xmp", 0, xmp},
        {"vellix_write_full (VELLIX_UNICODE)", VELLIX_UNICODE, full},
        {"vellix_write_xmp (VELLIX_UNICODE)", VELLIX_UNICODE, xmp},
    };
    std::string fault;
    for (const auto& [name, options, run] : writers) {
        options_scope scope(options);
        std::remove(out.c_str());
        int rc = run();
        if (!(fault = flag_fault(name, rc)).empty()) return fault;
        if (rc != 1) continue;
        const char* r = vellix_read(out.c_str());
        if (!(fault = text_fault("vellix_read of the copy", r)).empty()) return fault;
        if (!r) fault = std::string(name) + ": the copy does not read: " + vellix_last_error();
        else if (pages_of(r) != 2) fault = std::string(name) + ": the copy has not 2 pages: " + r;
        if (!fault.empty()) {
            std::string reason = std::strncmp(name, "vellix_write_full", 17) == 0
                                     ? json_copy_difference_reason(json, options & VELLIX_UNICODE)
                                     : "";
            if (reason.empty()) return fault;
            if (std::getenv("VELLIX_FUZZ_SHOW_REASONS")) std::fprintf(stderr, "explained: %s (%s)\n", fault.c_str(), reason.c_str());
            fault.clear();
            continue;
        }
        const char* x = vellix_read_xmp(out.c_str());
        if (!(fault = text_fault("vellix_read_xmp of the copy", x)).empty()) return fault;
        if (!x && std::strncmp(name, "vellix_write_xmp", 16) == 0)
            return std::string(name) + ": the packet written does not read: " + vellix_last_error();
    }
    return "";
}

#ifdef VELLIX_HAVE_ZLIB
// An exactly sized heap block (none for size 0), so that any access beyond
// the size handed to the decoder is caught by AddressSanitizer.
struct heap_bytes {
    std::unique_ptr<uint8_t[]> p;
    size_t n;
    explicit heap_bytes(size_t size) : p(size ? std::make_unique<uint8_t[]>(size) : nullptr), n(size) {}
    heap_bytes(const uint8_t* src, size_t size) : heap_bytes(size) {
        if (size) std::memcpy(p.get(), src, size);
    }
    uint8_t* data() const { return p.get(); }
};

// The same without clearing the block (for large output buffers).
struct uninit_bytes {
    std::unique_ptr<uint8_t[]> p;
    explicit uninit_bytes(size_t size) : p(size ? std::make_unique_for_overwrite<uint8_t[]>(size) : nullptr) {}
    uint8_t* data() const { return p.get(); }
};

inline bool zlib_deflate(const uint8_t* data, size_t size, int level, int strategy, int window, int mem, std::string* out) {
    z_stream z{};
    if (deflateInit2(&z, level, Z_DEFLATED, window, mem, strategy) != Z_OK) return false;
    out->assign(deflateBound(&z, size) + 64, '\0');
    z.next_in = const_cast<Bytef*>(data);
    z.avail_in = static_cast<uInt>(size);
    z.next_out = reinterpret_cast<Bytef*>(out->data());
    z.avail_out = static_cast<uInt>(out->size());
    bool ok = deflate(&z, Z_FINISH) == Z_STREAM_END;
    out->resize(z.total_out);
    deflateEnd(&z);
    return ok;
}

// zlib's complete decoding of src within cap bytes, or false.
inline bool zlib_inflate(const uint8_t* src, size_t n, size_t cap, std::string* out) {
    z_stream z{};
    if (inflateInit(&z) != Z_OK) return false;
    out->assign(cap + 1, '\0');
    z.next_in = const_cast<Bytef*>(src);
    z.avail_in = static_cast<uInt>(n);
    z.next_out = reinterpret_cast<Bytef*>(out->data());
    z.avail_out = static_cast<uInt>(out->size());
    bool ok = inflate(&z, Z_FINISH) == Z_STREAM_END && z.total_out <= cap;
    out->resize(z.total_out);
    inflateEnd(&z);
    return ok;
}

inline std::string outcome(int rc, uint64_t len) {
    return "result " + std::to_string(rc) + ", length " + std::to_string(len);
}

// Round trip: zlib's compression of data (level, strategy, window and memory
// level from b0 and b1) decodes back exactly at capacity size, and fails at
// one byte less.
inline std::string inflate_round_trip(uint8_t b0, uint8_t b1, const uint8_t* data, size_t size) {
    const int level = (b0 >> 1) % 11 - 1;           // -1 .. 9
    const int strategy = (b1 & 7) % 5;              // default, filtered, Huffman only, RLE, fixed
    const int window = 9 + ((b1 >> 3) & 7) % 7;     // 9 .. 15
    const int mem = 1 + (b1 >> 6) * 2 + (b0 >> 7);  // 1 .. 8
    std::string z;
    if (!zlib_deflate(data, size, level, strategy, window, mem, &z)) return "zlib compression failed";
    heap_bytes src(reinterpret_cast<const uint8_t*>(z.data()), z.size());

    heap_bytes dst(size);
    uint64_t got = 99;
    int rc = inflate_decompress(src.data(), src.n, dst.data(), size, &got);
    if (rc != 0 || got != size) return "round trip of " + std::to_string(size) + " bytes gave " + outcome(rc, got);
    if (size && std::memcmp(dst.data(), data, size) != 0) return "round trip gave other bytes";
    if (size) {
        heap_bytes small(size - 1);
        got = 99;
        rc = inflate_decompress(src.data(), src.n, small.data(), size - 1, &got);
        if (rc != -1 || got != 0) return "capacity one short of " + std::to_string(size) + " gave " + outcome(rc, got);
    }
    return "";
}

// Arbitrary stream at capacity cap: one of the two documented outcomes; a
// decoded length L comes again with the same bytes at capacity L; whatever
// zlib decodes completely within cap decodes to the same bytes here. The
// measuring mode with limit cap agrees: it gives L when the decoder gives L
// and fails when the decoder fails at cap.
inline std::string inflate_arbitrary(uint64_t cap, const uint8_t* data, size_t size) {
    heap_bytes src(data, size);
    uninit_bytes dst(cap);
    uint64_t got = 99;
    int rc = inflate_decompress(src.data(), size, dst.data(), cap, &got);
    if (rc == -1) {
        if (got != 0) return "result -1 with length " + std::to_string(got);
    } else if (rc == 0) {
        if (got > cap) return "length " + std::to_string(got) + " beyond capacity " + std::to_string(cap);
        uninit_bytes exact(got);
        uint64_t again = 99;
        int rc2 = inflate_decompress(src.data(), size, exact.data(), got, &again);
        if (rc2 != 0 || again != got)
            return "capacity " + std::to_string(got) + " (the length decoded at capacity " + std::to_string(cap) +
                   ") gave " + outcome(rc2, again);
        if (got && std::memcmp(exact.data(), dst.data(), got) != 0) return "the same length gave other bytes";
    } else {
        return "result " + std::to_string(rc);
    }

    std::string ref;
    if (zlib_inflate(src.data(), size, cap, &ref)) {
        if (rc != 0 || got != ref.size())
            return "zlib decodes " + std::to_string(ref.size()) + " bytes; the decoder gave " + outcome(rc, got);
        if (got && std::memcmp(ref.data(), dst.data(), got) != 0) return "zlib decodes other bytes";
    }

    uninit_bytes scratch(INFLATE_MEASURE_SCRATCH);
    uint64_t measured = 99;
    int rm = inflate_measure(src.data(), size, cap, scratch.data(), &measured);
    if (rm == -1) {
        if (measured != 0) return "measuring: result -1 with length " + std::to_string(measured);
        if (rc == 0) return "measuring with limit " + std::to_string(cap) + " failed; the decoder gave " + outcome(rc, got);
    } else if (rm == 0) {
        if (rc == 0 && measured != got)
            return "measuring with limit " + std::to_string(cap) + " gave " + std::to_string(measured) + "; the decoder gave " +
                   outcome(rc, got);
        // A length within the limit is what the decoder gives at capacity cap.
        if (rc != 0)
            return "measuring with limit " + std::to_string(cap) + " gave " + std::to_string(measured) +
                   "; the decoder gave " + outcome(rc, got);
    } else {
        return "measuring: result " + std::to_string(rm);
    }
    return "";
}

// (4) First byte even: a round trip of the bytes after the second. Odd: the
// bytes after the third as a stream, at the capacity 8 * (bytes 1 and 2),
// times 64 when bit 1 of the first byte is set (up to 32 MiB, past the
// measuring mode's window).
inline std::string check_inflate(const uint8_t* data, size_t size) {
    if (size < 3) return "";
    if ((data[0] & 1) == 0) return inflate_round_trip(data[0], data[1], data + 2, size - 2);
    uint64_t cap = (static_cast<uint64_t>(data[1]) << 8 | data[2]) * 8;
    if (data[0] & 2) cap *= 64;
    return inflate_arbitrary(cap, data + 3, size - 3);
}
#endif

// ---- on-demand object streams against the full expansion ----

inline std::string text_or_error(const char* r) { return r ? std::string(r) : "NULL: " + std::string(vellix_last_error()); }

inline std::string flag_and_file(int r, const std::string& out) {
    std::string s = std::to_string(r) + ": " + vellix_last_error() + "\n";
    if (r) s += read_file(out);
    std::filesystem::remove(out);
    return s;
}

// Every report text and every writer's output for one input, in one string.
inline std::string all_outputs(const std::string& in, const std::filesystem::path& work) {
    const char* p = in.c_str();
    std::string s;
    for (auto f : {vellix_read, vellix_read_xmp, vellix_fonts, vellix_images, vellix_bookmarks, vellix_security,
                   vellix_analyze, vellix_page_labels})
        s += text_or_error(f(p)) + "\n";
    s += text_or_error(vellix_compare(p, p)) + "\n";
    const std::string out = (work / "out.pdf").string();
    s += flag_and_file(vellix_write(p, out.c_str(), "T \xc3\xa9", nullptr, "S", "k1, k2"), out);
    s += flag_and_file(vellix_clear(p, out.c_str()), out);
    s += flag_and_file(vellix_write_full(p, out.c_str(), "{\"title\":\"Full\",\"creation_date\":\"2020-01-02\"}"), out);
    s += flag_and_file(vellix_write_xmp(p, out.c_str(), "{\"dc:title\":\"X <&>\",\"pdf:Producer\":\"P\"}"), out);
    s += flag_and_file(vellix_clear_xmp(p, out.c_str()), out);
    return s;
}

// The loaded table in one string: every field of every row, the texts of the
// rows from object streams, and the document's choices.
inline std::string table_of(const std::string& in) {
    pdf_doc doc;
    int rc = doc_load(in.c_str(), &doc, 1);
    std::string s = std::to_string(rc) + " " + vellix_last_error() + "\n";
    if (rc != 0) return s;
    doc_expand_all(doc);
    s += std::to_string(doc.root) + " " + std::to_string(doc.info) + " " + std::to_string(doc.max_obj) + " " +
         std::to_string(doc.pages_ok) + " " + std::to_string(doc.pages.size()) + "\n";
    for (const page_entry& pg : doc.pages) s += std::to_string(pg.page_obj) + " ";
    s += "\n";
    for (const obj_entry& e : doc.objs) {
        for (long long v : {(long long)e.num, (long long)e.gen, (long long)e.obj_pos, (long long)e.dict_pos,
                            (long long)e.stream_kw, (long long)e.data_start, (long long)e.data_end,
                            (long long)e.endobj_pos, (long long)e.stream_len, (long long)e.has_stream,
                            (long long)e.in_objstm, (long long)e.objstm_len})
            s += std::to_string(v) + " ";
        if (e.in_objstm) {
            if (!e.objstm_text) s += "<no text>";
            else s.append(reinterpret_cast<const char*>(e.objstm_text), static_cast<size_t>(e.objstm_len));
        }
        s += "\n";
    }
    return s;
}

// One result three ways: full expansion while loading; every Flate stream
// left to first use (keep budget 0); the default keep budget.
// The full expansion, on demand with nothing kept, on demand within the
// budget, and the last with the streams decoded on two threads.
struct both {
    std::string full, lazy, kept, two;
    bool same() const { return full == lazy && full == kept && full == two; }
};

inline both in_both_ways(const std::string& in, const std::filesystem::path& work,
                         std::string (*f)(const std::string&, const std::filesystem::path&)) {
    both r;
    objstm_full_expansion(true);
    r.full = f(in, work);
    objstm_full_expansion(false);
    objstm_keep_budget(0);
    r.lazy = f(in, work);
    objstm_keep_budget(OBJSTM_KEEP_DEFAULT);
    r.kept = f(in, work);
    objstm_parallel_min(0);
    r.two = f(in, work);
    objstm_parallel_min(OBJSTM_PARALLEL_MIN);
    return r;
}


// (5) The object table and every export's output (reports, compare, the five
// writers' files) with object streams decoded on demand, as with the full
// expansion while loading. The writers' dates come from time(), which the
// caller holds fixed.
// Description: "" or the first part that differs.
inline std::string check_lazy_expansion(const std::string& dir, const uint8_t* data, size_t size) {
    const std::string path = dir + "/lazy.pdf";
    std::string err = write_bytes(path, data, size);
    if (!err.empty()) return err;
    both t = in_both_ways(path, dir, [](const std::string& p, const std::filesystem::path&) { return table_of(p); });
    if (!t.same()) return "object tables differ:\n" + t.full.substr(0, 2000) + "\n---\n" + t.lazy.substr(0, 2000) +
                          "\n---\n" + t.two.substr(0, 2000);
    both o = in_both_ways(path, dir, all_outputs);
    if (!o.same()) return "outputs differ:\n" + o.full.substr(0, 2000) + "\n---\n" + o.lazy.substr(0, 2000) +
                          "\n---\n" + o.two.substr(0, 2000);
    return "";
}

}  // namespace fuzzprop
