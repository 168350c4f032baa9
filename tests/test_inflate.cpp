// The Flate decoder against zlib: generated streams of every level and
// strategy, truncations, corruptions, capacities, header checks, and
// hand-made blocks for each kind of invalid data.
#include <gtest/gtest.h>
#include <zlib.h>

#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "syntax/inflate.h"
#include "support/pdf_builder.h"

namespace {

const uint8_t* u8(const std::string& s) { return reinterpret_cast<const uint8_t*>(s.data()); }

struct decoded {
    int rc;
    std::string out;
};

// Decodes into a heap buffer of exactly `cap` bytes, so that the sanitizer
// build catches any write past the capacity.
decoded inflate_cap(const std::string& z, uint64_t cap) {
    std::unique_ptr<uint8_t[]> buf(cap ? new uint8_t[cap] : nullptr);  // left uninitialised
    uint64_t n = 12345;
    int rc = inflate_decompress(u8(z), z.size(), buf.get(), cap, &n);
    if (rc != 0) {
        EXPECT_EQ(n, 0u) << "out_len must stay 0 on failure";
        return {rc, {}};
    }
    EXPECT_LE(n, cap);
    return {rc, std::string(reinterpret_cast<char*>(buf.get()), n)};
}

// inflate_measure must report what inflate_decompress gives with a capacity
// of `cap`: the same result, and the same length on success; a limit one
// byte below that length must fail.
void expect_measure_agrees(const std::string& z, const decoded& full, const std::string& what) {
    static std::vector<uint8_t> scratch(INFLATE_MEASURE_SCRATCH);
    uint64_t n = 777;
    int rc = inflate_measure(u8(z), z.size(), 1ull << 30, scratch.data(), &n);
    ASSERT_EQ(rc, full.rc) << what;
    ASSERT_EQ(n, full.rc == 0 ? full.out.size() : 0) << what;
    if (rc == 0) {
        EXPECT_EQ(inflate_measure(u8(z), z.size(), n, scratch.data(), &n), 0) << what;
        if (n > 0) {
            EXPECT_EQ(inflate_measure(u8(z), z.size(), n - 1, scratch.data(), &n), -1) << what;
        }
    }
}

// zlib's verdict on the DEFLATE data after the two header bytes (raw mode, so
// neither the header check bits nor the checksum are involved).
enum class zverdict { end, data_error, needs_input };
struct zresult {
    zverdict verdict;
    std::string out;
    size_t deflate_len = 0;  // bytes of DEFLATE data consumed at the end
};

zresult zlib_raw(const std::string& z, size_t cap) {
    z_stream zs{};
    EXPECT_EQ(inflateInit2(&zs, -15), Z_OK);
    std::string body = z.size() > 2 ? z.substr(2) : std::string();
    std::string out(cap + 1, '\0');
    zs.next_in = reinterpret_cast<Bytef*>(body.data());
    zs.avail_in = static_cast<uInt>(body.size());
    zs.next_out = reinterpret_cast<Bytef*>(out.data());
    zs.avail_out = static_cast<uInt>(out.size());
    int rc = inflate(&zs, Z_FINISH);
    zresult r;
    r.verdict = rc == Z_STREAM_END ? zverdict::end : rc == Z_DATA_ERROR ? zverdict::data_error : zverdict::needs_input;
    EXPECT_TRUE(rc == Z_STREAM_END || rc == Z_DATA_ERROR || (rc == Z_BUF_ERROR && zs.avail_out > 0))
        << "zlib rc " << rc;
    out.resize(zs.total_out);
    r.out = out;
    r.deflate_len = zs.total_in;
    inflateEnd(&zs);
    return r;
}

// zlib compression with several parameter sets in one stream: each piece of
// data is compressed with its own level and strategy, and every piece ends
// with the given flush (sync and full flushes add empty stored blocks).
struct piece {
    std::string data;
    int level;
    int strategy;
    int flush;
};
std::string zlib_pieces(const std::vector<piece>& pieces) {
    z_stream zs{};
    EXPECT_EQ(deflateInit2(&zs, pieces.front().level, Z_DEFLATED, 15, 8, pieces.front().strategy), Z_OK);
    std::string out;
    std::vector<char> chunk(1 << 16);
    for (size_t i = 0; i < pieces.size(); ++i) {
        const piece& p = pieces[i];
        if (i > 0) {
            // deflateParams may need to flush pending data first.
            int rc;
            do {
                zs.next_out = reinterpret_cast<Bytef*>(chunk.data());
                zs.avail_out = static_cast<uInt>(chunk.size());
                rc = deflateParams(&zs, p.level, p.strategy);
                out.append(chunk.data(), chunk.size() - zs.avail_out);
            } while (rc == Z_BUF_ERROR || zs.avail_out == 0);
            EXPECT_EQ(rc, Z_OK);
        }
        zs.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(p.data.data()));
        zs.avail_in = static_cast<uInt>(p.data.size());
        int flush = i + 1 == pieces.size() ? Z_FINISH : p.flush;
        int rc;
        do {
            zs.next_out = reinterpret_cast<Bytef*>(chunk.data());
            zs.avail_out = static_cast<uInt>(chunk.size());
            rc = deflate(&zs, flush);
            out.append(chunk.data(), chunk.size() - zs.avail_out);
        } while (zs.avail_out == 0 || (flush == Z_FINISH && rc != Z_STREAM_END));
    }
    deflateEnd(&zs);
    return out;
}

