// Traces: every place metadata lives in a file. The revisions are the
// incremental sections, oldest first, each with the Info values its trailer
// named; the items are every Info-like dictionary, every XMP packet, every
// /PieceInfo and the trailer's /ID, each with the revision whose section
// lists it, the object holding or naming it and whether the document still
// reaches it from its last trailer. Older copies of an object that an update
// replaced are read where the sections list them.
#include <algorithm>
#include <new>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

#include "core/options.h"
#include "info/info.h"
#include "load/graph.h"
#include "load/history.h"
#include "report/report_common.h"
#include "report/reports.h"
#include "syntax/text_string.h"
#include "xmp/xmp.h"

namespace {

const char* const KIND_NAMES[] = {"none", "table", "stream"};

// Where the sections list each object number: every entry with its
// revision index, sorted by number and, for one number, oldest first.
struct listing {
    int32_t num;
    size_t rev;
    history_entry e;
};

struct listing_map {
    std::vector<listing> all;

    explicit listing_map(const std::vector<history_section>& hist) {
        for (size_t i = 0; i < hist.size(); ++i)
            for (const history_entry& e : hist[i].entries) all.push_back({e.num, i, e});
        std::stable_sort(all.begin(), all.end(), [](const listing& a, const listing& b) { return a.num < b.num; });
    }
    // The listings of num, oldest first.
    std::pair<const listing*, const listing*> of(int32_t num) const {
        auto lo = std::lower_bound(all.begin(), all.end(), num, [](const listing& l, int32_t n) { return l.num < n; });
        auto hi = lo;
        while (hi != all.end() && hi->num == num) ++hi;
        return {all.data() + (lo - all.begin()), all.data() + (hi - all.begin())};
    }
};

pdf_val trailer_of(const pdf_doc& doc, const history_section& s) {
    if (s.trailer_start < 0) return {};
    return pdf_val{doc.data, s.trailer_start, s.trailer_end};
}

// The number of the object the container row of an object-stream member is.
int32_t container_num(const pdf_doc& doc, const obj_entry& e) {
    if (!e.in_objstm || e.objstm_container < 0 || static_cast<size_t>(e.objstm_container) >= doc.containers.size())
        return -1;
    return doc.containers[static_cast<size_t>(e.objstm_container)].row.num;
}

// Byte offset of an object's header, or of its object stream's header.
pos header_offset(const pdf_doc& doc, const obj_entry& e) {
    if (!e.in_objstm) return e.obj_pos;
    if (e.objstm_container < 0 || static_cast<size_t>(e.objstm_container) >= doc.containers.size()) return -1;
    return doc.containers[static_cast<size_t>(e.objstm_container)].row.obj_pos;
}

// Object num as revision `rev` has it: the newest listing at or before rev
// read where it points (an older object-stream copy among stream_copies);
// the loaded row when no section lists it. False when the listed copy
// cannot be read.
bool row_as_of(const pdf_doc& doc, const listing_map& lists, const std::vector<obj_entry>& stream_copies, int32_t num,
               size_t rev, obj_entry* out) {
    const obj_entry* cur = doc_find(doc, num);
    const history_entry* pick = nullptr;
    for (auto [l, end] = lists.of(num); l != end; ++l)
        if (l->rev <= rev) pick = &l->e;
    if (!pick) {
        if (!cur) return false;
        *out = *cur;
        return true;
    }
    if (pick->in_stream) {
        const auto where = static_cast<int32_t>(pick->where);
        if (cur && container_num(doc, *cur) == where) {
            *out = *cur;
            return true;
        }
        for (const obj_entry& c : stream_copies) {
            if (c.num == num && container_num(doc, c) == where) {
                *out = c;
                return true;
            }
        }
        return false;
    }
    if (cur && !cur->in_objstm && cur->obj_pos == static_cast<pos>(pick->where)) {
        *out = *cur;
        return true;
    }
    return doc_row_at(doc, static_cast<pos>(pick->where), num, out);
}

void fields_json(strbuf& b, const info_fields& f) {
    buf_str(&b, "{");
    for (int i = 0; i < INFO_FIELD_COUNT; ++i) {
        buf_str(&b, i ? ",\"" : "\"");
        buf_str(&b, KEYS[i]);
        buf_str(&b, "\":");
        json_str_append_n(&b, f[i].data(), f[i].size());
    }
    buf_str(&b, "}");
}

// --- Reachability -------------------------------------------------------------

// Object numbers reached from the last trailer's /Root and /Info, each
// object's text (a stream's dictionary only) read once.
std::vector<bool> reached_set(const pdf_doc& doc) {
    std::vector<bool> seen(static_cast<size_t>(std::max(doc.max_obj, 0)) + 1, false);
    std::vector<int32_t> todo;
    auto push = [&](int32_t n) {
        if (n <= 0 || n > doc.max_obj || seen[static_cast<size_t>(n)]) return;
        seen[static_cast<size_t>(n)] = true;
        todo.push_back(n);
    };
    push(doc.trailer_root >= 0 ? doc.trailer_root : doc.root);
    push(doc.trailer_info);
    while (!todo.empty()) {
        int32_t n = todo.back();
        todo.pop_back();
        const obj_entry* e = doc_find(doc, n);
        if (!e) continue;
        if (e->in_objstm) {
            const uint8_t* t = doc_row_text(doc, *e);
            if (t) refs_each(t, 0, e->objstm_len, push);
        } else if (e->has_stream) {
            dict_view r = doc_dict_span(doc, *e);
            if (r.text) refs_each(r.text, r.start, r.end, push);
        } else {
            obj_body body = doc_obj_body(doc, *e);
            refs_each(doc.data, body.start, body.end, push);
        }
    }
    return seen;
}

// --- Items --------------------------------------------------------------------

// The top-level entries of a dictionary that decide what it is.
struct dict_facts {
    pdf_val piece_info;
    std::string type_name, subtype_name;
};

dict_facts facts_of(pdf_val d) {
    dict_facts f;
    dict_each(d, [&](std::string_view k, pdf_val v) {
        if (k == "Type") {
            f.type_name = val_name(v);
        } else if (k == "Subtype") {
            f.subtype_name = val_name(v);
        } else if (k == "PieceInfo") {
            f.piece_info = v;
        }
        return true;
    });
    return f;
}

struct item {
    int kind = 0;  // 0 info, 1 xmp, 2 piece_info, 3 id
    int32_t object = 0;
    size_t revision = 0;
    bool reachable = false;
    std::string owner;
    pos offset = 0;
    uint64_t values_at = 0, values_len = 0;  // the values' JSON in traces::values
};

const char* const ITEM_KINDS[] = {"info", "xmp", "piece_info", "id"};

struct traces {
    const pdf_doc& doc;
    const std::vector<history_section>& hist;
    const listing_map& lists;
    bool unicode = option_on(OPT_UNICODE);
    std::vector<pos> rev_offsets;  // section offsets sorted, with their revision
    std::vector<size_t> rev_of_offset;
    std::unordered_set<int32_t> trailer_infos;
    std::unordered_map<int32_t, int32_t> metadata_holder;  // metadata stream -> object naming it
    std::vector<bool> reached;
    page_index pages;
    std::vector<item> items;
    strbuf values = strbuf_start();  // every item's values, one after another
    // Copies held by object streams that the document replaced since, their
    // texts in stream_texts (one decoded stream each).
    std::vector<obj_entry> stream_copies;
    std::vector<std::string> stream_texts;

