// Expansion of compressed object streams into rows of the object table.
#include "load/objstm.h"

#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "load/doc.h"
#include "syntax/inflate.h"
#include "load/load_steps.h"
#include "syntax/lexer.h"

namespace {

constexpr int64_t MAX_STORED_LEN = 268435456;   // stored stream data above this is not read
constexpr uint64_t MAX_RETRY_CAP = 268435455;   // a failed attempt up to this capacity is retried at 4x
constexpr uint64_t DECODER_MAX_CAP = 1073741824;  // inflate_decompress refuses larger capacities
constexpr uint64_t SMALL_STREAM_CAP = 4194304;    // streams whose second capacity is at most this use the scratch
constexpr int32_t MAX_OBJECTS = 100000;
constexpr int32_t MAX_OBJECT_LEN = 1048576;

struct decoded {
    const uint8_t* data = nullptr;
    int32_t len = 0;
};

enum class attempt { decoded, failed, no_memory };

// One decode attempt into a new arena block of `cap` bytes. A failed
// attempt's block is released at once.
attempt decode_attempt(pdf_doc* doc, const uint8_t* src, uint64_t n, uint64_t cap, decoded* out) {
    uint8_t* block = doc->arena.alloc(cap);
    if (!block) return attempt::no_memory;
    uint64_t m = 0;
    if (inflate_decompress(src, n, block, cap, &m) != 0) {
        doc->arena.drop_last();
        return attempt::failed;
    }
    *out = {block, static_cast<int32_t>(m)};
    return attempt::decoded;
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
                uint8_t* block = doc->arena.alloc(m <= first ? first : 4 * first);
                if (!block) return false;
                std::memcpy(block, tmp, static_cast<size_t>(m));
                *out = {block, static_cast<int32_t>(m)};
                return true;
            }
            failed = 4 * first;
        }
    }
    if (!failed) {
        attempt a = decode_attempt(doc, src, n, first, out);
        if (a != attempt::failed) return a == attempt::decoded;
        if (first > MAX_RETRY_CAP) return false;
        failed = first;
    }

    uint64_t last = first;
    while (last <= MAX_RETRY_CAP) last *= 4;
    std::unique_ptr<uint8_t, free_deleter> window(static_cast<uint8_t*>(std::malloc(INFLATE_MEASURE_SCRATCH)));
    if (!window) return false;
    uint64_t need = 0;
    if (inflate_measure(src, n, last, window.get(), &need) != 0) return false;
    window.reset();
    uint64_t cap = failed * 4;
    while (cap < need) cap *= 4;  // need <= last, so this stops at last at the latest
    return decode_attempt(doc, src, n, cap, out) == attempt::decoded;
}

// Stored data is used where it lies in the file: the file bytes live as long
// as the document, like the arena.
bool stored_data(const pdf_doc* doc, const obj_entry& e, decoded* out) {
    *out = {doc->data + e.data_start, e.data_end - e.data_start};
    return true;
}

// The first integer of at least `min` that follows a key /name in
// [start, end), or -1.
int32_t key_int(const uint8_t* data, int32_t len, int32_t start, int32_t end, const char* name, int32_t min) {
    const int32_t name_len = static_cast<int32_t>(std::strlen(name));
    for (int32_t p = find_name(data, len, start, end, name); p >= 0; p = find_name(data, len, p + 1, end, name)) {
        int32_t q = skip_ws(data, p + 1 + name_len, end);
        int32_t v = parse_int_at(data, end, &q);
        if (v >= min) return v;
    }
    return -1;
}

// Appends a row for every usable object of the decoded stream d; returns
// the number of rows added.
int32_t add_rows(pdf_doc* doc, const decoded& d, int32_t count, int32_t first) {
    std::vector<int32_t> nums(static_cast<size_t>(count)), offs(static_cast<size_t>(count));
    int32_t pos = 0;
    for (int32_t i = 0; i < count; ++i) {
        nums[i] = read_int_adv(d.data, d.len, &pos);
        if (nums[i] < 0) return 0;
        offs[i] = read_int_adv(d.data, d.len, &pos);
        if (offs[i] < 0) return 0;
    }
    int32_t added = 0;
    for (int32_t i = 0; i < count; ++i) {
        const int64_t start = static_cast<int64_t>(first) + offs[i];
        const int64_t obj_len = i + 1 < count ? static_cast<int64_t>(offs[i + 1]) - offs[i] : d.len - start;
        if (nums[i] <= 0 || obj_len < 1 || obj_len > MAX_OBJECT_LEN || start + obj_len > d.len) continue;
        obj_entry row;
        row.num = nums[i];
        row.gen = 0;
        row.in_objstm = 1;
        row.objstm_text = d.data + start;
        row.objstm_len = static_cast<int32_t>(obj_len);
        const size_t before = doc->objs.size();
        vec_push(doc->objs, row);
        added += doc->objs.size() > before ? 1 : 0;
    }
    return added;
}

// Expands the object stream of row e, when it is one.
void expand_one(pdf_doc* doc, const obj_entry& e, small_scratch* scratch) {
    if (e.in_objstm || e.has_stream != 1 || e.dict_pos < 0) return;
    const uint8_t* data = doc->data;
    const int32_t len = doc->len;
    const int32_t r = e.stream_kw > 0 ? e.stream_kw : len;
    if (find_name(data, len, e.dict_pos, r, "ObjStm") < 0) return;
    const int64_t n = static_cast<int64_t>(e.data_end) - e.data_start;
    if (n < 0 || n > MAX_STORED_LEN || e.data_start < 0 || e.data_end > len) return;

    // /N and /First are read before decoding so that a stream skipped for
    // them is not decoded at all; only First <= m needs the decoded length.
    const int32_t count = key_int(data, len, e.dict_pos, r, "N", 1);
    if (count < 0 || count > MAX_OBJECTS) return;
    const int32_t first = key_int(data, len, e.dict_pos, r, "First", 0);
    if (first < 0) return;

    decoded d;
    const bool flate = find_name(data, len, e.dict_pos, r, "FlateDecode") >= 0;
    const uint8_t* src = data + e.data_start;
    if (!(flate ? decode_flate(doc, src, static_cast<uint64_t>(n), scratch, &d) : stored_data(doc, e, &d))) return;
    // A decoded block that ends up holding no row is released as well.
    if ((first > d.len || add_rows(doc, d, count, first) == 0) && flate) doc->arena.drop_last();
}

}  // namespace

void objstm_expand(pdf_doc* doc) {
    if (!doc || !doc->data) return;
    // Rows appended here come from object streams and need no visit.
    const size_t rows = doc->objs.size();
    small_scratch scratch;
    for (size_t k = 0; k < rows; ++k) {
        const obj_entry e = doc->objs[k];  // a copy: appending may move the table
        try {
            expand_one(doc, e, &scratch);
        } catch (const std::bad_alloc&) {
            // Memory exhausted: this stream contributes the rows added so far.
        }
    }
}