// ---- generated data ----

std::string gen_random(size_t n, std::mt19937& rng) {
    std::string s(n, '\0');
    for (auto& c : s) c = static_cast<char>(rng());
    return s;
}

std::string gen_text(size_t n, std::mt19937& rng) {
    static const char* SYL[] = {"the", "an", "or", "pe", "lix", "dor", "ma", "ent", "ion", "qu", "st", "ra",
                                "ve", "ll", "ix", "on", "ta", "ber", "so", "ce", "ul", "tr", "ph", "ey"};
    std::vector<std::string> words;
    for (int i = 0; i < 300; ++i) {
        std::string w;
        int k = 1 + static_cast<int>(rng() % 4);
        for (int j = 0; j < k; ++j) w += SYL[rng() % (sizeof SYL / sizeof *SYL)];
        words.push_back(w);
    }
    std::string s;
    s.reserve(n + 64);
    // Zipf-like choice: low indexes are much more frequent.
    while (s.size() < n) {
        double u = std::uniform_real_distribution<double>(0, 1)(rng);
        size_t idx = static_cast<size_t>(words.size() * u * u * u);
        s += words[idx];
        unsigned r = rng() % 40;
        s += r == 0 ? ".\n" : r == 1 ? ", " : r == 2 ? " " + std::to_string(rng() % 10000) + " " : " ";
    }
    s.resize(n);
    return s;
}

std::string gen_binary(size_t n, std::mt19937& rng) {
    // Fixed-size records with counters, small integers and some noise.
    std::string s;
    s.reserve(n + 32);
    uint32_t counter = rng() % 1000;
    while (s.size() < n) {
        uint8_t rec[24] = {};
        counter += 1 + rng() % 3;
        std::memcpy(rec, &counter, 4);
        rec[4] = static_cast<uint8_t>(rng() % 4);
        rec[8] = static_cast<uint8_t>(rng() % 16);
        rec[12] = static_cast<uint8_t>(rng());
        rec[13] = static_cast<uint8_t>(rng() % 2 ? rng() : 0);
        rec[20] = 0xFF;
        s.append(reinterpret_cast<char*>(rec), sizeof rec);
    }
    s.resize(n);
    return s;
}

std::string gen_runs(size_t n, std::mt19937& rng) {
    // Runs of one byte and short periodic patterns: matches of every short distance.
    std::string s;
    s.reserve(n + 600);
    while (s.size() < n) {
        if (rng() % 2) {
            s.append(1 + rng() % 300, static_cast<char>(rng() % 4));
        } else {
            std::string pat = gen_random(1 + rng() % 15, rng);
            size_t reps = 1 + rng() % 40;
            for (size_t i = 0; i < reps; ++i) s += pat;
        }
    }
    s.resize(n);
    return s;
}

using gen_fn = std::string (*)(size_t, std::mt19937&);
struct data_kind {
    const char* name;
    gen_fn gen;
};
const data_kind KINDS[] = {{"random", gen_random}, {"text", gen_text}, {"binary", gen_binary}, {"runs", gen_runs}};

struct strat {
    const char* name;
    int value;
};
const strat STRATEGIES[] = {{"default", Z_DEFAULT_STRATEGY},
                            {"filtered", Z_FILTERED},
                            {"huffman", Z_HUFFMAN_ONLY},
                            {"rle", Z_RLE},
                            {"fixed", Z_FIXED}};

int first_block_type(const std::string& z) { return z.size() > 2 ? (static_cast<uint8_t>(z[2]) >> 1) & 3 : -1; }

// Decodes with the exact capacity (must succeed with the data) and one byte
// less (must fail).
void expect_round_trip(const std::string& z, const std::string& data, const std::string& what) {
    decoded d = inflate_cap(z, data.size());
    ASSERT_EQ(d.rc, 0) << what;
    ASSERT_TRUE(d.out == data) << what;
    if (!data.empty()) {
        EXPECT_EQ(inflate_cap(z, data.size() - 1).rc, -1) << what;
    }
}

TEST(InflateDiff, EveryLevelStrategyAndDataKind) {
    std::mt19937 rng(1234);
    const size_t SIZES[] = {0, 1, 5, 57, 300, 1000, 4096, 33000, 65535, 65536, 70001, 250000};
    int block_types_seen[3] = {};
    for (size_t size : SIZES) {
        for (const data_kind& k : KINDS) {
            std::string data = k.gen(size, rng);
            for (int level = 0; level <= 9; ++level) {
                for (const strat& st : STRATEGIES) {
                    // Large inputs: a subset of the combinations keeps the run short.
                    if (size >= 65535 && (level % 3 != 0 || (st.value != Z_DEFAULT_STRATEGY && level != 6))) continue;
                    std::string z = zlib_compress(data, level, st.value);
                    int t = first_block_type(z);
                    if (t >= 0 && t < 3) ++block_types_seen[t];
                    expect_round_trip(z, data,
                                      std::string(k.name) + " size " + std::to_string(size) + " level " +
                                          std::to_string(level) + " " + st.name);
                }
            }
        }
    }
    // The generated streams exercise all three block types.
    EXPECT_GT(block_types_seen[0], 0);
    EXPECT_GT(block_types_seen[1], 0);
    EXPECT_GT(block_types_seen[2], 0);
}