    traces(const pdf_doc& d, const std::vector<history_section>& h, const listing_map& l)
        : doc(d), hist(h), lists(l), pages(d) {
        std::vector<std::pair<pos, size_t>> v;
        for (size_t i = 0; i < hist.size(); ++i) v.emplace_back(hist[i].offset, i);
        std::sort(v.begin(), v.end());
        for (auto& [o, i] : v) rev_offsets.push_back(o), rev_of_offset.push_back(i);
        for (const history_section& s : hist) {
            int32_t n = val_ref(dict_get_raw(trailer_of(doc, s), "Info"));
            if (n > 0) trailer_infos.insert(n);
        }
        if (doc.trailer_info > 0) trailer_infos.insert(doc.trailer_info);
    }

    // The revision whose section lists the object at this place, else the
    // one whose section follows the place in the file. 1-based; 0 without
    // sections.
    size_t revision_of(const obj_entry& e) const {
        if (hist.empty()) return 0;
        const int32_t cn = container_num(doc, e);
        for (auto [l, end] = lists.of(e.num); l != end; ++l) {
            const history_entry& x = l->e;
            if (x.in_stream ? e.in_objstm && static_cast<int32_t>(x.where) == cn
                            : !e.in_objstm && static_cast<pos>(x.where) == e.obj_pos)
                return l->rev + 1;
        }
        pos at = header_offset(doc, e);
        auto up = std::upper_bound(rev_offsets.begin(), rev_offsets.end(), at);
        size_t k = up == rev_offsets.end() ? rev_offsets.size() - 1 : static_cast<size_t>(up - rev_offsets.begin());
        return rev_of_offset[k] + 1;
    }

