// Expansion of compressed object streams into rows of the object table.
//
// Which rows a stream yields depends on its decoded text (the offsets, the
// decoded length, whether decoding succeeds under the capacity rules), so
// every Flate stream is decoded once while loading, into a reused scratch
// buffer. Its rows and decoded length are kept, and its text too while the
// texts kept stay within a budget (OBJSTM_KEEP_DEFAULT); beyond it a text is
// decoded again, into a block of exactly that length, when a row of the
// stream is first read (doc_row_text), so memory stays bounded however much
// the streams inflate. Stored (unfiltered) streams need no
// decoding: their rows point into the file bytes at once.
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "load/history.h"
#include "load/load_steps.h"
#include "syntax/inflate.h"

namespace {

constexpr pos MAX_STORED_LEN = 268435456;   // stored stream data above this is not read
constexpr uint64_t MAX_RETRY_CAP = 268435455;   // a failed attempt up to this capacity is retried at 4x
constexpr uint64_t DECODER_MAX_CAP = 1073741824;  // inflate_decompress refuses larger capacities
constexpr uint64_t SMALL_STREAM_CAP = 4194304;    // streams whose second capacity is at most this use the scratch
constexpr int32_t MAX_OBJECTS = 100000;
constexpr pos MAX_OBJECT_LEN = 1048576;

struct decoded {
    const uint8_t* data = nullptr;
    pos len = 0;
};

// A new arena block of `cap` bytes; no memory for it fails the load.
uint8_t* block_alloc(pdf_doc* doc, uint64_t cap) {
    uint8_t* block = doc->arena.alloc(cap);
    if (!block) throw std::bad_alloc();
    return block;
}

// One decode attempt into a new arena block of `cap` bytes. A failed
// attempt's block is released at once.
bool decode_attempt(pdf_doc* doc, const uint8_t* src, uint64_t n, uint64_t cap, decoded* out) {
    uint8_t* block = block_alloc(doc, cap);
    uint64_t m = 0;
    if (inflate_decompress(src, n, block, cap, &m) != 0) {
        doc->arena.drop_last();
        return false;
    }
    *out = {block, static_cast<pos>(m)};
    return true;
}

// A reusable buffer for decoding small streams, grown as needed.
struct small_scratch {
    std::unique_ptr<uint8_t, free_deleter> buf;
    uint64_t cap = 0;