TEST(InflateDiff, LargeStreams) {
    std::mt19937 rng(99);
    struct big {
        gen_fn gen;
        size_t size;
        int level;
        int strategy;
    };
    const big CASES[] = {{gen_text, 3u << 20, 6, Z_DEFAULT_STRATEGY}, {gen_text, 2u << 20, 1, Z_DEFAULT_STRATEGY},
                         {gen_text, 2u << 20, 9, Z_FILTERED},         {gen_random, 3u << 20, 6, Z_DEFAULT_STRATEGY},
                         {gen_binary, 2u << 20, 6, Z_RLE},            {gen_runs, 4u << 20, 9, Z_DEFAULT_STRATEGY},
                         {gen_binary, 1u << 20, 0, Z_DEFAULT_STRATEGY}, {gen_text, 1u << 20, 6, Z_FIXED}};
    for (const big& c : CASES) {
        std::string data = c.gen(c.size, rng);
        std::string z = zlib_compress(data, c.level, c.strategy);
        std::string what = "size " + std::to_string(c.size) + " level " + std::to_string(c.level);
        expect_round_trip(z, data, what);
        // The measuring decoder slides its window many times over these.
        expect_measure_agrees(z, {0, data}, what);
        // Damage late in the stream: the invalid point is found after the
        // window has slid, at the same output length in both modes.
        for (int k = 0; k < 4; ++k) {
            std::string bad = z;
            size_t pos = bad.size() / 2 + rng() % (bad.size() / 2 - 4);
            bad[pos] = static_cast<char>(bad[pos] ^ (1 << (rng() % 8)));
            expect_measure_agrees(bad, inflate_cap(bad, data.size() + (1u << 20)), what + " damaged");
        }
    }
}

TEST(InflateDiff, MixedBlocksInOneStream) {
    // Stored, fixed and dynamic blocks alternate, with empty stored blocks from
    // flushes; matches reach back across block boundaries after sync flushes.
    std::mt19937 rng(7);
    for (int round = 0; round < 20; ++round) {
        std::vector<piece> pieces;
        std::string all;
        int n = 2 + static_cast<int>(rng() % 6);
        for (int i = 0; i < n; ++i) {
            const data_kind& k = KINDS[rng() % 4];
            piece p{k.gen(rng() % 40000, rng), static_cast<int>(rng() % 10),
                    STRATEGIES[rng() % 5].value, rng() % 3 == 0 ? Z_FULL_FLUSH : Z_SYNC_FLUSH};
            if (rng() % 3 == 0) p.level = 0;
            all += p.data;
            pieces.push_back(p);
        }
        std::string z = zlib_pieces(pieces);
        expect_round_trip(z, all, "round " + std::to_string(round));
    }
}

// Every cut of a stream before the end of its DEFLATE data fails; cuts inside
// the checksum still decode completely.
void expect_truncations(const std::string& z, const std::string& data, size_t step) {
    zresult ref = zlib_raw(z, data.size());
    ASSERT_EQ(ref.verdict, zverdict::end);
    const size_t end = 2 + ref.deflate_len;
    for (size_t k = 0; k < z.size(); k += (k + 64 >= end && k <= end + 4) ? 1 : step) {
        decoded d = inflate_cap(z.substr(0, k), data.size());
        if (k < end) {
            ASSERT_EQ(d.rc, -1) << "cut at " << k << " of " << end;
        } else {
            ASSERT_EQ(d.rc, 0) << "cut at " << k;
            ASSERT_TRUE(d.out == data);
        }
    }
}

TEST(InflateTruncation, EveryCutBeforeTheEndFails) {
    std::mt19937 rng(42);
    for (const data_kind& k : KINDS) {
        for (size_t size : {size_t{0}, size_t{5}, size_t{200}, size_t{3000}}) {
            std::string data = k.gen(size, rng);
            for (int level : {0, 1, 6, 9}) {
                for (const strat& st : STRATEGIES) {
                    expect_truncations(zlib_compress(data, level, st.value), data, 1);
                }
            }
        }
        // Longer streams: every byte near the end, a stride elsewhere.
        std::string data = k.gen(200000, rng);
        expect_truncations(zlib_compress(data, 6, Z_DEFAULT_STRATEGY), data, 97);
        expect_truncations(zlib_compress(data, 0, Z_DEFAULT_STRATEGY), data, 997);
    }
}