    std::string role(int32_t num) const {
        if (num == doc.root) return "catalog";
        if (int32_t p = pages.of(num)) return "page " + std::to_string(p);
        return "object " + std::to_string(num);
    }

    bool is_reached(const obj_entry& e, bool current) const {
        return current && e.num > 0 && static_cast<size_t>(e.num) < reached.size() && reached[static_cast<size_t>(e.num)];
    }

    // A new item; its values are what is appended to `values` until done().
    item& add(int kind, const obj_entry& e, bool current, std::string owner) {
        item& it = items.emplace_back();
        it.kind = kind;
        it.object = e.num;
        it.revision = revision_of(e);
        it.reachable = is_reached(e, current);
        it.owner = std::move(owner);
        it.offset = header_offset(doc, e);
        it.values_at = values.len;
        return it;
    }
    void done(item& it) { it.values_len = values.len - it.values_at; }

    std::string text(std::string s) const { return unicode ? utf8_sanitize(s) : s; }

    // Names of the private data a /PieceInfo holds, each with its
    // /LastModified as written ("" without one).
    void piece_values(strbuf& b, pdf_val pi) const {
        pdf_val d = graph_resolve(doc, pi);
        buf_str(&b, "{");
        bool first = true;
        dict_each(d, [&](std::string_view k, pdf_val v) {
            std::string when;
            pdf_val lm = dict_get(doc, graph_resolve(doc, v), "LastModified");
            if (lm.is_string()) val_string(lm, &when);
            std::string key = text(std::string(k)), val = text(when);
            if (!first) buf_str(&b, ",");
            first = false;
            json_str_append_n(&b, key.data(), key.size());
            buf_str(&b, ":");
            json_str_append_n(&b, val.data(), val.size());
            return true;
        });
        buf_str(&b, "}");
    }

    // The Metadata references of one loaded row (pass one).
    void note_holder(const obj_entry& e) {
        dict_view r = doc_dict_span(doc, e);
        if (!r.text) return;
        int32_t m = val_ref(dict_get_raw(pdf_val{r.text, r.start, r.end}, "Metadata"));
        if (m > 0 && m != e.num) metadata_holder.emplace(m, e.num);
    }

    // The items of one row: `current` when it is the document's copy.
    void visit(const obj_entry& e, bool current) {
        dict_view r = doc_dict_span(doc, e);
        if (!r.text) return;
        pdf_val d{r.text, r.start, r.end};
        dict_facts f = facts_of(d);
        if (e.has_stream && f.type_name == "Metadata" && f.subtype_name == "XML") {
            auto h = metadata_holder.find(e.num);
            item& it = add(1, e, current, h == metadata_holder.end() ? "none" : role(h->second));
            propvec pv;
            strbuf props;
            if (xmp_read_stream(doc, e, &pv)) props = xmp_props_json(pv, unicode);
            if (props.failed) throw std::bad_alloc();
            if (props.data) {
                buf_bytes(&values, props.data, props.len);
            } else {
                buf_str(&values, "{}");  // a stream that does not decode
            }
            done(it);
        } else if (!e.has_stream) {
            bool named = trailer_infos.count(e.num) > 0;
            bool looks = dict_info_like(d);
            if (named || looks) {
                item& it = add(0, e, current, named ? "trailer" : "none");
                fields_json(values, info_read_region(r, &doc));
                done(it);
            }
        }
        if (f.piece_info) {
            item& it = add(2, e, current, role(e.num));
            piece_values(values, f.piece_info);
            done(it);
        }
    }

