// XMP packets edited in place, located with expat's byte positions.
#include "xmp/xmp_edit.h"

#include <expat.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <unordered_map>

#include "xmp/xmp_build.h"

namespace {

constexpr std::string_view RDF_NS = "http://www.w3.org/1999/02/22-rdf-syntax-ns#";
constexpr char SEP = '\x01';  // between namespace, local name and prefix in expat's names

struct known_ns {
    std::string_view prefix, uri;
};
constexpr known_ns KNOWN[] = {
    {"dc", "http://purl.org/dc/elements/1.1/"},
    {"xmp", "http://ns.adobe.com/xap/1.0/"},
    {"xap", "http://ns.adobe.com/xap/1.0/"},
    {"pdf", "http://ns.adobe.com/pdf/1.3/"},
    {"xmpMM", "http://ns.adobe.com/xap/1.0/mm/"},
    {"xapMM", "http://ns.adobe.com/xap/1.0/mm/"},
    {"xmpRights", "http://ns.adobe.com/xap/1.0/rights/"},
    {"photoshop", "http://ns.adobe.com/photoshop/1.0/"},
    {"exif", "http://ns.adobe.com/exif/1.0/"},
    {"tiff", "http://ns.adobe.com/tiff/1.0/"},
    {"iptc", "http://iptc.org/std/Iptc4xmpCore/1.0/xmlns/"},
    {"pdfx", "http://ns.adobe.com/pdfx/1.3/"},
    {"pdfaid", "http://www.aiim.org/pdfa/ns/id/"},
};

// An element as expat reported it: its names and the byte spans of its tags.
struct element {
    std::string uri, local, prefix;
    size_t start = 0, stag_end = 0;  // the start tag
    size_t etag_start = 0, end = 0;  // the end tag (empty for <a/>: etag_start == end == stag_end)
    int parent = -1;
};

// A change resolved to a namespace.
struct target {
    std::string prefix, local, uri, value;
};

// An attribute of a start tag: [lead, value_end + 1) is what removing it
// takes out (the white space before it up to its closing quote).
struct attribute {
    std::string qname;
    size_t lead = 0, value_start = 0, value_end = 0;
};

struct parse_state {
    XML_Parser parser = nullptr;
    std::vector<element> els;
    std::vector<int> open;  // stack of open elements
    // In-scope declarations, as stacks, for resolving attribute prefixes and
    // for finding a prefix of a namespace at an rdf:Description.
    std::unordered_map<std::string, std::vector<std::string>> prefix_uri, uri_prefix;
    std::string_view text;  // the packet
    std::vector<const target*> wanted;
    // Per rdf:Description (element index): its attributes resolved to
    // namespaces, and for each wanted namespace the prefix in scope there.
    struct description {
        int el;
        std::vector<std::pair<attribute, std::string>> attrs;  // attribute, its namespace
        std::vector<std::string> prefix_for;                    // per wanted target; "\x01" when none
    };
    std::vector<description> descriptions;
    bool refused = false;
    std::string why;
};

std::string_view part(std::string_view name, int k) {
    for (int i = 0; i < k; ++i) {
        size_t p = name.find(SEP);
        if (p == std::string_view::npos) return {};
        name.remove_prefix(p + 1);
    }
    return name.substr(0, name.find(SEP));
}

void split_name(const char* name, element* e) {
    std::string_view n(name);
    if (n.find(SEP) == std::string_view::npos) {  // no namespace
        e->local = std::string(n);
        return;
    }
    e->uri = std::string(part(n, 0));
    e->local = std::string(part(n, 1));
    e->prefix = std::string(part(n, 2));
}

bool is_space(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// The attributes of the start tag text t (well-formed: expat has read it).
std::vector<attribute> lex_attributes(std::string_view t, size_t base) {
    std::vector<attribute> out;
    size_t i = 1;
    while (i < t.size() && !is_space(t[i]) && t[i] != '>' && t[i] != '/') ++i;
    for (;;) {
        size_t lead = i;
        while (i < t.size() && is_space(t[i])) ++i;
        if (i >= t.size() || t[i] == '>' || t[i] == '/') break;
        size_t ns = i;
        while (i < t.size() && !is_space(t[i]) && t[i] != '=') ++i;
        attribute a;
        a.qname = std::string(t.substr(ns, i - ns));
        while (i < t.size() && t[i] != '"' && t[i] != '\'') ++i;
        if (i >= t.size()) break;
        char q = t[i++];
        size_t vs = i;
        while (i < t.size() && t[i] != q) ++i;
        a.lead = base + lead;
        a.value_start = base + vs;
        a.value_end = base + i;
        out.push_back(std::move(a));
        if (i < t.size()) ++i;
    }
    return out;
}

void on_ns_start(void* ud, const XML_Char* prefix, const XML_Char* uri) {
    auto& s = *static_cast<parse_state*>(ud);
    std::string p = prefix ? prefix : "", u = uri ? uri : "";
    s.prefix_uri[p].push_back(u);
    s.uri_prefix[u].push_back(p);
}

void on_ns_end(void* ud, const XML_Char* prefix) {
    auto& s = *static_cast<parse_state*>(ud);
    auto& pu = s.prefix_uri[prefix ? prefix : ""];
    if (pu.empty()) return;
    // Declarations nest, so the namespace's newest prefix is this one.
    auto& up = s.uri_prefix[pu.back()];
    if (!up.empty()) up.pop_back();
    pu.pop_back();
}

// The namespace a prefix has now ("" for none).
std::string in_scope_uri(const parse_state& s, const std::string& prefix) {
    auto it = s.prefix_uri.find(prefix);
    return it == s.prefix_uri.end() || it->second.empty() ? std::string() : it->second.back();
}

void on_start(void* ud, const XML_Char* name, const XML_Char** /*atts*/) {
    auto& s = *static_cast<parse_state*>(ud);
    element e;
    split_name(name, &e);
    e.start = static_cast<size_t>(XML_GetCurrentByteIndex(s.parser));
    e.stag_end = e.start + static_cast<size_t>(XML_GetCurrentByteCount(s.parser));
    e.parent = s.open.empty() ? -1 : s.open.back();
    int idx = static_cast<int>(s.els.size());
    s.els.push_back(e);
    s.open.push_back(idx);
    const element& parent = e.parent >= 0 ? s.els[e.parent] : e;
    if (e.uri == RDF_NS && e.local == "Description" && e.parent >= 0 && parent.uri == RDF_NS && parent.local == "RDF") {
        parse_state::description d;
        d.el = idx;
        // Its attributes, with the namespaces their prefixes have here (the
        // declarations of this tag are in scope already).
        for (attribute& a : lex_attributes(s.text.substr(e.start, e.stag_end - e.start), e.start)) {
            size_t colon = a.qname.find(':');
            if (colon == std::string::npos) continue;  // no namespace, or a default declaration
            std::string pre = a.qname.substr(0, colon);
            if (pre == "xmlns" || pre == "xml") continue;
            std::string uri = in_scope_uri(s, pre);
            d.attrs.emplace_back(std::move(a), std::move(uri));
        }
        s.descriptions.push_back(std::move(d));
    }
    // The prefixes of the wanted namespaces, recorded per description.
    if (!s.descriptions.empty() && s.descriptions.back().el == idx) {
        auto& d = s.descriptions.back();
        for (const target* t : s.wanted) {
            std::string pre = "\x01";
            auto it = s.uri_prefix.find(t->uri);
            if (it != s.uri_prefix.end()) {
                for (size_t k = it->second.size(); k-- > 0;) {
                    const std::string& p = it->second[k];
                    if (!p.empty() && in_scope_uri(s, p) == t->uri) {
                        pre = p;
                        break;
                    }
                }
            }
            d.prefix_for.push_back(pre);
        }
    }
}

void on_end(void* ud, const XML_Char* /*name*/) {
    auto& s = *static_cast<parse_state*>(ud);
    if (s.open.empty()) return;
    element& e = s.els[s.open.back()];
    s.open.pop_back();
    size_t at = static_cast<size_t>(XML_GetCurrentByteIndex(s.parser));
    size_t n = static_cast<size_t>(XML_GetCurrentByteCount(s.parser));
    if (n == 0) {
        e.etag_start = e.end = e.stag_end;  // <a/>
    } else {
        e.etag_start = at;
        e.end = at + n;
    }
}

void on_doctype(void* ud, const XML_Char*, const XML_Char*, const XML_Char*, int) {
    auto& s = *static_cast<parse_state*>(ud);
    s.refused = true;
    s.why = "the XMP packet has a document type declaration";
    XML_StopParser(s.parser, XML_FALSE);
}

std::string escaped(const std::string& v) {
    cstr e = xml_escape(v.c_str());
    if (!e) throw std::bad_alloc();
    return e.get();
}

std::string pname(const std::string& prefix, const std::string& local) {
    return prefix.empty() ? local : prefix + ":" + local;
}

// The value of t as the content of its element; rdf is the prefix of the
// RDF namespace where it goes.
std::string content_of(const target& t, const std::string& rdf) {
    const std::string name = t.prefix + ":" + t.local;
    switch (xmp_form_of(name)) {
        case xmp_form::simple: return escaped(t.value);
        case xmp_form::alt:
            return "<" + pname(rdf, "Alt") + "><" + pname(rdf, "li") + " xml:lang=\"x-default\">" + escaped(t.value) +
                   "</" + pname(rdf, "li") + "></" + pname(rdf, "Alt") + ">";
        case xmp_form::seq:
            return "<" + pname(rdf, "Seq") + "><" + pname(rdf, "li") + ">" + escaped(t.value) + "</" +
                   pname(rdf, "li") + "></" + pname(rdf, "Seq") + ">";
        case xmp_form::bag: {
            std::string s = "<" + pname(rdf, "Bag") + ">";
            size_t i = 0;
            while (i <= t.value.size()) {
                size_t j = t.value.find(',', i);
                if (j == std::string::npos) j = t.value.size();
                size_t a = i, b = j;
                while (a < b && is_space(t.value[a])) ++a;
                while (b > a && is_space(t.value[b - 1])) --b;
                if (b > a) s += "<" + pname(rdf, "li") + ">" + escaped(t.value.substr(a, b - a)) + "</" + pname(rdf, "li") + ">";
                i = j + 1;
            }
            return s + "</" + pname(rdf, "Bag") + ">";
        }
    }
    return {};
}

// The element for t; with `declare`, it carries its namespace declaration.
std::string element_of(const target& t, const std::string& prefix, const std::string& rdf, bool declare) {
    std::string n = pname(prefix, t.local);
    std::string open = "<" + n;
    if (declare) open += " xmlns:" + prefix + "=\"" + escaped(t.uri) + "\"";
    return open + ">" + content_of(t, rdf) + "</" + n + ">";
}

struct splice {
    size_t from, to;
    std::string text;
};

// The padding: the white space run before a closing <?xpacket end ... ?>.
bool find_padding(std::string_view p, size_t* from, size_t* to) {
    size_t e = p.rfind("<?xpacket end");
    if (e == std::string_view::npos) return false;
    size_t s = e;
    while (s > 0 && is_space(p[s - 1])) --s;
    *from = s;
    *to = e;
    return true;
}

}  // namespace

xmp_form xmp_form_of(std::string_view name) {
    if (name == "dc:title" || name == "dc:description" || name == "dc:rights") return xmp_form::alt;
    if (name == "dc:creator") return xmp_form::seq;
    if (name == "dc:subject") return xmp_form::bag;
    return xmp_form::simple;
}

std::string_view xmp_known_namespace(std::string_view prefix) {
    for (const known_ns& k : KNOWN)
        if (k.prefix == prefix) return k.uri;
    return {};
}

bool xmp_packet_edit(std::string_view packet, const std::vector<xmp_change>& changes, std::string* out,
                     std::string* why) {
    // The targets: the first change of each name.
    std::vector<target> targets;
    std::unordered_map<std::string, bool> seen;
    for (const xmp_change& c : changes) {
        if (seen[c.name]) continue;
        seen[c.name] = true;
        size_t colon = c.name.find(':');
        target t;
        t.prefix = c.name.substr(0, colon);
        t.local = c.name.substr(colon + 1);
        t.value = c.value;
        targets.push_back(std::move(t));
    }

    parse_state s;
    std::unique_ptr<std::remove_pointer_t<XML_Parser>, void (*)(XML_Parser)> parser(XML_ParserCreateNS("UTF-8", SEP),
                                                                                    XML_ParserFree);
    if (!parser) throw std::bad_alloc();
    s.parser = parser.get();
    s.text = packet;
    XML_SetReturnNSTriplet(s.parser, 1);
    XML_SetUserData(s.parser, &s);
    XML_SetElementHandler(s.parser, on_start, on_end);
    XML_SetNamespaceDeclHandler(s.parser, on_ns_start, on_ns_end);
    XML_SetStartDoctypeDeclHandler(s.parser, on_doctype);

    // A namespace for each target: the well-known one of its prefix, else
    // the one the packet declares for it (found by a first pass).
    bool need_decls = false;
    for (target& t : targets) {
        t.uri = std::string(xmp_known_namespace(t.prefix));
        if (t.uri.empty()) need_decls = true;
    }
    if (need_decls) {
        const std::string needle_base = "xmlns:";
        for (target& t : targets) {
            if (!t.uri.empty()) continue;
            std::string needle = needle_base + t.prefix + "=";
            size_t p = packet.find(needle);
            if (p != std::string_view::npos) {
                size_t q = p + needle.size();
                if (q < packet.size() && (packet[q] == '"' || packet[q] == '\'')) {
                    size_t e = packet.find(packet[q], q + 1);
                    if (e != std::string_view::npos) t.uri = std::string(packet.substr(q + 1, e - q - 1));
                }
            }
            if (t.uri.empty()) {
                *why = "the XMP packet declares no namespace for the prefix " + t.prefix;
                return false;
            }
        }
    }
    for (const target& t : targets) s.wanted.push_back(&t);

    if (packet.size() > static_cast<size_t>(INT32_MAX)) {
        *why = "the XMP packet is too large to edit";
        return false;
    }
    if (XML_Parse(s.parser, packet.data(), static_cast<int>(packet.size()), XML_TRUE) != XML_STATUS_OK || s.refused) {
        if (!s.refused) {
            s.why = std::string("the XMP packet is not well-formed XML (") +
                    XML_ErrorString(XML_GetErrorCode(s.parser)) + " at byte " +
                    std::to_string(XML_GetCurrentByteIndex(s.parser)) + ")";
        }
        *why = s.why;
        return false;
    }
    int rdf_root = -1;
    for (size_t i = 0; i < s.els.size(); ++i)
        if (s.els[i].uri == RDF_NS && s.els[i].local == "RDF") {
            rdf_root = static_cast<int>(i);
            break;
        }
    if (rdf_root < 0) {
        *why = "the XMP packet has no rdf:RDF element";
        return false;
    }
    std::unordered_map<int, size_t> desc_of;  // element index -> descriptions index
    for (size_t k = 0; k < s.descriptions.size(); ++k) desc_of[s.descriptions[k].el] = k;

    // Occurrences of the targets in packet order, found in one pass:
    // elements directly under a description, and attributes of descriptions.
    struct occurrence {
        size_t at;
        int el;       // a property element, or -1
        size_t desc;  // its description
        const attribute* attr;
    };
    // A property matches by namespace, or by its prefix as written (which
    // is how the flat readers name it, whatever namespace the prefix has).
    std::unordered_map<std::string, size_t> by_key, by_name;  // namespace SEP local / prefix:local -> target
    for (size_t ti = 0; ti < targets.size(); ++ti) {
        by_key.emplace(targets[ti].uri + SEP + targets[ti].local, ti);
        by_name.emplace(targets[ti].prefix + ":" + targets[ti].local, ti);
    }
    auto match = [&](const std::string& uri, const std::string& local, const std::string& qname) {
        auto t = by_key.find(uri + SEP + local);
        if (t != by_key.end()) return t->second;
        auto n = by_name.find(qname);
        return n != by_name.end() ? n->second : targets.size();
    };
    std::vector<std::vector<occurrence>> occ(targets.size());
    for (size_t i = 0; i < s.els.size(); ++i) {
        const element& e = s.els[i];
        if (e.parent < 0) continue;
        auto d = desc_of.find(e.parent);
        if (d == desc_of.end()) continue;
        size_t t = match(e.uri, e.local, e.prefix + ":" + e.local);
        if (t < targets.size()) occ[t].push_back({e.start, static_cast<int>(i), d->second, nullptr});
    }
    for (size_t k = 0; k < s.descriptions.size(); ++k)
        for (const auto& [a, uri] : s.descriptions[k].attrs) {
            size_t t = match(uri, a.qname.substr(a.qname.find(':') + 1), a.qname);
            if (t < targets.size()) occ[t].push_back({a.lead, -1, k, &a});
        }

    std::vector<splice> edits;
    std::vector<std::string> inserts(s.descriptions.size());  // elements added to each description
    std::string fresh;                                         // elements for a new description
    for (size_t ti = 0; ti < targets.size(); ++ti) {
        const target& t = targets[ti];
        auto& list = occ[ti];
        std::sort(list.begin(), list.end(), [](const occurrence& a, const occurrence& b) { return a.at < b.at; });
        auto add_to = [&](size_t k) {
            const auto& d = s.descriptions[k];
            const std::string& pre = d.prefix_for[ti];
            const bool declare = pre == "\x01";
            inserts[k] += element_of(t, declare ? t.prefix : pre, s.els[d.el].prefix, declare);
        };
        bool done = false;  // the first occurrence has been replaced
        for (const occurrence& o : list) {
            if (t.value.empty() || done) {
                if (o.el >= 0)
                    edits.push_back({s.els[o.el].start, s.els[o.el].end, ""});
                else
                    edits.push_back({o.attr->lead, o.attr->value_end + 1, ""});
                continue;
            }
            done = true;
            const element& de = s.els[s.descriptions[o.desc].el];
            if (o.el >= 0) {
                const element& e = s.els[o.el];
                edits.push_back({e.start, e.end, element_of(t, e.prefix, de.prefix, false)});
            } else if (xmp_form_of(t.prefix + ":" + t.local) == xmp_form::simple) {
                edits.push_back({o.attr->value_start, o.attr->value_end, escaped(t.value)});
            } else {
                edits.push_back({o.attr->lead, o.attr->value_end + 1, ""});
                add_to(o.desc);
            }
        }
        if (done || t.value.empty()) continue;
        // Added: to the first description where the namespace has a prefix,
        // else the first description, else a new one.
        size_t pick = s.descriptions.size();
        for (size_t k = 0; k < s.descriptions.size() && pick == s.descriptions.size(); ++k)
            if (s.descriptions[k].prefix_for[ti] != "\x01") pick = k;
        if (pick == s.descriptions.size() && !s.descriptions.empty()) pick = 0;
        if (pick < s.descriptions.size())
            add_to(pick);
        else
            fresh += element_of(t, t.prefix, "rdf", true);
    }
    // The additions go before the end tag, or turn an empty-element tag
    // ("<rdf:Description .../>") into a start and an end tag.
    auto insert_into = [&](const element& e, const std::string& local, const std::string& text) {
        if (e.end == e.stag_end)
            edits.push_back({e.stag_end - 2, e.stag_end, ">" + text + "</" + pname(e.prefix, local) + ">"});
        else
            edits.push_back({e.etag_start, e.etag_start, text});
    };
    for (size_t k = 0; k < s.descriptions.size(); ++k)
        if (!inserts[k].empty()) insert_into(s.els[s.descriptions[k].el], "Description", inserts[k]);
    if (!fresh.empty())
        insert_into(s.els[rdf_root], "RDF",
                    "<rdf:Description xmlns:rdf=\"" + std::string(RDF_NS) + "\" rdf:about=\"\">" + fresh +
                        "</rdf:Description>");

    // Insertions at one place keep the order of the changes; a removal and
    // an insertion at one place never overlap (spans are disjoint).
    std::stable_sort(edits.begin(), edits.end(), [](const splice& a, const splice& b) { return a.from < b.from; });
    long long delta = 0;
    for (const splice& e : edits) delta += static_cast<long long>(e.text.size()) - static_cast<long long>(e.to - e.from);
    size_t pad_from = 0, pad_to = 0;
    bool padded = find_padding(packet, &pad_from, &pad_to) && pad_to > pad_from &&
                  (edits.empty() || pad_from >= edits.back().to);
    std::string r;
    r.reserve(packet.size() + static_cast<size_t>(std::max(0LL, delta)));
    size_t at = 0;
    for (const splice& e : edits) {
        if (e.from < at) continue;  // overlapping duplicate: already covered
        r.append(packet.substr(at, e.from - at));
        r += e.text;
        at = e.to;
    }
    if (padded && delta != 0) {
        r.append(packet.substr(at, pad_from - at));
        size_t pad = pad_to - pad_from;
        // The run shrinks or grows in its middle: its first byte and its
        // last (the line end before the instruction) stay.
        long long want = static_cast<long long>(pad) - delta;
        if (want < 1) want = std::min<long long>(1, static_cast<long long>(pad));
        std::string_view run = packet.substr(pad_from, pad);
        if (static_cast<size_t>(want) <= pad) {
            r.append(run.substr(0, static_cast<size_t>(want) - 1));
            r += run.back();
        } else {
            r.append(run.substr(0, pad - 1));
            r.append(static_cast<size_t>(want) - pad, ' ');
            r += run.back();
        }
        at = pad_to;
    }
    r.append(packet.substr(at));
    *out = std::move(r);
    return true;
}

bool xmp_packet_new(const std::vector<xmp_change>& changes, std::string* out, std::string* why) {
    std::string body;
    std::unordered_map<std::string, bool> seen;
    std::vector<std::string> decls;
    std::unordered_map<std::string, bool> declared;
    for (const xmp_change& c : changes) {
        if (c.value.empty() || seen[c.name]) continue;
        seen[c.name] = true;
        target t;
        size_t colon = c.name.find(':');
        t.prefix = c.name.substr(0, colon);
        t.local = c.name.substr(colon + 1);
        t.value = c.value;
        t.uri = std::string(xmp_known_namespace(t.prefix));
        if (t.uri.empty()) {
            *why = "no namespace is known for the prefix " + t.prefix;
            return false;
        }
        if (!declared[t.prefix]) {
            declared[t.prefix] = true;
            decls.push_back(" xmlns:" + t.prefix + "=\"" + escaped(t.uri) + "\"");
        }
        body += element_of(t, t.prefix, "rdf", false);
    }
    std::string p = "<?xpacket begin=\"\xEF\xBB\xBF\" id=\"W5M0MpCehiHzreSzNTczkc9d\"?>\n"
                    "<x:xmpmeta xmlns:x=\"adobe:ns:meta/\">\n"
                    "<rdf:RDF xmlns:rdf=\"http://www.w3.org/1999/02/22-rdf-syntax-ns#\">\n"
                    "<rdf:Description rdf:about=\"\"";
    for (const std::string& d : decls) p += d;
    p += ">" + body + "</rdf:Description>\n</rdf:RDF>\n</x:xmpmeta>\n";
    p.append(2048, ' ');
    p += "\n<?xpacket end=\"w\"?>";
    *out = std::move(p);
    return true;
}