// Corrupted streams never crash; the result agrees with zlib: a clean end or
// invalid data give 0 with the bytes zlib produced, running out of input gives -1.
TEST(InflateCorruption, AgreesWithZlib) {
    std::mt19937 rng(2024);
    int verdicts[3] = {};
    for (int round = 0; round < 3000; ++round) {
        const data_kind& k = KINDS[rng() % 4];
        std::string data = k.gen(1 + rng() % 6000, rng);
        std::string z = zlib_compress(data, static_cast<int>(rng() % 10), STRATEGIES[rng() % 5].value);
        int flips = 1 + static_cast<int>(rng() % 3);
        for (int f = 0; f < flips; ++f) {
            size_t pos = 2 + rng() % (z.size() - 2);
            if (rng() % 2)
                z[pos] = static_cast<char>(z[pos] ^ (1 << (rng() % 8)));
            else
                z[pos] = static_cast<char>(rng());
        }
        if (rng() % 4 == 0) z.resize(2 + rng() % (z.size() - 1));
        // Enough room for anything the damaged input can expand to.
        const size_t cap = z.size() * 1040 + 1024;
        zresult ref = zlib_raw(z, cap);
        decoded d = inflate_cap(z, cap);
        ++verdicts[static_cast<int>(ref.verdict)];
        expect_measure_agrees(z, d, "round " + std::to_string(round));
        if (ref.verdict == zverdict::needs_input) {
            ASSERT_EQ(d.rc, -1) << "round " << round;
        } else {
            ASSERT_EQ(d.rc, 0) << "round " << round;
            ASSERT_EQ(d.out.size(), ref.out.size()) << "round " << round;
            ASSERT_TRUE(d.out == ref.out) << "round " << round;
        }
    }
    // The damage produced all three outcomes.
    EXPECT_GT(verdicts[0], 0);
    EXPECT_GT(verdicts[1], 100);
    EXPECT_GT(verdicts[2], 100);
}

TEST(InflateCorruption, ArbitraryBytesAfterAValidHeader) {
    std::mt19937 rng(5);
    for (int round = 0; round < 3000; ++round) {
        std::string z = "\x78\x9c" + gen_random(rng() % 200, rng);
        const size_t cap = z.size() * 1040 + 1024;
        zresult ref = zlib_raw(z, cap);
        decoded d = inflate_cap(z, cap);
        if (ref.verdict == zverdict::needs_input) {
            ASSERT_EQ(d.rc, -1) << "round " << round;
        } else {
            ASSERT_EQ(d.rc, 0) << "round " << round;
            ASSERT_TRUE(d.out == ref.out) << "round " << round;
        }
        expect_measure_agrees(z, d, "round " + std::to_string(round));
        // The same bytes with a small capacity never write past it.
        decoded small = inflate_cap(z, rng() % 64);
        EXPECT_TRUE(small.rc == -1 || small.rc == 0);
    }
}

// ---- interface: header, capacity, checksum ----

TEST(InflateInterface, HeaderChecks) {
    std::string good = zlib_compress("hello", 6, Z_DEFAULT_STRATEGY);
    std::string body = good.substr(2);
    struct header_case {
        std::string z;
        int rc;
    };
    const header_case CASES[] = {
        {"", -1},
        {"\x78", -1},
        {"\x77" + body, -1},                      // method 7
        {"\x79" + body, -1},                      // method 9
        {std::string("\x78\x20", 2) + body, -1},  // preset dictionary
        {"\x78\xbb" + body, -1},                  // preset dictionary with valid check bits
        {std::string("\x78\x00", 2) + body, 0},   // wrong check bits are not examined
        {"\xf8\x9c" + body, 0},                   // window field not examined
        {std::string("\x08\x1d", 2) + body, 0},
        {"\x78\x9c", -1},  // header only: the input ends before any block
    };
    for (const header_case& c : CASES) {
        decoded d = inflate_cap(c.z, 100);
        EXPECT_EQ(d.rc, c.rc) << "header " << std::hex << (c.z.empty() ? -1 : static_cast<uint8_t>(c.z[0]));
        if (c.rc == 0) {
            EXPECT_EQ(d.out, "hello");
        }
    }
    uint8_t dst[8];
    EXPECT_EQ(inflate_decompress(u8(good), good.size(), dst, sizeof dst, nullptr), -1);
    std::vector<uint8_t> scratch(INFLATE_MEASURE_SCRATCH);
    for (const header_case& c : CASES) {
        uint64_t n = 1;
        EXPECT_EQ(inflate_measure(u8(c.z), c.z.size(), 100, scratch.data(), &n), c.rc);
        EXPECT_EQ(n, c.rc == 0 ? 5u : 0u);
    }
}