    // One /ID item per revision whose trailer's /ID differs from the one
    // before it.
    void ids() {
        std::string last;
        for (size_t i = 0; i < hist.size(); ++i) {
            pdf_val arr = graph_resolve(doc, dict_get_raw(trailer_of(doc, hist[i]), "ID"));
            std::vector<std::string> hex;
            array_each(arr, [&](pdf_val v) {
                std::string s;
                if (!val_string(graph_resolve(doc, v), &s)) return false;
                static const char DIGITS[] = "0123456789abcdef";
                std::string h;
                for (unsigned char c : s) h += DIGITS[c >> 4], h += DIGITS[c & 15];
                hex.push_back(std::move(h));
                return hex.size() < 3;
            });
            if (hex.size() != 2) continue;
            std::string key = hex[0] + " " + hex[1];
            if (key == last) continue;
            last = key;
            item& it = items.emplace_back();
            it.kind = 3;
            it.object = 0;
            it.revision = i + 1;
            it.reachable = true;
            it.owner = "trailer";
            it.offset = hist[i].trailer_start;
            it.values_at = values.len;
            buf_str(&values, "{\"first\":\"");
            buf_str(&values, hex[0].c_str());
            buf_str(&values, "\",\"second\":\"");
            buf_str(&values, hex[1].c_str());
            buf_str(&values, "\"}");
            done(it);
        }
    }

    // The members of object streams that the document's rows no longer take
    // from there; each such stream decoded once.
    void read_stream_copies() {
        std::vector<size_t> text_of;  // per copy: its stream's text
        for (size_t ci = 0; ci < doc.containers.size(); ++ci) {
            const objstm_container& c = doc.containers[ci];
            auto superseded = [&](int32_t num, int32_t index) {
                const obj_entry* cur = doc_find(doc, num);
                return !cur || !cur->in_objstm || cur->objstm_container != static_cast<int32_t>(ci) ||
                       cur->objstm_index != index;
            };
            bool any = false;
            for (int32_t i = 0; i < c.count && !any; ++i)
                any = superseded(doc.container_members[c.first_member + static_cast<uint64_t>(i)], i);
            if (!any) continue;
            std::string text;
            std::vector<objstm_member> members;
            if (!objstm_member_texts(doc, c, &text, &members)) continue;
            stream_texts.push_back(std::move(text));
            for (const objstm_member& m : members) {
                if (!superseded(m.num, m.index)) continue;
                obj_entry row;
                row.num = m.num;
                row.in_objstm = 1;
                row.objstm_len = m.len;
                row.objstm_container = static_cast<int32_t>(ci);
                row.objstm_index = m.index;
                row.objstm_off = static_cast<int32_t>(m.start);
                stream_copies.push_back(row);
                text_of.push_back(stream_texts.size() - 1);
            }
        }
        // The texts are in place now: point the rows at them.
        for (size_t k = 0; k < stream_copies.size(); ++k) {
            obj_entry& r = stream_copies[k];
            r.objstm_text = reinterpret_cast<const uint8_t*>(stream_texts[text_of[k]].data()) + r.objstm_off;
            r.objstm_off = -1;
        }
    }

