// Expansion of compressed object streams into rows of the object table.
//
// Which rows a stream yields depends on its decoded text (the offsets, the
// decoded length, whether decoding succeeds under the capacity rules), so
// every Flate stream is decoded once while loading. Its rows and decoded
// length are kept, and its text too while the texts kept stay within a
// budget (OBJSTM_KEEP_DEFAULT): a small stream whose text surely fits is
// decoded straight into the document's text pool, others into a reused
// scratch buffer. Beyond the budget a text is decoded again, into a block of
// exactly that length, when a row of the stream is first read
// (doc_row_text), so memory stays bounded however much the streams inflate.
// With enough Flate data, two threads decode the small streams (their rows
// are still added in table order, so the table is the same). Stored
// (unfiltered) streams need no decoding: their rows point into the file
// bytes at once.
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <thread>
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

// Appends a row for every usable object of the decoded stream d, the
// stream of row e; returns the number of rows added. With stream >= 0 the
// rows name that lazy stream and their start in it instead of pointing into
// d. A stream that yields rows is recorded in doc->containers.
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

// Whether row e is an object stream container (a direct stream whose
// dictionary holds /ObjStm), with *dict its dictionary.
bool is_objstm_container(const pdf_doc& doc, const obj_entry& e, dict_view* dict) {
    if (e.in_objstm || e.has_stream != 1 || e.dict_pos < 0) return false;
    *dict = {doc.data, e.dict_pos, e.stream_kw > 0 ? e.stream_kw : doc.len};
    return dict->key("ObjStm") >= 0;
}

// For a container with dictionary dict: whether its stored data is usable,
// and its /N (1 to MAX_OBJECTS).
bool objstm_counted(const pdf_doc& doc, const obj_entry& e, const dict_view& dict, int32_t* count) {
    const pos n = e.data_end - e.data_start;
    if (n < 0 || n > MAX_STORED_LEN || e.data_start < 0 || e.data_end > doc.len) return false;
    // /N and /First are read before decoding so that a stream skipped for
    // them is not decoded at all; only First <= m needs the decoded length.
    *count = key_int(dict, "N", 1);
    return *count >= 0 && *count <= MAX_OBJECTS;
}