TEST(InflateInterface, CapacityLimits) {
    std::string z = zlib_compress("hello", 9, Z_DEFAULT_STRATEGY);
    EXPECT_EQ(inflate_cap(z, 5).out, "hello");
    EXPECT_EQ(inflate_cap(z, 4).rc, -1);
    EXPECT_EQ(inflate_cap(z, 0).rc, -1);
    std::string empty = zlib_compress("", 6, Z_DEFAULT_STRATEGY);
    decoded e = inflate_cap(empty, 0);
    EXPECT_EQ(e.rc, 0);
    EXPECT_EQ(e.out, "");

    // The capacity limit is 1 GiB: one byte more is refused before anything is
    // decoded (the small buffer is never touched), 1 GiB itself is accepted.
    uint8_t dst[16];
    std::memset(dst, 0xAB, sizeof dst);
    uint64_t n = 99;
    EXPECT_EQ(inflate_decompress(u8(z), z.size(), dst, (1ull << 30) + 1, &n), -1);
    EXPECT_EQ(n, 0u);
    EXPECT_EQ(dst[0], 0xAB);
    EXPECT_EQ(inflate_decompress(u8(z), z.size(), dst, 1ull << 30, &n), 0);
    EXPECT_EQ(n, 5u);
    EXPECT_EQ(std::memcmp(dst, "hello", 5), 0);

    // Stored data and matches that overflow by one byte.
    std::mt19937 rng(3);
    std::string runs = gen_runs(5000, rng);
    for (int level : {0, 1, 9}) {
        std::string zr = zlib_compress(runs, level, Z_DEFAULT_STRATEGY);
        for (size_t cap = 0; cap < runs.size(); cap += 1 + cap / 3) EXPECT_EQ(inflate_cap(zr, cap).rc, -1) << cap;
        EXPECT_EQ(inflate_cap(zr, runs.size()).out, runs);
        EXPECT_EQ(inflate_cap(zr, runs.size() + 1000).out, runs);
    }
}

TEST(InflateInterface, ChecksumIsIgnored) {
    std::string z = zlib_compress("checksum test data", 6, Z_DEFAULT_STRATEGY);
    for (size_t i = z.size() - 4; i < z.size(); ++i) {
        std::string bad = z;
        bad[i] = static_cast<char>(bad[i] ^ 0x5A);
        EXPECT_EQ(inflate_cap(bad, 100).out, "checksum test data");
    }
    EXPECT_EQ(inflate_cap(z.substr(0, z.size() - 4), 100).out, "checksum test data");
    EXPECT_EQ(inflate_cap(z + "trailing garbage", 100).out, "checksum test data");
}

// ---- hand-made streams ----

class bit_writer {
public:
    void put(uint32_t v, int bits) {
        for (int i = 0; i < bits; ++i) bit((v >> i) & 1);
    }
    // A Huffman code, most significant bit first.
    void code(uint32_t c, int len) {
        for (int i = len - 1; i >= 0; --i) bit((c >> i) & 1);
    }
    void align() {
        while (n_) bit(0);
    }
    void bytes(const std::string& s) {
        align();
        out_ += s;
    }
    std::string zlib() {
        std::string s = "\x78\x01" + out_;
        if (n_) s += static_cast<char>(acc_);
        return s;
    }

private:
    void bit(unsigned b) {
        acc_ |= b << n_;
        if (++n_ == 8) {
            out_ += static_cast<char>(acc_);
            acc_ = 0;
            n_ = 0;
        }
    }
    std::string out_;
    unsigned acc_ = 0;
    int n_ = 0;
};

// Canonical codes of a list of lengths (0 = unused).
std::vector<uint32_t> canonical(const std::vector<int>& lens) {
    int count[16] = {}, next[16] = {};
    for (int l : lens) ++count[l];
    count[0] = 0;
    for (int l = 1, c = 0; l < 16; ++l) next[l] = c = (c + count[l - 1]) << 1;
    std::vector<uint32_t> codes(lens.size());
    for (size_t s = 0; s < lens.size(); ++s)
        if (lens[s]) codes[s] = next[lens[s]]++;
    return codes;
}

struct huff {
    std::vector<int> lens;
    std::vector<uint32_t> codes;
    explicit huff(std::vector<int> l) : lens(std::move(l)), codes(canonical(lens)) {}
    void put(bit_writer& w, int sym) const { w.code(codes[sym], lens[sym]); }
};

const huff& fixed_lit() {
    static const huff h([] {
        std::vector<int> l(288);
        for (int s = 0; s < 288; ++s) l[s] = s < 144 ? 8 : s < 256 ? 9 : s < 280 ? 7 : 8;
        return l;
    }());
    return h;
}
const huff& fixed_dist() {
    static const huff h(std::vector<int>(32, 5));
    return h;
}

void stored_block(bit_writer& w, bool final, const std::string& data, bool bad_complement = false) {
    w.put(final, 1);
    w.put(0, 2);
    w.align();
    uint16_t len = static_cast<uint16_t>(data.size());
    uint16_t nlen = static_cast<uint16_t>(~len ^ (bad_complement ? 1 : 0));
    w.put(len, 16);
    w.put(nlen, 16);
    w.bytes(data);
}

// One code-length symbol of a dynamic header: sym 0-18 with its extra bits.
struct clsym {
    int sym;
    int extra;
};

// A complete code-length code: symbols 0-12 get 4 bits, 13-18 get 5 bits.
std::vector<int> default_clen_lens() {
    std::vector<int> l(19);
    for (int s = 0; s < 19; ++s) l[s] = s < 13 ? 4 : 5;
    return l;
}