    void collect() {
        if (doc.encrypted) return ids();
        reached = reached_set(doc);
        // Copies the sections list that the document replaced since.
        std::vector<obj_entry> old;
        std::unordered_set<pos> done;
        for (const history_section& s : hist) {
            for (const history_entry& x : s.entries) {
                if (x.in_stream || !done.insert(static_cast<pos>(x.where)).second) continue;
                const obj_entry* cur = doc_find(doc, x.num);
                if (cur && !cur->in_objstm && cur->obj_pos == static_cast<pos>(x.where)) continue;
                obj_entry row;
                if (doc_row_at(doc, static_cast<pos>(x.where), x.num, &row)) old.push_back(row);
            }
        }
        read_stream_copies();
        old.insert(old.end(), stream_copies.begin(), stream_copies.end());
        // The document's own holders first: an older copy names a stream
        // only when no current object does.
        for (const obj_entry& e : doc.objs) note_holder(e);
        for (const obj_entry& e : old) note_holder(e);
        for (const obj_entry& e : doc.objs) visit(e, true);
        for (const obj_entry& e : old) visit(e, false);
        std::stable_sort(items.begin(), items.end(), [](const item& a, const item& b) { return a.offset < b.offset; });
        ids();
    }
};

void revisions_json(strbuf& b, const pdf_doc& doc, const std::vector<history_section>& hist,
                    const listing_map& lists, const std::vector<obj_entry>& stream_copies) {
    buf_str(&b, "\"revisions\":[");
    for (size_t i = 0; i < hist.size(); ++i) {
        const history_section& s = hist[i];
        buf_str(&b, i ? ",{\"offset\":" : "{\"offset\":");
        buf_int(&b, s.offset);
        buf_str(&b, ",\"xref\":\"");
        buf_str(&b, KIND_NAMES[static_cast<int>(s.kind)]);
        buf_str(&b, "\",\"info\":");
        int32_t n = val_ref(dict_get_raw(trailer_of(doc, s), "Info"));
        obj_entry row;
        if (!doc.encrypted && n > 0 && row_as_of(doc, lists, stream_copies, n, i, &row)) {
            fields_json(b, info_read_region(doc_dict_span(doc, row), &doc));
        } else {
            buf_str(&b, "null");
        }
        buf_str(&b, "}");
    }
    buf_str(&b, "]");
}

}  // namespace

bool traces_build(const pdf_doc& doc, strbuf& b) {
    const std::vector<history_section> hist = doc_history(doc);
    const listing_map lists(hist);
    traces t(doc, hist, lists);
    t.collect();
    buf_str(&b, "{");
    revisions_json(b, doc, hist, lists, t.stream_copies);
    buf_str(&b, ",\"items\":[");
    bool first = true;
    if (!t.values.data || t.values.failed) {
        b.reset();
        return true;
    }
    for (const item& it : t.items) {
        buf_str(&b, first ? "{\"kind\":\"" : ",{\"kind\":\"");
        first = false;
        buf_str(&b, ITEM_KINDS[it.kind]);
        buf_str(&b, "\",\"object\":");
        buf_int(&b, it.object);
        buf_str(&b, ",\"revision\":");
        buf_int(&b, static_cast<long long>(it.revision));
        buf_str(&b, it.reachable ? ",\"reachable\":true,\"owner\":" : ",\"reachable\":false,\"owner\":");
        json_str_append_n(&b, it.owner.data(), it.owner.size());
        buf_str(&b, ",\"offset\":");
        buf_int(&b, it.offset);
        buf_str(&b, ",\"values\":");
        buf_bytes(&b, t.values.data + it.values_at, it.values_len);
        buf_str(&b, "}");
    }
    buf_str(&b, "]}");
    return true;
}

std::string traces_first_left(const pdf_doc& doc) {
    const std::vector<history_section> hist = doc_history(doc);
    if (hist.size() > 1) return "an earlier revision";
    if (doc.trailer_info > 0) return "the trailer's Info dictionary";
    const listing_map lists(hist);
    traces t(doc, hist, lists);
    t.collect();
    if (!t.values.data || t.values.failed) throw std::bad_alloc();
    static const char* const WHAT[] = {"an Info dictionary", "an XMP packet", "a /PieceInfo"};
    size_t ids = 0;
    for (const item& it : t.items) {
        if (it.kind == 3) {
            if (++ids > 1) return "an earlier /ID";
            continue;
        }
        return std::string(WHAT[it.kind]) + " in object " + std::to_string(it.object);
    }
    return std::string();
}