// The dictionary of row e when it is an object stream with usable stored
// data, and its /N (1 to MAX_OBJECTS); false otherwise.
bool objstm_header(const pdf_doc& doc, const obj_entry& e, dict_view* dict, int32_t* count) {
    return is_objstm_container(doc, e, dict) && objstm_counted(doc, e, *dict, count);
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

// Where a decoded text lies: the scratch, a block of its own, or the pool.
struct flate_text {
    decoded d;
    std::unique_ptr<uint8_t, free_deleter> big;
    bool pooled = false;
};

// A small stream (second capacity at most SMALL_STREAM_CAP) decoded with
// decode_flate's second capacity: straight into the pool when it is given
// (the bytes decoded stay there), else into the scratch. False when that
// decoding fails.
bool flate_small(const uint8_t* src, uint64_t n, text_pool* pool, small_scratch* scratch, flate_text* out) {
    const uint64_t cap = 4 * (8 * n + 64);
    uint8_t* tmp = pool ? pool->room(cap) : nullptr;
    const bool pooled = tmp != nullptr;
    if (!tmp) tmp = scratch->get(cap);
    if (!tmp) return false;
    uint64_t m = 0;
    if (inflate_decompress(src, n, tmp, cap, &m) != 0) return false;
    if (pooled) pool->keep(m);
    out->d = {tmp, static_cast<pos>(m)};
    out->pooled = pooled;
    return true;
}

// A stream measured against the largest capacity decode_flate would try (a
// failure at capacity c means the stream needs more than c bytes, so success
// at some capacity of the sequence is success at its last) and then decoded
// into a block of its exact length.
bool flate_measured(const uint8_t* src, uint64_t n, flate_text* out) {
    const uint64_t first = 8 * n + 64;
    uint64_t last = first;
    if (first <= MAX_RETRY_CAP)
        while (last <= MAX_RETRY_CAP) last *= 4;
    std::unique_ptr<uint8_t, free_deleter> window(static_cast<uint8_t*>(std::malloc(INFLATE_MEASURE_SCRATCH)));
    if (!window) throw std::bad_alloc();
    uint64_t need = 0;
    if (inflate_measure(src, n, last, window.get(), &need) != 0) return false;
    window.reset();
    out->big.reset(static_cast<uint8_t*>(std::malloc(need ? static_cast<size_t>(need) : 1)));
    if (!out->big) throw std::bad_alloc();
    uint64_t m = 0;
    if (inflate_decompress(src, n, out->big.get(), need, &m) != 0 || m != need) return false;
    out->d = {out->big.get(), static_cast<pos>(m)};
    out->pooled = false;
    return true;
}

// Whether stream data of n bytes is small: decoded with the second capacity
// first, and the only kind that goes into a batch of parallel decodings.
bool batchable(uint64_t n) { return 4 * (8 * n + 64) <= SMALL_STREAM_CAP; }

// What decode_flate gives, without keeping a block: false when it fails, else
// true with the decoded bytes in *out. A small stream is decoded with the
// second capacity (flate_small); one that fails so and any larger one is
// measured (flate_measured).
bool flate_outcome(const uint8_t* src, uint64_t n, text_pool* pool, small_scratch* scratch, flate_text* out) {
    if (8 * n + 64 > DECODER_MAX_CAP) return false;
    if (batchable(n) && flate_small(src, n, pool, scratch, out)) return true;
    return flate_measured(src, n, out);
}

thread_local bool t_full_expansion = false;
thread_local uint64_t t_keep_budget = OBJSTM_KEEP_DEFAULT;
thread_local uint64_t t_parallel_min = OBJSTM_PARALLEL_MIN;

// Bytes the budget still allows.
uint64_t budget_room(const pdf_doc& doc) { return doc.lazy.kept <= t_keep_budget ? t_keep_budget - doc.lazy.kept : 0; }

// An object stream of the lazy expansion: its row, and what its dictionary
// says before anything is decoded.
struct lazy_item {
    obj_entry e;
    int32_t count = 0;
    int32_t first = 0;
    bool flate = false;
};

// Reads row e's header into *item; false when the row yields nothing
// without looking at its data.
bool lazy_prepare(const pdf_doc& doc, const obj_entry& e, lazy_item* item) {
    dict_view dict;
    if (!objstm_header(doc, e, &dict, &item->count)) return false;
    item->first = key_int(dict, "First", 0);
    if (item->first < 0) return false;
    item->e = e;
    item->flate = dict.key("FlateDecode") >= 0;
    return true;
}

// The rows of a Flate stream from its decoding: learnt, and its text kept
// while the texts kept stay within the budget, so that reading every object
// (as some reports do) does not decode the stream twice. A text in the pool
// is counted against the budget whether or not it is used.
void lazy_finish_flate(pdf_doc* doc, const lazy_item& item, bool ok, flate_text* t) {
    const uint64_t len = ok ? static_cast<uint64_t>(t->d.len) : 0;
    if (ok && t->pooled) doc->lazy.kept += len;
    if (!ok || item.first > t->d.len) return;
    const auto stream = static_cast<int32_t>(doc->lazy.streams.size());
    if (add_rows(doc, item.e, t->d, item.count, item.first, stream) == 0) return;
    const uint8_t* src = doc->data + item.e.data_start;
    const uint64_t n = static_cast<uint64_t>(item.e.data_end - item.e.data_start);
    lazy_stream ls{src, n, len, nullptr};
    if (t->pooled) {
        ls.text = t->d.data;
    } else if (len <= t_keep_budget && doc->lazy.kept <= t_keep_budget - len) {
        const uint8_t* text = nullptr;
        if (t->big && t->d.data == t->big.get()) {
            text = doc->lazy.blocks.adopt(std::move(t->big));
        } else if (uint8_t* block = doc->lazy.blocks.alloc(len ? len : 1)) {
            std::memcpy(block, t->d.data, static_cast<size_t>(len));
            text = block;
        }
        if (text) {
            ls.text = text;
            doc->lazy.kept += len;
        }
    }
    doc->lazy.streams.push_back(ls);
}

// Learns the rows of the object stream of row e, when it is one, leaving a
// Flate stream's text to be decoded on first use once the texts kept while
// loading reach the budget.
void expand_lazy(pdf_doc* doc, const obj_entry& e, small_scratch* scratch) {
    lazy_item item;
    if (!lazy_prepare(*doc, e, &item)) return;
    if (!item.flate) {
        decoded d;
        stored_data(doc, e, &d);
        if (item.first <= d.len) add_rows(doc, e, d, item.count, item.first);
        return;
    }
    const uint8_t* src = doc->data + e.data_start;
    const auto n = static_cast<uint64_t>(e.data_end - e.data_start);
    // A text that surely fits the budget is decoded straight into the pool.
    text_pool* pool = 4 * (8 * n + 64) <= budget_room(*doc) ? &doc->lazy.pool : nullptr;
    flate_text t;
    const bool ok = flate_outcome(src, n, pool, scratch, &t);
    lazy_finish_flate(doc, item, ok, &t);
}

// The capacity a batch of parallel decodings may hold at once, in second
// capacities (8n + 64) * 4 of its streams.
constexpr uint64_t BATCH_CAP = 32u << 20;

// A small Flate stream's decoding, by whichever thread takes it: flate_small
// into that thread's pool. A stream that fails so is measured afterwards on
// the loading thread, one at a time, as expand_lazy would.
struct flate_job {
    const uint8_t* src = nullptr;
    uint64_t n = 0;
    bool ok = false;
    flate_text t;
};

// Decodes the jobs with this thread (into `mine`) and one helper (into
// `helpers`), each job taken by exactly one of them, and hands every job to
// finish(i) in order on this thread: while the helper decodes, this thread
// finishes the jobs that are done or else decodes the next one itself.
template <class Finish>
void run_batch(std::vector<flate_job>& jobs, text_pool* mine, text_pool* helpers, Finish&& finish) {
    const size_t count = jobs.size();
    std::atomic<size_t> next{0};
    std::vector<std::atomic<uint8_t>> done(count);
    auto decode = [&](size_t i, text_pool* pool, small_scratch* scratch) noexcept {
        flate_job& j = jobs[i];
        // Without the pool the text could not outlive the scratch: such a job
        // is left to the measuring pass on this thread.
        if (pool->room(4 * (8 * j.n + 64))) j.ok = flate_small(j.src, j.n, pool, scratch, &j.t);
        done[i].store(1, std::memory_order_release);
        done[i].notify_one();
    };
    auto help = [&]() noexcept {
        small_scratch scratch;  // unused while the pool has memory
        for (size_t i; (i = next.fetch_add(1, std::memory_order_relaxed)) < count;) decode(i, helpers, &scratch);
    };
    std::thread helper;
    try {
        helper = std::thread(help);
    } catch (...) {
        // No second thread: this one decodes them all.
    }
    small_scratch scratch;
    try {
        for (size_t fin = 0; fin < count;) {
            if (done[fin].load(std::memory_order_acquire)) {
                finish(fin++);
                continue;
            }
            if (size_t i = next.fetch_add(1, std::memory_order_relaxed); i < count) {
                decode(i, mine, &scratch);
                continue;
            }
            done[fin].wait(0, std::memory_order_acquire);  // the helper holds it
        }
    } catch (...) {
        next.store(count, std::memory_order_relaxed);  // the helper takes no more
        if (helper.joinable()) helper.join();
        throw;
    }
    if (helper.joinable()) helper.join();
}

// The lazy expansion of the containers rows[k] with two threads decoding:
// consecutive small Flate streams whose texts surely fit the budget are
// gathered into batches, decoded in parallel and their rows added in table
// order, so the table is that of expand_lazy, stream after stream.
void expand_lazy_parallel(pdf_doc* doc, const std::vector<size_t>& rows) {
    std::vector<lazy_item> items;
    std::vector<flate_job> jobs;
    small_scratch scratch;
    // Each thread decodes about half of the texts, into a pool of its own.
    text_pool helpers;
    helpers.expect(doc->lazy.pool.next / 2);
    doc->lazy.pool.expect(doc->lazy.pool.next / 2);
    uint64_t held = 0;
    auto flush = [&]() {
        if (items.empty()) return;
        run_batch(jobs, &doc->lazy.pool, &helpers, [&](size_t i) {
            flate_job& j = jobs[i];
            if (!j.ok) j.ok = flate_measured(j.src, j.n, &j.t);
            lazy_finish_flate(doc, items[i], j.ok, &j.t);
        });
        items.clear();
        jobs.clear();
        held = 0;
    };
    for (size_t k : rows) {
        const obj_entry e = doc->objs[k];  // a copy: appending may move the table
        lazy_item item;
        if (!lazy_prepare(*doc, e, &item)) continue;
        const auto n = static_cast<uint64_t>(e.data_end - e.data_start);
        const uint64_t cap = 4 * (8 * n + 64);
        if (item.flate && batchable(n) && held + cap > BATCH_CAP) flush();
        // Every text of a batch fits the budget however long it turns out.
        if (!item.flate || !batchable(n) || held + cap > budget_room(*doc)) {
            flush();
            expand_lazy(doc, e, &scratch);
            continue;
        }
        items.push_back(item);
        flate_job& j = jobs.emplace_back();
        j.src = doc->data + e.data_start;
        j.n = n;
        held += cap;
    }
    flush();
    doc->lazy.pool.take(&helpers);
}

// Two threads pay when there is enough Flate data for batches (a thread
// costs tens of microseconds to start) and the machine has a second core.
bool worth_two_threads(const pdf_doc& doc, const std::vector<size_t>& rows) {
    if (rows.size() < 2 || std::thread::hardware_concurrency() < 2) return false;
    uint64_t total = 0;
    for (size_t k : rows) {
        const obj_entry& e = doc.objs[k];
        const auto n = static_cast<uint64_t>(e.data_end - e.data_start);
        if (batchable(n)) total += n;
    }
    return total >= t_parallel_min;
}

}  // namespace