// Writes a dynamic block header: counts, the code-length code, then the
// code-length symbols as given.
void dynamic_header(bit_writer& w, bool final, int nlit, int ndist, const std::vector<int>& clen_lens,
                    const std::vector<clsym>& seq) {
    static const int ORDER[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};
    w.put(final, 1);
    w.put(2, 2);
    w.put(nlit - 257, 5);
    w.put(ndist - 1, 5);
    int nclen = 19;
    while (nclen > 4 && clen_lens[ORDER[nclen - 1]] == 0) --nclen;
    w.put(nclen - 4, 4);
    for (int i = 0; i < nclen; ++i) w.put(clen_lens[ORDER[i]], 3);
    huff ch(clen_lens);
    for (const clsym& c : seq) {
        ch.put(w, c.sym);
        if (c.sym == 16) w.put(c.extra, 2);
        if (c.sym == 17) w.put(c.extra, 3);
        if (c.sym == 18) w.put(c.extra, 7);
    }
}

// The length list of a header as plain symbols (lengths 0-15 only).
std::vector<clsym> plain(const std::vector<int>& lit, const std::vector<int>& dist) {
    std::vector<clsym> seq;
    for (int l : lit) seq.push_back({l, 0});
    for (int l : dist) seq.push_back({l, 0});
    return seq;
}

// A complete literal/length code of 264 symbols: literals 0-247 of 8 bits,
// literals 248-255, end-of-block and the lengths 257-263 (3 to 9) of 9 bits.
std::vector<int> simple_lit_lens() {
    std::vector<int> l(264, 8);
    for (int s = 248; s < 264; ++s) l[s] = 9;
    return l;
}

struct handmade {
    const char* name;
    std::string z;
    int rc;
    std::string out;
    bool zlib_agrees = true;
};

