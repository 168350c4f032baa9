// Scanning an XMP packet into a property list with plain byte searches.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string_view>

#include "syntax/lexer.h"
#include "xmp/xmp.h"

namespace {

// First p >= from with p + k <= bound where the k bytes of pat match, or -1.
int32_t search(const uint8_t* buf, int32_t from, int32_t bound, const char* pat, int32_t k) {
    if (from < 0) from = 0;
    for (int32_t p = from; p <= bound - k; ++p) {
        const void* hit = std::memchr(buf + p, static_cast<uint8_t>(pat[0]), static_cast<size_t>(bound - k - p + 1));
        if (!hit) return -1;
        p = static_cast<int32_t>(static_cast<const uint8_t*>(hit) - buf);
        if (std::memcmp(buf + p, pat, static_cast<size_t>(k)) == 0) return p;
    }
    return -1;
}

int32_t search_byte(const uint8_t* buf, int32_t from, int32_t bound, uint8_t c) {
    if (from < 0) from = 0;
    if (from >= bound) return -1;
    const void* hit = std::memchr(buf + from, c, static_cast<size_t>(bound - from));
    return hit ? static_cast<int32_t>(static_cast<const uint8_t*>(hit) - buf) : -1;
}

// Bytes that end an element name.
bool ends_name(uint8_t c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '/' || c == '>'; }
bool is_xml_blank(uint8_t c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

// Longest element name xmp_split_name can accept: 31 + ':' + 47.
constexpr int32_t MAX_NAME = XMP_PREFIX_CAP - 1 + 1 + XMP_LOCAL_CAP - 1;

const char* const CONT[] = {"rdf:Alt", "rdf:Bag", "rdf:Seq"};

// Name of the element whose "<" is the nearest one before the container at t
// (looking back at most 1024 bytes), split into prefix and local part. The
// split's verdict is not consulted: any written prefix counts.
void enclosing_name(const uint8_t* pkt, int32_t t, char* prefix, char* local) {
    prefix[0] = 0;
    local[0] = 0;
    int32_t b = -1;
    for (int32_t i = t - 1; i >= 0 && i >= t - 1024; --i) {
        if (pkt[i] == '<') {
            b = i;
            break;
        }
    }
    if (b <= 0) return;
    int32_t end = b + 1;
    while (end < t && !ends_name(pkt[end])) ++end;
    if (end > b + 1) xmp_name_split(pkt, b + 1, end, prefix, local);
}

// The decoded text of p[0, n): xml_decode's rule, or with `full` every
// character reference (xml_text_decode).
cstr decode_value(const uint8_t* p, int32_t n, bool full) {
    if (!full) return xml_decode(p, n);
    std::string v = xml_text_decode(std::string_view(reinterpret_cast<const char*>(p), static_cast<size_t>(n)));
    return cstr_dup(v.c_str());
}

// Records the text of every rdf:li item between t and e, comma-joined.
void record_items(const uint8_t* pkt, int32_t t, int32_t e, const char* prefix, const char* local, propvec* pv,
                  bool full) {
    int32_t q = t;
    for (;;) {
        int32_t k = search(pkt, q, e, "<rdf:li", 7);
        if (k < 0 || !(k + 7 < e)) return;
        int32_t g = search_byte(pkt, k + 7, e, '>');
        if (g < 0 || !(g + 9 <= e)) return;
        int32_t m = search(pkt, g, e, "</rdf:li>", 9);
        if (m < 0) return;
        cstr v = decode_value(pkt + g + 1, m - g - 1, full);
        if (!v) throw std::bad_alloc();
        xmp_record(pv, prefix, local, v.get(), 1);
        q = m + 9;
    }
}

// Positions of every end tag "</name>" by name, so each closing-tag search of
// the simple-property scan is a lookup instead of a scan to the packet end.
class end_tag_index {
public:
    end_tag_index(const uint8_t* pkt, int32_t n) : pkt_(pkt), n_(n) {}

    // First y >= from where "</" + name + ">" starts, or -1. name holds no '>'.
    int32_t find(std::string_view name, int32_t from) {
        if (!built_) build();
        auto it = tags_.find(name);
        if (it == tags_.end()) return -1;
        auto pos = std::lower_bound(it->second.begin(), it->second.end(), from);
        return pos == it->second.end() ? -1 : *pos;
    }

private:
    void build() {
        built_ = true;
        for (int32_t y = search(pkt_, 0, n_, "</", 2); y >= 0; y = search(pkt_, y + 1, n_, "</", 2)) {
            // A name never holds '>', so the first '>' after "</" closes the tag.
            int32_t lim = std::min(n_, y + 2 + MAX_NAME + 1);
            int32_t gt = search_byte(pkt_, y + 2, lim, '>');
            if (gt < 0) continue;
            std::string_view key(reinterpret_cast<const char*>(pkt_ + y + 2), static_cast<size_t>(gt - y - 2));
            tags_[key].push_back(y);
        }
    }

    const uint8_t* pkt_;
    int32_t n_;
    bool built_ = false;
    std::unordered_map<std::string_view, std::vector<int32_t>> tags_;
};

// Remembers the last forward search for one byte or for the end of a blank
// run, so that the many start positions sharing one answer scan it once.
struct forward_memo {
    int32_t from = -1;
    int32_t result = -1;  // answer for `from`; -1: none before the end
};

int32_t next_gt(const uint8_t* pkt, int32_t n, int32_t from, forward_memo& m) {
    if (m.from >= 0 && from >= m.from && (m.result < 0 || m.result >= from)) return m.result;
    m.from = from;
    m.result = search_byte(pkt, from, n, '>');
    return m.result;
}

int32_t skip_blanks(const uint8_t* pkt, int32_t n, int32_t from, forward_memo& m) {
    if (m.from >= 0 && from >= m.from && from <= m.result) return m.result;
    int32_t i = from;
    while (i < n && is_xml_blank(pkt[i])) ++i;
    m.from = from;
    m.result = i;
    return i;
}

// Phase 2 at one position o: records an element with plain text content.
// Returns the position of its end tag, or -1 when nothing was recorded.
int32_t simple_at(const uint8_t* pkt, int32_t n, int32_t o, propvec* pv, end_tag_index& ends, forward_memo& gt_memo,
                  forward_memo& blank_memo, bool full) {
    if (pkt[o] != '<' || o + 1 >= n) return -1;
    uint8_t c = pkt[o + 1];
    if (c == '/' || c == '?' || c == '!') return -1;
    // Names longer than MAX_NAME are refused by the split, so stop looking there.
    int32_t lim = std::min(n, o + 1 + MAX_NAME + 1);
    int32_t ne = o + 1;
    while (ne < lim && !ends_name(pkt[ne])) ++ne;
    if (ne >= lim || ne == o + 1) return -1;
    char prefix[XMP_PREFIX_CAP];
    char local[XMP_LOCAL_CAP];
    if (xmp_name_split(pkt, o + 1, ne, prefix, local) != 1) return -1;
    int32_t gt = next_gt(pkt, n, ne, gt_memo);
    if (gt < 0) return -1;
    int32_t w = gt + 1;
    int32_t first = skip_blanks(pkt, n, w, blank_memo);
    if (first < n && pkt[first] == '<') return -1;
    char tag[120];
    std::snprintf(tag, sizeof tag, "</%s:%s>", prefix, local);
    size_t tlen = std::strlen(tag);
    // The index is keyed by the text between "</" and ">".
    int32_t y = ends.find(std::string_view(tag + 2, tlen - 3), w);
    if (y < 0) return -1;
    cstr v = decode_value(pkt + w, y - w, full);
    if (!v) throw std::bad_alloc();
    xmp_record(pv, prefix, local, v.get(), 0);
    return y;
}

// Appends code point v (0 .. 0x10FFFF) as UTF-8; null when memory runs out.
char* append_utf8(strbuf* b, uint32_t v) {
    uint8_t u[4];
    size_t k;
    if (v < 0x80) {
        u[0] = static_cast<uint8_t>(v);
        k = 1;
    } else if (v < 0x800) {
        u[0] = static_cast<uint8_t>(0xC0 | (v >> 6));
        u[1] = static_cast<uint8_t>(0x80 | (v & 0x3F));
        k = 2;
    } else if (v < 0x10000) {
        u[0] = static_cast<uint8_t>(0xE0 | (v >> 12));
        u[1] = static_cast<uint8_t>(0x80 | ((v >> 6) & 0x3F));
        u[2] = static_cast<uint8_t>(0x80 | (v & 0x3F));
        k = 3;
    } else {
        u[0] = static_cast<uint8_t>(0xF0 | (v >> 18));
        u[1] = static_cast<uint8_t>(0x80 | ((v >> 12) & 0x3F));
        u[2] = static_cast<uint8_t>(0x80 | ((v >> 6) & 0x3F));
        u[3] = static_cast<uint8_t>(0x80 | (v & 0x3F));
        k = 4;
    }
    return buf_bytes(b, u, k);
}

// A numeric character reference at p[i] ("&#"); on success appends it and
// returns the position after its ending byte, else -1. Only tried with at
// least ten bytes after the '&'. Values below 0x20 and above U+10FFFF stay
// literal. A failed append clears *ok.
int32_t numeric_ref(const uint8_t* p, int32_t n, int32_t i, strbuf* b, bool* ok) {
    if (!(i + 10 < n) || p[i + 1] != '#') return -1;
    bool hex = p[i + 2] == 'x' || p[i + 2] == 'X';
    int base = hex ? 16 : 10;
    int32_t j = hex ? i + 3 : i + 2;
    uint32_t v = 0;
    bool too_big = false;
    int32_t digits = 0;
    for (; j < n; ++j) {
        int d = hex ? hex_value(p[j]) : (p[j] >= '0' && p[j] <= '9' ? p[j] - '0' : -1);
        if (d < 0) break;
        ++digits;
        if (!too_big) {
            v = v * static_cast<uint32_t>(base) + static_cast<uint32_t>(d);
            if (v > 0x10FFFF) too_big = true;
        }
    }
    if (digits == 0 || j >= n || too_big || v < 0x20) return -1;
    if (!append_utf8(b, v)) *ok = false;
    return j + 1;
}

struct entity {
    const char* text;
    int32_t len;
    char byte;
};
const entity ENTITIES[] = {{"&lt;", 4, '<'}, {"&gt;", 4, '>'}, {"&quot;", 6, '"'}, {"&apos;", 6, '\''}, {"&amp;", 5, '&'}};

}  // namespace

const std::string* propvec::find(const std::string& name) const {
    auto it = index.find(name);
    return it == index.end() ? nullptr : &items[static_cast<size_t>(it->second)].value;
}

void propvec_free(propvec* pv) {
    pv->items.clear();
    pv->items.shrink_to_fit();
    pv->index.clear();
}

int xmp_name_split(const uint8_t* buf, int32_t start, int32_t end, char prefix[XMP_PREFIX_CAP],
                   char local[XMP_LOCAL_CAP]) {
    if (start < 0 || end <= start) return 0;
    const void* hit = std::memchr(buf + start, ':', static_cast<size_t>(end - start));
    if (hit) {
        int32_t c = static_cast<int32_t>(static_cast<const uint8_t*>(hit) - buf);
        int32_t plen = c - start;
        int32_t llen = end - c - 1;
        if (plen < 1 || plen > XMP_PREFIX_CAP - 1 || llen < 1 || llen > XMP_LOCAL_CAP - 1) return 0;
        std::memcpy(prefix, buf + start, static_cast<size_t>(plen));
        prefix[plen] = 0;
        std::memcpy(local, buf + c + 1, static_cast<size_t>(llen));
        local[llen] = 0;
    } else {
        int32_t llen = end - start;
        if (llen > XMP_LOCAL_CAP - 1) return 0;
        prefix[0] = 0;
        std::memcpy(local, buf + start, static_cast<size_t>(llen));
        local[llen] = 0;
    }
    if (prefix[0] == 0) return 1;
    if (std::strcmp(prefix, "rdf") == 0) {
        for (const char* s : {"RDF", "Alt", "Bag", "Seq", "li"})
            if (std::strcmp(local, s) == 0) return 0;
        return 1;
    }
    if (std::strcmp(prefix, "x") == 0) return std::strcmp(local, "xmpmeta") != 0 && std::strcmp(local, "adobe:xmp") != 0;
    return 1;
}

void xmp_record(propvec* pv, const char* prefix, const char* local, const char* value, int join) {
    if (!value || !value[0]) return;
    {
        std::string name = prefix[0] ? std::string(prefix) + ":" + local : std::string(local);
        auto it = pv->index.find(name);
        if (it != pv->index.end()) {
            if (!join) return;
            std::string& old = pv->items[static_cast<size_t>(it->second)].value;
            size_t add = std::strlen(value);
            old.reserve(old.size() + 1 + add);  // the appends below cannot fail after this
            old.push_back(',');
            old.append(value, add);
            return;
        }
        xmp_prop prop{name, std::string(value)};
        if (pv->items.size() == pv->items.capacity())
            pv->items.reserve(pv->items.empty() ? 16 : 2 * pv->items.size());
        pv->index.emplace(std::move(name), pv->count());
        pv->items.push_back(std::move(prop));  // capacity is there: cannot fail
    }
}

cstr xml_decode(const uint8_t* p, int32_t n) {
    strbuf b = strbuf_start();
    bool ok = true;
    for (int32_t i = 0; i < n && ok;) {
        if (p[i] != '&') {
            // Copy the run up to the next '&' in one append.
            int32_t amp = search_byte(p, i, n, '&');
            int32_t stop = amp < 0 ? n : amp;
            if (stop > i && !buf_bytes(&b, p + i, static_cast<uint64_t>(stop - i))) ok = false;
            i = stop;
            continue;
        }
        const entity* hit = nullptr;
        for (const entity& e : ENTITIES) {
            if (i + e.len <= n && std::memcmp(p + i, e.text, static_cast<size_t>(e.len)) == 0) {
                hit = &e;
                break;
            }
        }
        if (hit) {
            if (!buf_bytes(&b, &hit->byte, 1)) ok = false;
            i += hit->len;
            continue;
        }
        int32_t next = numeric_ref(p, n, i, &b, &ok);
        if (next >= 0) {
            i = next;
            continue;
        }
        if (!buf_bytes(&b, "&", 1)) ok = false;
        ++i;
    }
    if (!ok) return nullptr;
    if (b.len == 0) return cstr_dup("");
    return cstr(b.release());
}

void xmp_scan_containers(const uint8_t* pkt, int32_t n, propvec* pv, bool full_refs) {
    const bool debug = std::getenv("VXDBG2") != nullptr;
    for (const char* name : CONT) {
        char open[32];
        char close[32];
        std::snprintf(open, sizeof open, "<%s>", name);
        std::snprintf(close, sizeof close, "</%s>", name);
        const int32_t olen = static_cast<int32_t>(std::strlen(open));
        const int32_t clen = static_cast<int32_t>(std::strlen(close));
        int32_t p = 0;
        for (;;) {
            int32_t t = search(pkt, p, n, open, olen);
            if (t < 0) break;
            int32_t e = search(pkt, t + olen, n, close, clen);
            // No closing tag after t means none after any later opening tag either.
            if (e < 0) break;
            char prefix[XMP_PREFIX_CAP];
            char local[XMP_LOCAL_CAP];
            enclosing_name(pkt, t, prefix, local);
            if (debug)
                std::fprintf(stderr, "[mm] tag@%ld ns=%s local=%s bend=%ld\n", static_cast<long>(t), prefix, local,
                             static_cast<long>(e));
            if (prefix[0]) record_items(pkt, t, e, prefix, local, pv, full_refs);
            p = e + clen;
        }
    }
}

void xmp_scan_simple(const uint8_t* pkt, int32_t n, propvec* pv, bool full_refs) {
    if (n <= 2) return;
    end_tag_index ends(pkt, n);
    forward_memo gt_memo;
    forward_memo blank_memo;
    int32_t o = 0;
    while (o <= n - 3) {
        int32_t y = simple_at(pkt, n, o, pv, ends, gt_memo, blank_memo, full_refs);
        o = y < 0 ? o + 1 : y + 1;
    }
}