bool objstm_member_texts(const pdf_doc& doc, const objstm_container& c, std::string* text,
                         std::vector<objstm_member>* members) {
    dict_view dict;
    int32_t count;
    if (!objstm_header(doc, c.row, &dict, &count)) return false;
    const int32_t first = key_int(dict, "First", 0);
    if (first < 0) return false;
    // Decoded as loading decodes it, into the scratch or a block of its own
    // (no pool: the text is copied out below).
    small_scratch scratch;
    flate_text t;
    const uint8_t* src = doc.data + c.row.data_start;
    const auto n = static_cast<uint64_t>(c.row.data_end - c.row.data_start);
    if (!(dict.key("FlateDecode") >= 0 ? flate_outcome(src, n, nullptr, &scratch, &t) : stored_data(&doc, c.row, &t.d)))
        return false;
    const decoded& d = t.d;
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
void objstm_parallel_min(uint64_t bytes) { t_parallel_min = bytes; }

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
    // The header test runs once per row: most rows are no object stream.
    // The containers found are handed on to the selection, which drops them.
    std::vector<size_t> streams;
    size_t announced = 0;
    doc->container_rows.clear();
    for (size_t k = 0; k < rows; ++k) {
        dict_view dict;
        int32_t count;
        const obj_entry& e = doc->objs[k];
        if (!is_objstm_container(*doc, e, &dict)) continue;
        doc->container_rows.push_back(k);
        if (objstm_counted(*doc, e, dict, &count)) {
            announced += static_cast<size_t>(count);
            streams.push_back(k);
        }
    }
    doc->container_rows_known = true;
    // Room for every row the streams announce, so that the table is not
    // moved (and its pages touched anew) while they are appended. Only
    // address space until rows are written; without it the table grows.
    try {
        doc->objs.reserve(rows + announced);
    } catch (const std::bad_alloc&) {
    }
    if (!t_full_expansion) {
        // The texts kept: about the first capacities of the small streams.
        uint64_t expected = 0;
        for (size_t k : streams) {
            const auto n = static_cast<uint64_t>(doc->objs[k].data_end - doc->objs[k].data_start);
            if (batchable(n)) expected += 8 * n + 64;
        }
        doc->lazy.pool.expect(expected < t_keep_budget ? expected : t_keep_budget);
    }
    if (!t_full_expansion && worth_two_threads(*doc, streams)) {
        expand_lazy_parallel(doc, streams);
        return;
    }
    small_scratch scratch;
    for (size_t k : streams) {
        const obj_entry e = doc->objs[k];  // a copy: appending may move the table
        if (t_full_expansion)
            expand_one(doc, e, &scratch);
        else
            expand_lazy(doc, e, &scratch);
    }
}