std::vector<handmade> handmade_cases() {
    std::vector<handmade> v;
    auto add = [&](const char* name, bit_writer& w, int rc, const std::string& out) {
        v.push_back({name, w.zlib(), rc, out, true});
    };
    const huff& fl = fixed_lit();
    const huff& fd = fixed_dist();
    {
        bit_writer w;
        stored_block(w, false, "abc");
        w.put(1, 1);
        w.put(3, 2);
        add("block type 3 after a stored block", w, 0, "abc");
    }
    {
        bit_writer w;
        stored_block(w, false, "first");
        stored_block(w, true, "second", true);
        add("stored length and complement disagree", w, 0, "first");
    }
    {
        bit_writer w;
        stored_block(w, true, "");
        add("empty final stored block", w, 0, "");
    }
    {
        bit_writer w;
        w.put(1, 1);
        w.put(0, 2);
        w.align();
        w.put(10, 16);
        w.put(static_cast<uint16_t>(~10), 16);
        w.bytes("short");
        add("stored data runs past the end", w, -1, "");
    }
    {
        bit_writer w;
        w.put(1, 1);
        w.put(0, 2);
        w.align();
        w.put(10, 16);
        add("stored header runs past the end", w, -1, "");
    }
    {
        bit_writer w;  // fixed block: 'a', 'b', then a match of length 3 at distance 2, EOB
        w.put(1, 1);
        w.put(1, 2);
        fl.put(w, 'a');
        fl.put(w, 'b');
        fl.put(w, 257);
        fd.put(w, 1);
        fl.put(w, 256);
        add("fixed block with an overlapping match", w, 0, "ababa");
    }
    {
        bit_writer w;
        w.put(1, 1);
        w.put(1, 2);
        fl.put(w, 'x');
        fl.put(w, 286);
        add("fixed length symbol 286", w, 0, "x");
    }
    {
        bit_writer w;
        w.put(1, 1);
        w.put(1, 2);
        fl.put(w, 'x');
        fl.put(w, 287);
        add("fixed length symbol 287", w, 0, "x");
    }
    {
        bit_writer w;
        w.put(1, 1);
        w.put(1, 2);
        fl.put(w, 'x');
        fl.put(w, 'y');
        fl.put(w, 257);
        fd.put(w, 30);
        add("fixed distance symbol 30", w, 0, "xy");
    }
    {
        bit_writer w;
        w.put(1, 1);
        w.put(1, 2);
        fl.put(w, 'x');
        fl.put(w, 'y');
        fl.put(w, 257);
        fd.put(w, 2);  // distance 3 with only two bytes written
        fl.put(w, 256);
        add("distance before the first byte", w, 0, "xy");
    }
    {
        bit_writer w;  // a valid first block, then a distance reaching before it
        stored_block(w, false, "12345");
        w.put(1, 1);
        w.put(1, 2);
        fl.put(w, 257);
        fd.put(w, 5);  // distances 7-8: 1 extra bit
        w.put(1, 1);   // distance 8 > 5
        add("distance too far back in a later block", w, 0, "12345");
    }
    {
        bit_writer w;
        stored_block(w, false, "12345");
        w.put(1, 1);
        w.put(1, 2);
        fl.put(w, 257);
        fd.put(w, 4);  // distances 5-6
        w.put(0, 1);   // distance 5: reaches the first byte exactly
        fl.put(w, 256);
        add("distance to the first byte", w, 0, "12345123");
    }
    {
        bit_writer w;
        w.put(1, 1);
        w.put(1, 2);
        fl.put(w, 'q');
        add("fixed block without its end code", w, -1, "");
    }
    const std::vector<int> lit = simple_lit_lens();
    const std::vector<int> dist2 = {1, 1};
    const std::vector<int> cl = default_clen_lens();
    {
        bit_writer w;
        dynamic_header(w, true, 264, 2, cl, plain(lit, dist2));
        huff hl(lit), hd(dist2);
        hl.put(w, 'h');
        hl.put(w, 'i');
        hl.put(w, 257);
        hd.put(w, 1);  // distance 2
        hl.put(w, 256);
        add("valid dynamic block", w, 0, "hihih");
    }
    {
        bit_writer w;
        dynamic_header(w, true, 287, 2, cl, {});
        add("287 literal/length codes", w, 0, "");
    }
    {
        bit_writer w;
        dynamic_header(w, true, 264, 31, cl, {});
        add("31 distance codes", w, 0, "");
    }
    {
        bit_writer w;
        std::vector<int> inc = cl;
        inc[18] = 0;  // one 5-bit code missing
        dynamic_header(w, true, 264, 2, inc, {});
        add("incomplete code-length code", w, 0, "");
    }
    {
        bit_writer w;
        std::vector<int> over = cl;
        over[17] = 4;
        dynamic_header(w, true, 264, 2, over, {});
        add("over-subscribed code-length code", w, 0, "");
    }
    {
        // An empty code-length code is incomplete: refused at once. (zlib
        // instead reads one bit per length before it notices.)
        bit_writer w;
        dynamic_header(w, true, 264, 2, std::vector<int>(19, 0), {});
        v.push_back({"empty code-length code", w.zlib(), 0, "", false});
    }
    {
        bit_writer w;
        std::vector<clsym> seq = {{16, 0}};
        dynamic_header(w, true, 264, 2, cl, seq);
        add("repeat with no previous length", w, 0, "");
    }
    {
        bit_writer w;
        std::vector<clsym> seq;
        for (int i = 0; i < 260; ++i) seq.push_back({8, 0});
        seq.push_back({18, 0});  // 11 zeros, only 7 lengths left
        dynamic_header(w, true, 264, 2, cl, seq);
        add("zero run past the declared lengths", w, 0, "");
    }
    {
        bit_writer w;
        std::vector<clsym> seq;
        for (int i = 0; i < 264; ++i) seq.push_back({8, 0});
        seq.push_back({16, 0});  // 3 more lengths, only 2 left
        dynamic_header(w, true, 264, 2, cl, seq);
        add("repeat past the declared lengths", w, 0, "");
    }
    {
        // A repeat may run from the literal/length lengths into the distance lengths.
        bit_writer w;
        std::vector<int> l2(258, 0);
        l2['A'] = 1;
        l2[256] = 2;
        l2[257] = 2;
        // 65 zeros, 'A' = 1, 190 zeros, 256 = 2, 257 = 2, then 4 x 2 (the four distance codes).
        std::vector<clsym> seq = {{18, 54}, {1, 0}, {18, 127}, {18, 41}, {2, 0}, {2, 0}, {16, 1}};
        dynamic_header(w, true, 258, 4, cl, seq);
        huff hl(l2), hd({2, 2, 2, 2});
        hl.put(w, 'A');
        hl.put(w, 'A');
        hl.put(w, 257);
        hd.put(w, 0);  // distance 1
        hl.put(w, 256);
        add("repeat across the two length lists", w, 0, "AAAAA");
    }
    {
        bit_writer w;
        std::vector<int> noeob = lit;
        noeob[256] = 0;
        dynamic_header(w, true, 264, 2, cl, plain(noeob, dist2));
        add("no end-of-block code", w, 0, "");
    }
    {
        bit_writer w;
        std::vector<int> over = lit;
        over[0] = 7;
        dynamic_header(w, true, 264, 2, cl, plain(over, dist2));
        add("over-subscribed literal/length code", w, 0, "");
    }
    {
        bit_writer w;
        std::vector<int> inc = lit;
        inc[263] = 0;
        dynamic_header(w, true, 264, 2, cl, plain(inc, dist2));
        add("incomplete literal/length code", w, 0, "");
    }
    {
        bit_writer w;
        dynamic_header(w, true, 264, 2, cl, plain(lit, {1, 2}));
        add("incomplete distance code", w, 0, "");
    }
    {
        bit_writer w;
        dynamic_header(w, true, 264, 3, cl, plain(lit, {1, 1, 1}));
        add("over-subscribed distance code", w, 0, "");
    }
    {
        // Only the end-of-block code, of one bit: allowed; the unused bit
        // pattern "1" is then invalid in the next block's position.
        bit_writer w;
        std::vector<int> only(257, 0);
        only[256] = 1;
        dynamic_header(w, false, 257, 1, cl, plain(only, {0}));
        w.code(0, 1);  // end of block
        stored_block(w, true, "z");
        add("single one-bit end-of-block code", w, 0, "z");
    }
    {
        bit_writer w;
        std::vector<int> only(257, 0);
        only[256] = 1;
        dynamic_header(w, true, 257, 1, cl, plain(only, {0}));
        w.code(1, 1);  // the unused code
        add("bit sequence matching no literal/length code", w, 0, "");
    }
    {
        // No distance codes at all: literals only is valid; a length code then
        // finds no distance code.
        bit_writer w;
        dynamic_header(w, false, 264, 1, cl, plain(lit, {0}));
        huff hl(lit);
        hl.put(w, 'o');
        hl.put(w, 'k');
        hl.put(w, 256);
        dynamic_header(w, true, 264, 1, cl, plain(lit, {0}));
        hl.put(w, '!');
        hl.put(w, 258);
        w.put(0, 8);
        add("empty distance code", w, 0, "ok!");
    }
    {
        // One distance code of one bit: code 0 works, code 1 matches nothing.
        bit_writer w;
        dynamic_header(w, true, 264, 1, cl, plain(lit, {1}));
        huff hl(lit);
        hl.put(w, 'a');
        hl.put(w, 257);
        w.code(0, 1);  // distance 1
        hl.put(w, 257);
        w.code(1, 1);
        w.put(0, 8);
        add("single one-bit distance code", w, 0, "aaaa");
    }
    {
        bit_writer w;  // the header itself is cut
        w.put(1, 1);
        w.put(2, 2);
        w.put(0, 5);
        add("dynamic header runs past the end", w, -1, "");
    }
    return v;
}

