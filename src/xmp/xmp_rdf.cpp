// Reading an XMP packet as RDF/XML: the packet's character encoding, XML
// character and entity references, and the RDF forms of properties
// (elements, attributes of rdf:Description, rdf:Alt, rdf:Seq, rdf:Bag and
// structures). The element tree is built and read with explicit stacks, so
// nesting depth costs no call stack.
#include <algorithm>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "syntax/text_string.h"
#include "xmp/xmp.h"

namespace {

int hex_digit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

bool is_blank(uint8_t c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

bool all_blank(std::string_view s) {
    for (char c : s)
        if (!is_blank(static_cast<uint8_t>(c))) return false;
    return true;
}

// Whether the code point is a character XML allows.
bool xml_char(uint32_t c) {
    return c == 0x9 || c == 0xA || c == 0xD || (c >= 0x20 && c <= 0xD7FF) || (c >= 0xE000 && c <= 0xFFFD) ||
           (c >= 0x10000 && c <= 0x10FFFF);
}

// UTF-16 (two bytes a unit) or UTF-32 (four) code units to UTF-8; unpaired
// surrogates, values beyond U+10FFFF and a cut last unit become U+FFFD.
std::string wide_to_utf8(const uint8_t* p, size_t n, int width, bool big_endian) {
    std::string out;
    out.reserve(n);
    auto unit = [&](size_t i) -> uint32_t {
        uint32_t v = 0;
        for (int k = 0; k < width; ++k) {
            uint32_t b = p[i + static_cast<size_t>(big_endian ? k : width - 1 - k)];
            v = (v << 8) | b;
        }
        return v;
    };
    size_t i = 0;
    const size_t w = static_cast<size_t>(width);
    while (i + w <= n) {
        uint32_t u = unit(i);
        i += w;
        if (width == 2 && u >= 0xD800 && u <= 0xDBFF && i + 2 <= n) {
            uint32_t lo = unit(i);
            if (lo >= 0xDC00 && lo <= 0xDFFF) {
                i += 2;
                utf8_append(out, 0x10000 + ((u - 0xD800) << 10) + (lo - 0xDC00));
                continue;
            }
        }
        utf8_append(out, u);  // a lone surrogate or a value out of range gives U+FFFD
    }
    if (i < n) utf8_append(out, 0xFFFD);
    return out;
}

// --- The element tree --------------------------------------------------------

struct xml_attr {
    std::string_view name;
    std::string value;
};

struct xml_node {
    std::string_view name;
    size_t attr_begin = 0, attr_end = 0;
    int32_t first_child = -1, last_child = -1, next = -1;
    std::string text;  // the character data directly inside, decoded
    bool has_elements = false;
};

class xml_tree {
public:
    std::vector<xml_node> nodes;  // in document order
    std::vector<xml_attr> attrs;

    xml_tree(std::string_view s, bool unicode) : s_(s), unicode_(unicode) { parse(); }

    std::string_view attr(const xml_node& n, std::string_view name) const {
        for (size_t i = n.attr_begin; i < n.attr_end; ++i)
            if (attrs[i].name == name) return attrs[i].value;
        return {};
    }
    bool has_attr(const xml_node& n, std::string_view name) const {
        for (size_t i = n.attr_begin; i < n.attr_end; ++i)
            if (attrs[i].name == name) return true;
        return false;
    }

private:
    std::string decode(std::string_view raw) const {
        if (unicode_) return xml_text_decode(raw);
        cstr v = xml_decode(reinterpret_cast<const uint8_t*>(raw.data()), static_cast<int32_t>(raw.size()));
        return v ? std::string(v.get()) : std::string();
    }

    size_t find(std::string_view what, size_t from) const {
        size_t f = s_.find(what, from);
        return f == std::string_view::npos ? s_.size() : f;
    }

    void add_text(std::string_view raw, bool decoded) {
        if (open_.empty() || raw.empty()) return;
        nodes[static_cast<size_t>(open_.back())].text += decoded ? std::string(raw) : decode(raw);
    }

    void parse() {
        size_t i = 0;
        const size_t n = s_.size();
        while (i < n) {
            if (s_[i] != '<') {
                size_t e = find("<", i);
                add_text(s_.substr(i, e - i), false);
                i = e;
                continue;
            }
            if (s_.compare(i, 4, "<!--") == 0) {
                i = find("-->", i + 4) + 3;
            } else if (s_.compare(i, 9, "<![CDATA[") == 0) {
                size_t e = find("]]>", i + 9);
                add_text(s_.substr(i + 9, e - i - 9), true);
                i = e + 3;
            } else if (s_.compare(i, 2, "<?") == 0) {
                i = find("?>", i + 2) + 2;
            } else if (s_.compare(i, 2, "<!") == 0) {
                i = find(">", i + 2) + 1;
            } else if (s_.compare(i, 2, "</") == 0) {
                size_t e = find(">", i + 2);
                close(trim(s_.substr(i + 2, e - i - 2)));
                i = e + 1;
            } else {
                i = start_tag(i + 1);
            }
        }
    }

    static std::string_view trim(std::string_view v) {
        while (!v.empty() && is_blank(static_cast<uint8_t>(v.back()))) v.remove_suffix(1);
        return v;
    }

    // Ends the innermost open element of that name and every element opened
    // inside it; an end tag that matches nothing open is passed over.
    void close(std::string_view name) {
        for (size_t k = open_.size(); k-- > 0;) {
            if (nodes[static_cast<size_t>(open_[k])].name == name) {
                open_.resize(k);
                return;
            }
        }
    }

    // The start tag whose name begins at i; returns the position after it.
    size_t start_tag(size_t i) {
        const size_t n = s_.size();
        size_t e = i;
        while (e < n && !is_blank(static_cast<uint8_t>(s_[e])) && s_[e] != '/' && s_[e] != '>') ++e;
        xml_node node;
        node.name = s_.substr(i, e - i);
        node.attr_begin = attrs.size();
        bool empty = false;
        size_t p = e;
        for (;;) {
            while (p < n && is_blank(static_cast<uint8_t>(s_[p]))) ++p;
            if (p >= n) break;
            if (s_[p] == '>') {
                ++p;
                break;
            }
            if (s_[p] == '/' && p + 1 < n && s_[p + 1] == '>') {
                empty = true;
                p += 2;
                break;
            }
            size_t ne = p;
            while (ne < n && !is_blank(static_cast<uint8_t>(s_[ne])) && s_[ne] != '=' && s_[ne] != '>' &&
                   s_[ne] != '/')
                ++ne;
            std::string_view aname = s_.substr(p, ne - p);
            size_t q = ne;
            while (q < n && is_blank(static_cast<uint8_t>(s_[q]))) ++q;
            if (q >= n || s_[q] != '=' || aname.empty()) {
                p = ne > p ? ne : p + 1;  // a malformed attribute: go on after it
                continue;
            }
            ++q;
            while (q < n && is_blank(static_cast<uint8_t>(s_[q]))) ++q;
            if (q >= n || (s_[q] != '"' && s_[q] != '\'')) {
                p = q;
                continue;
            }
            size_t ve = s_.find(s_[q], q + 1);
            if (ve == std::string_view::npos) ve = n;
            attrs.push_back({aname, decode(s_.substr(q + 1, ve - q - 1))});
            p = ve < n ? ve + 1 : n;
        }
        node.attr_end = attrs.size();
        int32_t id = static_cast<int32_t>(nodes.size());
        if (!open_.empty()) {
            xml_node& parent = nodes[static_cast<size_t>(open_.back())];
            parent.has_elements = true;
            if (parent.last_child >= 0)
                nodes[static_cast<size_t>(parent.last_child)].next = id;
            else
                parent.first_child = id;
            parent.last_child = id;
        }
        nodes.push_back(std::move(node));
        if (!empty) open_.push_back(id);
        return p;
    }

    std::string_view s_;
    bool unicode_;
    std::vector<int32_t> open_;  // elements open at the current position
};

// --- RDF ---------------------------------------------------------------------

// Names of properties: qualified, and not of the RDF or XML syntax itself.
bool is_property_name(std::string_view name) {
    size_t colon = name.find(':');
    if (colon == std::string_view::npos || colon == 0 || colon + 1 == name.size()) return false;
    std::string_view prefix = name.substr(0, colon);
    return prefix != "rdf" && prefix != "xml" && prefix != "xmlns";
}

bool lang_is_default(std::string_view v) {
    static const char want[] = "x-default";
    if (v.size() != sizeof want - 1) return false;
    for (size_t i = 0; i < v.size(); ++i) {
        char c = v[i];
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        if (c != want[i]) return false;
    }
    return true;
}

class rdf_reader {
public:
    rdf_reader(const xml_tree& t, propvec* pv) : t_(t), pv_(pv), done_(t.nodes.size(), false) {}

    void run() {
        for (size_t i = 0; i < t_.nodes.size(); ++i) {
            if (done_[i] || t_.nodes[i].name != "rdf:Description") continue;
            stack_.push_back({static_cast<int32_t>(i), NODE});
            drain();
        }
    }

private:
    enum kind { NODE, PROPERTY, ITEM };
    struct work {
        int32_t node;
        kind k;
    };

    const xml_node& at(int32_t i) const { return t_.nodes[static_cast<size_t>(i)]; }

    void record(std::string_view name, std::string_view value) {
        if (!is_property_name(name) || value.empty() || all_blank(value)) return;
        std::string n(name);
        std::string v(value);
        xmp_record(pv_, "", n.c_str(), v.c_str(), 0);
    }

    // Attributes that are properties (or structure fields) are recorded.
    void record_attrs(const xml_node& n) {
        for (size_t i = n.attr_begin; i < n.attr_end; ++i) record(t_.attrs[i].name, t_.attrs[i].value);
    }

    bool has_field_attrs(const xml_node& n) const {
        for (size_t i = n.attr_begin; i < n.attr_end; ++i)
            if (is_property_name(t_.attrs[i].name)) return true;
        return false;
    }

    bool is_resource(const xml_node& n) const { return t_.attr(n, "rdf:parseType") == "Resource"; }

    // An item or property whose value is its text.
    bool is_text(const xml_node& n) const { return !n.has_elements && !is_resource(n) && !has_field_attrs(n); }

    // Pushes the element children of n, so that they are taken in document order.
    void push_children(const xml_node& n, kind k) {
        size_t mark = stack_.size();
        for (int32_t c = n.first_child; c >= 0; c = at(c).next) stack_.push_back({c, k});
        std::reverse(stack_.begin() + static_cast<std::ptrdiff_t>(mark), stack_.end());
    }

    void drain() {
        while (!stack_.empty()) {
            work w = stack_.back();
            stack_.pop_back();
            if (done_[static_cast<size_t>(w.node)]) continue;
            done_[static_cast<size_t>(w.node)] = true;
            const xml_node& n = at(w.node);
            if (w.k == NODE) {
                record_attrs(n);
                push_children(n, PROPERTY);
            } else if (w.k == ITEM) {
                record_attrs(n);
                bool nodes = n.first_child >= 0 && at(n.first_child).name == "rdf:Description";
                push_children(n, nodes && !is_resource(n) ? NODE : PROPERTY);
            } else {
                property(n);
            }
        }
    }

    void property(const xml_node& p) {
        record_attrs(p);  // the abbreviated structure form: fields as attributes
        if (is_resource(p)) {
            push_children(p, PROPERTY);
            return;
        }
        if (!p.has_elements) {
            if (!all_blank(p.text))
                record(p.name, p.text);
            else
                record(p.name, t_.attr(p, "rdf:resource"));
            return;
        }
        const xml_node& c = at(p.first_child);
        bool alt = c.name == "rdf:Alt";
        if (!alt && c.name != "rdf:Seq" && c.name != "rdf:Bag") {
            push_children(p, NODE);  // a structure: rdf:Description or a typed node
            return;
        }
        done_[static_cast<size_t>(p.first_child)] = true;
        std::vector<int32_t> items;
        for (int32_t i = c.first_child; i >= 0; i = at(i).next)
            if (at(i).name == "rdf:li") items.push_back(i);
        if (alt) {
            int32_t pick = items.empty() ? -1 : items[0];
            for (int32_t i : items)
                if (lang_is_default(t_.attr(at(i), "xml:lang"))) {
                    pick = i;
                    break;
                }
            if (pick < 0) return;
            if (is_text(at(pick)))
                record(p.name, at(pick).text);
            else
                stack_.push_back({pick, ITEM});
            return;
        }
        std::string joined;
        size_t mark = stack_.size();
        for (int32_t i : items) {
            const xml_node& li = at(i);
            if (is_text(li)) {
                if (all_blank(li.text)) continue;
                if (!joined.empty()) joined += ", ";
                joined += li.text;
            } else {
                stack_.push_back({i, ITEM});
            }
        }
        std::reverse(stack_.begin() + static_cast<std::ptrdiff_t>(mark), stack_.end());
        record(p.name, joined);
    }

    const xml_tree& t_;
    propvec* pv_;
    std::vector<bool> done_;
    std::vector<work> stack_;
};

}  // namespace

std::string xmp_packet_to_utf8(const uint8_t* p, int32_t n) {
    size_t len = n > 0 ? static_cast<size_t>(n) : 0;
    if (len >= 4 && p[0] == 0 && p[1] == 0 && p[2] == 0xFE && p[3] == 0xFF) return wide_to_utf8(p + 4, len - 4, 4, true);
    if (len >= 4 && p[0] == 0xFF && p[1] == 0xFE && p[2] == 0 && p[3] == 0) return wide_to_utf8(p + 4, len - 4, 4, false);
    if (len >= 4 && p[0] == 0 && p[1] == 0 && p[2] == 0 && p[3] == '<') return wide_to_utf8(p, len, 4, true);
    if (len >= 4 && p[0] == '<' && p[1] == 0 && p[2] == 0 && p[3] == 0) return wide_to_utf8(p, len, 4, false);
    if (len >= 2 && p[0] == 0xFE && p[1] == 0xFF) return wide_to_utf8(p + 2, len - 2, 2, true);
    if (len >= 2 && p[0] == 0xFF && p[1] == 0xFE) return wide_to_utf8(p + 2, len - 2, 2, false);
    if (len >= 2 && p[0] == 0 && p[1] == '<') return wide_to_utf8(p, len, 2, true);
    if (len >= 2 && p[0] == '<' && p[1] == 0) return wide_to_utf8(p, len, 2, false);
    if (len >= 3 && p[0] == 0xEF && p[1] == 0xBB && p[2] == 0xBF) {
        p += 3;
        len -= 3;
    }
    return utf8_sanitize(std::string_view(reinterpret_cast<const char*>(p), len));
}

std::string xml_text_decode(std::string_view s) {
    static const struct {
        const char* text;
        size_t len;
        char c;
    } ENT[] = {{"&lt;", 4, '<'}, {"&gt;", 4, '>'}, {"&quot;", 6, '"'}, {"&apos;", 6, '\''}, {"&amp;", 5, '&'}};
    std::string out;
    out.reserve(s.size());
    size_t i = 0;
    while (i < s.size()) {
        size_t amp = s.find('&', i);
        if (amp == std::string_view::npos) amp = s.size();
        out.append(s.data() + i, amp - i);
        i = amp;
        if (i >= s.size()) break;
        bool done = false;
        for (const auto& e : ENT) {
            if (s.compare(i, e.len, e.text) == 0) {
                out.push_back(e.c);
                i += e.len;
                done = true;
                break;
            }
        }
        if (done) continue;
        if (i + 1 < s.size() && s[i + 1] == '#') {
            bool hex = i + 2 < s.size() && (s[i + 2] == 'x' || s[i + 2] == 'X');
            size_t j = i + (hex ? 3 : 2);
            uint32_t v = 0;
            size_t digits = 0;
            for (; j < s.size(); ++j) {
                char c = s[j];
                int d = hex ? hex_digit(c) : (c >= '0' && c <= '9' ? c - '0' : -1);
                if (d < 0) break;
                ++digits;
                if (v <= 0x10FFFF) v = v * (hex ? 16 : 10) + static_cast<uint32_t>(d);
            }
            if (digits > 0 && j < s.size() && s[j] == ';') {
                utf8_append(out, xml_char(v) ? v : 0xFFFD);
                i = j + 1;
                continue;
            }
        }
        out.push_back('&');
        ++i;
    }
    return out;
}

void xmp_read_rdf(const uint8_t* p, int32_t n, bool unicode, propvec* pv) {
    xml_tree tree(std::string_view(reinterpret_cast<const char*>(p), n > 0 ? static_cast<size_t>(n) : 0), unicode);
    rdf_reader(tree, pv).run();
}