    uint8_t* get(uint64_t n) noexcept {
        if (n > cap) {
            buf.reset(static_cast<uint8_t*>(std::malloc(n)));
            cap = buf ? n : 0;
        }
        return buf.get();
    }
};

// Flate data: first capacity 8n + 64, then 4x after each failure while the
// failed capacity was at most MAX_RETRY_CAP. A failure with capacity c means
// the stream needs more than c bytes (or can never be decoded).
// A small stream is decoded once into the scratch with the second capacity
// (object streams often compress better than 8:1) and copied into a block of
// the first capacity that holds it. Otherwise, after a failure the decoded
// length is measured without storing the output, and only the first
// capacity of the sequence that holds it is allocated. Either way the
// outcome and the arena's blocks are those of trying each capacity in turn,
// without decoding the stream again and again.
bool decode_flate(pdf_doc* doc, const uint8_t* src, uint64_t n, small_scratch* scratch, decoded* out) {
    const uint64_t first = 8 * n + 64;
    if (first > DECODER_MAX_CAP) return false;  // refused by the decoder, and too large to retry
    uint64_t failed = 0;                        // a capacity known to be too small
    if (4 * first <= SMALL_STREAM_CAP) {
        if (uint8_t* tmp = scratch->get(4 * first)) {
            uint64_t m = 0;
            if (inflate_decompress(src, n, tmp, 4 * first, &m) == 0) {
                uint8_t* block = block_alloc(doc, m <= first ? first : 4 * first);
                std::memcpy(block, tmp, static_cast<size_t>(m));
                *out = {block, static_cast<pos>(m)};
                return true;
            }
            failed = 4 * first;
        }
    }
    if (!failed) {
        if (decode_attempt(doc, src, n, first, out)) return true;
        if (first > MAX_RETRY_CAP) return false;
        failed = first;
    }

    uint64_t last = first;
    while (last <= MAX_RETRY_CAP) last *= 4;
    std::unique_ptr<uint8_t, free_deleter> window(static_cast<uint8_t*>(std::malloc(INFLATE_MEASURE_SCRATCH)));
    if (!window) throw std::bad_alloc();
    uint64_t need = 0;
    if (inflate_measure(src, n, last, window.get(), &need) != 0) return false;
    window.reset();
    uint64_t cap = failed * 4;
    while (cap < need) cap *= 4;  // need <= last, so this stops at last at the latest
    return decode_attempt(doc, src, n, cap, out);
}

// Stored data is used where it lies in the file: the file bytes live as long
// as the document, like the arena.
bool stored_data(const pdf_doc* doc, const obj_entry& e, decoded* out) {
    *out = {doc->data + e.data_start, e.data_end - e.data_start};
    return true;
}

// The first integer of at least `min` that follows a key /name in d, or -1.
int32_t key_int(const dict_view& d, const char* name, int32_t min) {
    const pos name_len = static_cast<pos>(std::strlen(name));
    for (pos p = d.key(name); p >= 0; p = name_find(d.text, p + 1, d.end, name)) {
        pos q = ws_skip(d.text, p + 1 + name_len, d.end);
        int32_t v = int_read(d.text, &q, d.end);
        if (v >= min) return v;
    }
    return -1;
}

// Appends a row for every usable object of the decoded stream d, the
// stream of row e; returns the number of rows added. With stream >= 0 the
// rows name that lazy stream and their start in it instead of pointing into
// d. A stream that yields rows is recorded in doc->containers.
// The header of decoded stream d: `count` pairs of object number and
// offset. False when a pair does not read.
bool read_header(const decoded& d, int32_t count, std::vector<int32_t>* nums, std::vector<int32_t>* offs) {
    nums->resize(static_cast<size_t>(count));
    offs->resize(static_cast<size_t>(count));
    pos p = 0;
    for (int32_t i = 0; i < count; ++i) {
        (*nums)[i] = int_read_signed(d.data, &p, d.len);
        if ((*nums)[i] < 0) return false;
        (*offs)[i] = int_read_signed(d.data, &p, d.len);
        if ((*offs)[i] < 0) return false;
    }
    return true;
}

// Where member i of the header lies in d: false when it is no usable object
// (number 0, empty, too long, or beyond the text).
bool member_span(const decoded& d, const std::vector<int32_t>& nums, const std::vector<int32_t>& offs, int32_t first,
                 int32_t i, pos* start, pos* len) {
    const auto count = static_cast<int32_t>(nums.size());
    *start = static_cast<pos>(first) + offs[i];
    *len = i + 1 < count ? static_cast<pos>(offs[i + 1]) - offs[i] : d.len - *start;
    return nums[i] > 0 && *len >= 1 && *len <= MAX_OBJECT_LEN && *start + *len <= d.len;
}

int32_t add_rows(pdf_doc* doc, const obj_entry& e, const decoded& d, int32_t count, int32_t first,
                 int32_t stream = -1) {
    std::vector<int32_t> nums, offs;
    if (!read_header(d, count, &nums, &offs)) return 0;
    const auto container = static_cast<int32_t>(doc->containers.size());
    int32_t added = 0;
    for (int32_t i = 0; i < count; ++i) {
        pos start, obj_len;
        if (!member_span(d, nums, offs, first, i, &start, &obj_len)) continue;
        obj_entry row;
        row.num = nums[i];
        row.gen = 0;
        row.in_objstm = 1;
        if (stream < 0) {
            row.objstm_text = d.data + start;
        } else {
            row.objstm_stream = stream;
            row.objstm_off = static_cast<int32_t>(start);
        }
        row.objstm_len = obj_len;
        row.objstm_container = container;
        row.objstm_index = i;
        doc->objs.push_back(row);
        ++added;
    }
    if (added > 0) {
        doc->containers.push_back({e, doc->container_members.size(), count});
        doc->container_members.insert(doc->container_members.end(), nums.begin(), nums.end());
    }
    return added;
}

// The dictionary of row e when it is an object stream with usable stored
// data, and its /N (1 to MAX_OBJECTS); false otherwise.
bool objstm_header(const pdf_doc& doc, const obj_entry& e, dict_view* dict, int32_t* count) {
    if (e.in_objstm || e.has_stream != 1 || e.dict_pos < 0) return false;
    *dict = {doc.data, e.dict_pos, e.stream_kw > 0 ? e.stream_kw : doc.len};
    if (dict->key("ObjStm") < 0) return false;
    const pos n = e.data_end - e.data_start;
    if (n < 0 || n > MAX_STORED_LEN || e.data_start < 0 || e.data_end > doc.len) return false;
    // /N and /First are read before decoding so that a stream skipped for
    // them is not decoded at all; only First <= m needs the decoded length.
    *count = key_int(*dict, "N", 1);
    return *count >= 0 && *count <= MAX_OBJECTS;
}

// Expands the object stream of row e, when it is one.
void expand_one(pdf_doc* doc, const obj_entry& e, small_scratch* scratch) {
    dict_view dict;
    int32_t count;
    if (!objstm_header(*doc, e, &dict, &count)) return;
    const uint8_t* data = doc->data;
    const pos n = e.data_end - e.data_start;
    const int32_t first = key_int(dict, "First", 0);
    if (first < 0) return;

    decoded d;
    const bool flate = dict.key("FlateDecode") >= 0;
    const uint8_t* src = data + e.data_start;
    if (!(flate ? decode_flate(doc, src, static_cast<uint64_t>(n), scratch, &d) : stored_data(doc, e, &d))) return;
    // A decoded block that ends up holding no row is released as well.
    if ((first > d.len || add_rows(doc, e, d, count, first) == 0) && flate) doc->arena.drop_last();
}

// What decode_flate gives, without keeping a block: false when it fails, else
// true with *out the decoded bytes, held by the scratch or by *big. A small
// stream is decoded into the scratch with decode_flate's second capacity; any
// other is measured against the largest capacity decode_flate would try (a
// failure at capacity c means the stream needs more than c bytes, so success
// at some capacity of the sequence is success at its last) and then decoded
// into a block of its exact length.
bool flate_outcome(const uint8_t* src, uint64_t n, small_scratch* scratch, std::unique_ptr<uint8_t, free_deleter>* big,
                   decoded* out) {
    const uint64_t first = 8 * n + 64;
    if (first > DECODER_MAX_CAP) return false;
    if (4 * first <= SMALL_STREAM_CAP) {
        if (uint8_t* tmp = scratch->get(4 * first)) {
            uint64_t m = 0;
            if (inflate_decompress(src, n, tmp, 4 * first, &m) == 0) {
                *out = {tmp, static_cast<pos>(m)};
                return true;
            }
        }
    }
    uint64_t last = first;
    if (first <= MAX_RETRY_CAP)
        while (last <= MAX_RETRY_CAP) last *= 4;
    std::unique_ptr<uint8_t, free_deleter> window(static_cast<uint8_t*>(std::malloc(INFLATE_MEASURE_SCRATCH)));
    if (!window) throw std::bad_alloc();
    uint64_t need = 0;
    if (inflate_measure(src, n, last, window.get(), &need) != 0) return false;
    window.reset();
    big->reset(static_cast<uint8_t*>(std::malloc(need ? static_cast<size_t>(need) : 1)));
    if (!*big) throw std::bad_alloc();
    uint64_t m = 0;
    if (inflate_decompress(src, n, big->get(), need, &m) != 0 || m != need) return false;
    *out = {big->get(), static_cast<pos>(m)};
    return true;
}

thread_local bool t_full_expansion = false;
thread_local uint64_t t_keep_budget = OBJSTM_KEEP_DEFAULT;

// Learns the rows of the object stream of row e, when it is one, leaving a
// Flate stream's text to be decoded on first use once the texts kept while
// loading reach the budget.
void expand_lazy(pdf_doc* doc, const obj_entry& e, small_scratch* scratch) {
    dict_view dict;
    int32_t count;
    if (!objstm_header(*doc, e, &dict, &count)) return;
    const pos n = e.data_end - e.data_start;
    const int32_t first = key_int(dict, "First", 0);
    if (first < 0) return;
    decoded d;
    if (dict.key("FlateDecode") < 0) {
        stored_data(doc, e, &d);
        if (first <= d.len) add_rows(doc, e, d, count, first);
        return;
    }
    std::unique_ptr<uint8_t, free_deleter> big;
    const uint8_t* src = doc->data + e.data_start;
    if (!flate_outcome(src, static_cast<uint64_t>(n), scratch, &big, &d) || first > d.len) return;
    const auto stream = static_cast<int32_t>(doc->lazy.streams.size());
    if (add_rows(doc, e, d, count, first, stream) == 0) return;
    lazy_stream ls{src, static_cast<uint64_t>(n), static_cast<uint64_t>(d.len), nullptr};
    // Within the budget the text just decoded is kept, so that reading every
    // object (as some reports do) does not decode the stream twice.
    const uint64_t len = static_cast<uint64_t>(d.len);
    if (len <= t_keep_budget && doc->lazy.kept <= t_keep_budget - len) {
        if (uint8_t* block = doc->lazy.blocks.alloc(len ? len : 1)) {
            std::memcpy(block, d.data, static_cast<size_t>(len));
            ls.text = block;
            doc->lazy.kept += len;
        }
    }
    doc->lazy.streams.push_back(ls);
}

}  // namespace