// Fixed-code length and distance symbols with their extra bits.
void put_length(bit_writer& w, int len) {
    static const int BASE[29] = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27,
                                 31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
    static const int EXTRA[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2, 2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
    int i = 28;
    while (BASE[i] > len) --i;
    fixed_lit().put(w, 257 + i);
    w.put(len - BASE[i], EXTRA[i]);
}
void put_distance(bit_writer& w, int dist) {
    static const int BASE[30] = {1,   2,   3,   4,   5,   7,    9,    13,   17,   25,   33,   49,   65,    97,    129,
                                 193, 257, 385, 513, 769, 1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577};
    int i = 29;
    while (BASE[i] > dist) --i;
    fixed_dist().put(w, i);
    w.put(dist - BASE[i], i < 4 ? 0 : (i - 2) / 2);
}

TEST(InflateHandmade, MatchesEndingAtTheCapacity) {
    // A fixed block of literals, one match and up to two more literals, decoded
    // into exactly the output size: the word-wise match copy must not write
    // past the capacity, whatever the length, distance and room left (an
    // overrun shows in the sanitizer build).
    std::mt19937 rng(11);
    const int DISTS[] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 12, 15, 16, 17, 24, 31, 32, 33, 100, 257, 258, 259, 1000, 32768};
    for (int dist : DISTS) {
        for (int len = 3; len <= 258; len += (len < 20 || len > 240) ? 1 : 7) {
            for (int tail = 0; tail <= 2; ++tail) {
                const int lead = std::max(dist, 300) + static_cast<int>(rng() % 40);
                bit_writer w;
                w.put(1, 1);
                w.put(1, 2);
                std::string want;
                for (int i = 0; i < lead; ++i) {
                    int c = static_cast<int>(rng() % 256);
                    fixed_lit().put(w, c);
                    want += static_cast<char>(c);
                }
                put_length(w, len);
                put_distance(w, dist);
                for (int i = 0; i < len; ++i) want += want[want.size() - dist];
                for (int i = 0; i < tail; ++i) {
                    fixed_lit().put(w, 'a' + i);
                    want += static_cast<char>('a' + i);
                }
                fixed_lit().put(w, 256);
                // Bytes after the final block (a checksum, junk) keep the
                // decoder's fast path running up to the last match.
                for (size_t junk : {0, 4, 20}) {
                    const std::string z = w.zlib() + std::string(junk, '\x5a');
                    decoded d = inflate_cap(z, want.size());
                    ASSERT_EQ(d.rc, 0) << "dist " << dist << " len " << len;
                    ASSERT_TRUE(d.out == want) << "dist " << dist << " len " << len << " tail " << tail;
                    ASSERT_EQ(inflate_cap(z, want.size() - 1).rc, -1);
                }
            }
        }
    }
}

TEST(InflateHandmade, InvalidDataStopsWithTheBytesSoFar) {
    for (const handmade& c : handmade_cases()) {
        decoded d = inflate_cap(c.z, 1000);
        EXPECT_EQ(d.rc, c.rc) << c.name;
        EXPECT_EQ(d.out, c.out) << c.name;
        if (!c.zlib_agrees) continue;
        zresult ref = zlib_raw(c.z, 1000);
        if (c.rc == -1) {
            EXPECT_EQ(ref.verdict, zverdict::needs_input) << c.name;
        } else {
            EXPECT_NE(ref.verdict, zverdict::needs_input) << c.name;
            EXPECT_EQ(ref.out, c.out) << c.name;
        }
    }
}

}  // namespace