bool objstm_member_texts(const pdf_doc& doc, const objstm_container& c, std::string* text,
                         std::vector<objstm_member>* members) {
    dict_view dict;
    int32_t count;
    if (!objstm_header(doc, c.row, &dict, &count)) return false;
    const int32_t first = key_int(dict, "First", 0);
    if (first < 0) return false;
    decoded d;
    small_scratch scratch;
    std::unique_ptr<uint8_t, free_deleter> big;
    const uint8_t* src = doc.data + c.row.data_start;
    const auto n = static_cast<uint64_t>(c.row.data_end - c.row.data_start);
    if (!(dict.key("FlateDecode") >= 0 ? flate_outcome(src, n, &scratch, &big, &d) : stored_data(&doc, c.row, &d)))
        return false;
    std::vector<int32_t> nums, offs;
    if (first > d.len || !read_header(d, count, &nums, &offs)) return false;
    text->assign(reinterpret_cast<const char*>(d.data), static_cast<size_t>(d.len));
    members->clear();
    for (int32_t i = 0; i < count; ++i) {
        pos start, len;
        if (member_span(d, nums, offs, first, i, &start, &len)) members->push_back({nums[i], i, start, len});
    }
    return true;
}

void objstm_full_expansion(bool on) { t_full_expansion = on; }
void objstm_keep_budget(uint64_t bytes) { t_keep_budget = bytes; }

const uint8_t* doc_row_text(const pdf_doc& doc, const obj_entry& e) {
    if (!e.in_objstm) return nullptr;
    if (e.objstm_text || e.objstm_stream < 0) return e.objstm_text;
    lazy_stream& s = doc.lazy.streams[static_cast<size_t>(e.objstm_stream)];
    if (!s.text) {
        uint8_t* block = doc.lazy.blocks.alloc(s.out_len ? s.out_len : 1);
        if (!block) throw std::bad_alloc();
        uint64_t m = 0;
        // The length was learnt from this very data; a second decode gives it again.
        if (inflate_decompress(s.src, s.src_len, block, s.out_len, &m) != 0 || m != s.out_len) {
            doc.lazy.blocks.drop_last();
            return nullptr;
        }
        s.text = block;
    }
    return s.text + e.objstm_off;
}

void doc_expand_row(const pdf_doc& doc, const obj_entry& e) {
    if (e.objstm_stream >= 0 && !e.objstm_text) const_cast<obj_entry&>(e).objstm_text = doc_row_text(doc, e);
}

void doc_expand_all(const pdf_doc& doc) {
    for (const obj_entry& e : doc.objs) doc_expand_row(doc, e);
}

void objstm_expand(pdf_doc* doc) {
    if (!doc || !doc->data) return;
    // Rows appended here come from object streams and need no visit.
    const size_t rows = doc->objs.size();
    // Room for every row the streams announce, so that the table is not
    // moved (and its pages touched anew) while they are appended. Only
    // address space until rows are written; without it the table grows.
    size_t announced = 0;
    for (size_t k = 0; k < rows; ++k) {
        dict_view dict;
        int32_t count;
        if (objstm_header(*doc, doc->objs[k], &dict, &count)) announced += static_cast<size_t>(count);
    }
    try {
        doc->objs.reserve(rows + announced);
    } catch (const std::bad_alloc&) {
    }
    small_scratch scratch;
    for (size_t k = 0; k < rows; ++k) {
        const obj_entry e = doc->objs[k];  // a copy: appending may move the table
        if (t_full_expansion)
            expand_one(doc, e, &scratch);
        else
            expand_lazy(doc, e, &scratch);
    }
}
