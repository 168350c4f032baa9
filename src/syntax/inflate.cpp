// zlib (RFC 1950) / DEFLATE (RFC 1951) decoder into a caller buffer.
//
// Huffman codes are decoded with lookup tables: a 10-bit primary table for
// literal/length codes and an 8-bit one for distance codes, each with
// sub-tables for the longer codes. Bits come from a 64-bit buffer refilled
// eight bytes at a time while enough input remains; near the end the buffer
// is filled byte by byte and padded with zero bits, and every result other
// than a failure first checks that no padding bit was consumed, so a stream
// that needs a bit beyond its end is always reported as ending early.
//
// The same decoder also runs in a measuring mode (inflate_measure): its output
// buffer is then a sliding window that keeps the last 32 KiB, so the decoded
// length of a stream is learnt without storing the whole output.
#include "syntax/inflate.h"

#include <cstddef>
#include <cstring>
#include <type_traits>

namespace {

// A table entry:
//   bits 0-7   bits to consume (code length plus extra bits; for a sub-table
//              link the primary table's index width)
//   bits 8-11  code length (for a sub-table link: the sub-table's index width)
//   bit 12     link to a sub-table
//   bit 13     end of block
//   bit 14     invalid code (no symbol, or a symbol the format forbids)
//   bits 16-30 literal byte, length base, distance base, code-length symbol,
//              or sub-table offset
//   bit 31     literal
constexpr uint32_t E_SUB = 1u << 12;
constexpr uint32_t E_EOB = 1u << 13;
constexpr uint32_t E_BAD = 1u << 14;
constexpr uint32_t E_LIT = 1u << 31;
constexpr uint32_t E_SPECIAL = E_SUB | E_EOB | E_BAD;

constexpr unsigned LIT_ROOT = 10;
constexpr unsigned DIST_ROOT = 8;
constexpr unsigned CLEN_ROOT = 7;
// Upper bounds on primary plus sub-table entries: a sub-table of d index bits
// needs at least d + 1 codes below its prefix, so with 288 (32) symbols and
// codes of at most 15 bits the sub-tables hold at most 48 * 32 (4 * 128).
constexpr unsigned LIT_TABLE_CAP = (1u << LIT_ROOT) + 48 * 32;
constexpr unsigned DIST_TABLE_CAP = (1u << DIST_ROOT) + 4 * 128;
constexpr unsigned CLEN_TABLE_CAP = 1u << CLEN_ROOT;

constexpr uint64_t MAX_CAP = 1073741824;

constexpr uint16_t LEN_BASE[29] = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27,
                                   31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
constexpr uint8_t LEN_EXTRA[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                   2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
constexpr uint16_t DIST_BASE[30] = {1,   2,   3,   4,   5,   7,    9,    13,   17,   25,   33,   49,   65,    97,    129,
                                    193, 257, 385, 513, 769, 1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577};
constexpr uint8_t DIST_EXTRA[30] = {0, 0, 0, 0, 1, 1, 2, 2, 3, 3, 4, 4, 5, 5, 6,
                                    6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};
constexpr uint8_t CLEN_ORDER[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};

enum class code_kind { litlen, dist, clen };

constexpr uint32_t entry(uint32_t flags, uint32_t value, unsigned clen, unsigned extra) {
    return flags | (value << 16) | (clen << 8) | (clen + extra);
}

// The entry of symbol sym whose code has len bits left at this table level.
constexpr uint32_t sym_entry(code_kind kind, unsigned sym, unsigned len) {
    switch (kind) {
    case code_kind::litlen:
        if (sym < 256) return entry(E_LIT, sym, len, 0);
        if (sym == 256) return entry(E_EOB, 0, len, 0);
        if (sym < 286) return entry(0, LEN_BASE[sym - 257], len, LEN_EXTRA[sym - 257]);
        return entry(E_BAD, 0, len, 0);  // 286 and 287 exist only in the fixed code
    case code_kind::dist:
        if (sym < 30) return entry(0, DIST_BASE[sym], len, DIST_EXTRA[sym]);
        return entry(E_BAD, 0, len, 0);  // 30 and 31 exist only in the fixed code
    case code_kind::clen:
        break;
    }
    return entry(0, sym, len, 0);
}

// Builds the lookup table of the canonical code given by lens[0..n). Returns
// false for an over-subscribed code, and for an incomplete one unless it is
// an empty or single one-bit literal/length or distance code, whose missing
// codes become invalid one-bit entries.
constexpr bool build_table(uint32_t* table, unsigned cap, const uint8_t* lens, unsigned n, unsigned root,
                           code_kind kind) {
    uint16_t count[16] = {};
    for (unsigned s = 0; s < n; ++s) ++count[lens[s]];
    int left = 1;
    for (unsigned len = 1; len <= 15; ++len) {
        left = (left << 1) - count[len];
        if (left < 0) return false;
    }
    unsigned maxlen = 15;
    while (maxlen > 0 && count[maxlen] == 0) --maxlen;
    const unsigned root_size = 1u << root;
    if (left > 0) {
        if (kind == code_kind::clen || maxlen > 1) return false;
        for (unsigned i = 0; i < root_size; ++i) table[i] = entry(E_BAD, 0, 1, 0);
        if (maxlen == 0) return true;
    }

    uint16_t offs[16] = {};
    for (unsigned len = 1; len < 15; ++len) offs[len + 1] = static_cast<uint16_t>(offs[len] + count[len]);
    uint16_t sorted[288] = {};
    for (unsigned s = 0; s < n; ++s)
        if (lens[s]) sorted[offs[lens[s]]++] = static_cast<uint16_t>(s);

    uint16_t remaining[16] = {};
    for (unsigned len = 0; len < 16; ++len) remaining[len] = count[len];

    // The primary table is filled by doubling: before the codes of length
    // len are written, its first 2^(len-1) entries (correct for every shorter
    // code) are copied after themselves, which repeats each shorter code at
    // its stride; a code of length len then has one entry in the first 2^len.
    auto grow = [&](unsigned& filled, unsigned to) {
        for (; filled < to; filled *= 2) {
            if (std::is_constant_evaluated()) {
                for (unsigned i = 0; i < filled; ++i) table[filled + i] = table[i];
            } else {
                std::memcpy(table + filled, table, filled * sizeof(uint32_t));
            }
        }
    };
    unsigned filled = 1;
    unsigned huff = 0;  // current code, bit-reversed (first bit in bit 0)
    unsigned idx = 0;
    unsigned next = root_size;  // first free entry after the primary table
    unsigned cur_prefix = ~0u, sub_base = 0, sub_bits = 0;
    for (unsigned len = 1; len <= maxlen; ++len) {
        if (len <= root) grow(filled, 1u << len);
        for (unsigned c = 0; c < count[len]; ++c) {
            unsigned sym = sorted[idx++];
            if (len <= root) {
                table[huff] = sym_entry(kind, sym, len);
            } else {
                unsigned prefix = huff & (root_size - 1);
                if (prefix != cur_prefix) {
                    // Size the sub-table so that the codes under this prefix fill it.
                    unsigned curr = len - root;
                    int space = 1 << curr;
                    while (curr + root < maxlen) {
                        space -= remaining[curr + root];
                        if (space <= 0) break;
                        ++curr;
                        space <<= 1;
                    }
                    if (next + (1u << curr) > cap) return false;
                    table[prefix] = E_SUB | (next << 16) | (curr << 8) | root;
                    cur_prefix = prefix;
                    sub_base = next;
                    sub_bits = curr;
                    next += 1u << curr;
                }
                uint32_t e = sym_entry(kind, sym, len - root);
                for (unsigned i = huff >> root; i < (1u << sub_bits); i += 1u << (len - root)) table[sub_base + i] = e;
            }
            --remaining[len];
            // Next code of the same length, incremented in bit-reversed form.
            unsigned inc = 1u << (len - 1);
            while (huff & inc) inc >>= 1;
            huff = inc ? (huff & (inc - 1)) + inc : 0;
        }
    }
    grow(filled, root_size);
    return true;
}

struct fixed_tables {
    uint32_t lit[1u << LIT_ROOT] = {};
    uint32_t dist[1u << DIST_ROOT] = {};
};

constexpr fixed_tables make_fixed_tables() {
    fixed_tables t;
    uint8_t lens[288] = {};
    for (unsigned s = 0; s < 288; ++s) lens[s] = s < 144 ? 8 : s < 256 ? 9 : s < 280 ? 7 : 8;
    build_table(t.lit, 1u << LIT_ROOT, lens, 288, LIT_ROOT, code_kind::litlen);
    uint8_t dlens[32] = {};
    for (unsigned s = 0; s < 32; ++s) dlens[s] = 5;
    build_table(t.dist, 1u << DIST_ROOT, dlens, 32, DIST_ROOT, code_kind::dist);
    return t;
}

// The fixed codes, computed at compile time: nothing to build or guard at run time.
constexpr fixed_tables FIXED = make_fixed_tables();

inline uint64_t load64le(const uint8_t* p) {
    uint64_t v;
    std::memcpy(&v, p, 8);
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
    v = __builtin_bswap64(v);
#endif
    return v;
}

inline uint64_t low_bits(uint64_t v, unsigned n) { return v & ((uint64_t{1} << n) - 1); }

enum block_result { BLOCK_END, BLOCK_INVALID, BLOCK_FAIL };

// Copies a match of len bytes from dist back. May write up to 7 bytes past
// the match, so the caller keeps that much room before the buffer's end.
inline void copy_match_fast(uint8_t* out, size_t dist, size_t len) {
    const uint8_t* src = out - dist;
    uint8_t* const end = out + len;
    if (dist >= 16) {
        do {
            std::memcpy(out, src, 8);
            std::memcpy(out + 8, src + 8, 8);
            out += 16;
            src += 16;
        } while (out < end);
    } else if (dist >= 8) {
        do {
            std::memcpy(out, src, 8);
            out += 8;
            src += 8;
        } while (out < end);
    } else {
        // Short distance: lay down the first eight bytes one by one, then copy
        // whole words from a multiple of the period that is at least eight.
        static constexpr uint8_t STEP[8] = {0, 8, 8, 9, 8, 10, 12, 14};
        for (int i = 0; i < 8; ++i) out[i] = src[i];
        const size_t step = STEP[dist];
        for (uint8_t* p = out + 8; p < end; p += 8) std::memcpy(p, p - step, 8);
    }
}

inline void copy_match_exact(uint8_t* out, size_t dist, size_t len) {
    const uint8_t* src = out - dist;
    if (dist >= len) {
        std::memcpy(out, src, len);
    } else {
        for (size_t i = 0; i < len; ++i) out[i] = src[i];
    }
}

constexpr size_t WINDOW = 32768;

struct inflater {
    const uint8_t* in;
    const uint8_t* in_end;
    uint8_t* const dst;
    uint8_t* out;
    uint8_t* const out_end;
    uint64_t buf = 0;
    unsigned cnt = 0;  // valid bits in buf
    unsigned pad = 0;  // zero bits added past the end of the input
    // Measuring mode: bytes moved out of the window, and the output length
    // beyond which decoding gives up.
    bool sliding = false;
    uint64_t flushed = 0;
    uint64_t limit = 0;

    bool overrun() const { return cnt < pad; }
    uint64_t produced() const { return flushed + static_cast<uint64_t>(out - dst); }
    // Room for `need` more output bytes. In measuring mode the window slides
    // (keeping the last 32 KiB, enough for every distance) instead of failing.
    bool room(size_t need) {
        if (static_cast<size_t>(out_end - out) >= need) return true;
        if (!sliding || produced() > limit || static_cast<size_t>(out - dst) <= WINDOW) return false;
        size_t shift = static_cast<size_t>(out - dst) - WINDOW;
        std::memmove(dst, out - WINDOW, WINDOW);
        flushed += shift;
        out -= shift;
        return static_cast<size_t>(out_end - out) >= need;
    }

    void refill() {
        if (in_end - in >= 8) {
            buf |= load64le(in) << cnt;
            in += (63 - cnt) >> 3;
            cnt |= 56;
        } else {
            while (cnt <= 56) {
                if (in < in_end)
                    buf |= uint64_t{*in++} << cnt;
                else
                    pad += 8;
                cnt += 8;
            }
        }
    }
    void ensure(unsigned n) {
        if (cnt < n) refill();
    }
    void drop(unsigned n) {
        buf >>= n;
        cnt -= n;
    }

    block_result run();
    block_result stored();
    block_result dynamic(uint32_t* lit, uint32_t* dist);
    block_result codes(const uint32_t* lit, const uint32_t* dist);
};

block_result inflater::run() {
    uint32_t lit[LIT_TABLE_CAP];
    uint32_t dist[DIST_TABLE_CAP];
    for (;;) {
        ensure(3);
        unsigned final = buf & 1, type = (buf >> 1) & 3;
        drop(3);
        if (overrun()) return BLOCK_FAIL;
        block_result r;
        if (type == 0)
            r = stored();
        else if (type == 1)
            r = codes(FIXED.lit, FIXED.dist);
        else if (type == 2)
            r = dynamic(lit, dist);
        else
            r = BLOCK_INVALID;
        if (r != BLOCK_END || final) return r;
    }
}

block_result inflater::stored() {
    // Skip to a byte boundary and hand the whole bytes still buffered back to
    // the input, then read the block straight from it.
    drop(cnt & 7);
    in -= (cnt - pad) >> 3;
    buf = 0;
    cnt = pad = 0;
    if (in_end - in < 4) return BLOCK_FAIL;
    unsigned len = in[0] | (unsigned{in[1]} << 8);
    unsigned nlen = in[2] | (unsigned{in[3]} << 8);
    in += 4;
    if (len != (~nlen & 0xFFFFu)) return BLOCK_INVALID;
    if (static_cast<size_t>(in_end - in) < len) return BLOCK_FAIL;
    if (!room(len)) return BLOCK_FAIL;
    if (len) {
        std::memcpy(out, in, len);
        out += len;
        in += len;
    }
    return BLOCK_END;
}

block_result inflater::dynamic(uint32_t* lit, uint32_t* dist) {
    ensure(14);
    unsigned nlit = (buf & 31) + 257, ndist = ((buf >> 5) & 31) + 1, nclen = ((buf >> 10) & 15) + 4;
    drop(14);
    if (overrun()) return BLOCK_FAIL;
    if (nlit > 286 || ndist > 30) return BLOCK_INVALID;

    uint8_t clens[19] = {};
    for (unsigned i = 0; i < nclen; ++i) {
        ensure(3);
        clens[CLEN_ORDER[i]] = buf & 7;
        drop(3);
    }
    if (overrun()) return BLOCK_FAIL;
    uint32_t ctab[CLEN_TABLE_CAP];
    if (!build_table(ctab, CLEN_TABLE_CAP, clens, 19, CLEN_ROOT, code_kind::clen)) return BLOCK_INVALID;

    uint8_t lens[286 + 30];
    const unsigned total = nlit + ndist;
    unsigned i = 0;
    while (i < total) {
        ensure(14);
        uint32_t e = ctab[buf & (CLEN_TABLE_CAP - 1)];
        drop(e & 0xFF);
        unsigned sym = e >> 16;
        if (sym < 16) {
            if (overrun()) return BLOCK_FAIL;
            lens[i++] = static_cast<uint8_t>(sym);
            continue;
        }
        unsigned rep;
        uint8_t val = 0;
        if (sym == 16) {
            rep = 3 + (buf & 3);
            drop(2);
        } else if (sym == 17) {
            rep = 3 + (buf & 7);
            drop(3);
        } else {
            rep = 11 + (buf & 127);
            drop(7);
        }
        if (overrun()) return BLOCK_FAIL;
        if (sym == 16) {
            if (i == 0) return BLOCK_INVALID;
            val = lens[i - 1];
        }
        if (rep > total - i) return BLOCK_INVALID;
        std::memset(lens + i, val, rep);
        i += rep;
    }
    if (lens[256] == 0) return BLOCK_INVALID;
    if (!build_table(lit, LIT_TABLE_CAP, lens, nlit, LIT_ROOT, code_kind::litlen)) return BLOCK_INVALID;
    if (!build_table(dist, DIST_TABLE_CAP, lens + nlit, ndist, DIST_ROOT, code_kind::dist)) return BLOCK_INVALID;
    return codes(lit, dist);
}

// Decodes the symbols of one Huffman-coded block up to its end-of-block code.
block_result inflater::codes(const uint32_t* lit, const uint32_t* dist) {
    constexpr uint64_t LIT_MASK = (1u << LIT_ROOT) - 1;
    constexpr uint64_t DIST_MASK = (1u << DIST_ROOT) - 1;
    // Room a fast iteration may need: two refills of eight bytes each, and one
    // literal plus a 258-byte match written in words of up to 16 bytes.
    constexpr ptrdiff_t FAST_IN = 16;
    constexpr ptrdiff_t FAST_OUT = 1 + 258 + 16;

    uint64_t b = buf;
    unsigned n = cnt;
    const uint8_t* ip = in;
    uint8_t* op = out;
    auto lookup = [&](const uint32_t* t, uint64_t mask, unsigned root) {
        uint32_t e = t[b & mask];
        if (e & E_SUB) {
            b >>= root;
            n -= root;
            e = t[(e >> 16) + low_bits(b, (e >> 8) & 15)];
        }
        return e;
    };
    auto take = [&](uint32_t e) {  // consumes the entry's bits, returns its value plus extra bits
        unsigned total = e & 0xFF;
        uint32_t v = ((e >> 16) & 0x7FFF) + static_cast<uint32_t>(low_bits(b, total) >> ((e >> 8) & 15));
        b >>= total;
        n -= total;
        return v;
    };

    for (;;) {
        // Fast loop: all bits come from real input and the output has room,
        // so nothing is checked but the codes themselves.
        while (in_end - ip >= FAST_IN && out_end - op >= FAST_OUT) {
            b |= load64le(ip) << n;
            ip += (63 - n) >> 3;
            n |= 56;
            uint32_t e = lookup(lit, LIT_MASK, LIT_ROOT);
            if (e & E_LIT) {
                b >>= e & 0xFF;
                n -= e & 0xFF;
                *op++ = static_cast<uint8_t>(e >> 16);
                e = lookup(lit, LIT_MASK, LIT_ROOT);
                if (e & E_LIT) {
                    b >>= e & 0xFF;
                    n -= e & 0xFF;
                    *op++ = static_cast<uint8_t>(e >> 16);
                    continue;
                }
                b |= load64le(ip) << n;
                ip += (63 - n) >> 3;
                n |= 56;
            }
            if (e & E_SPECIAL) {
                b >>= e & 0xFF;
                n -= e & 0xFF;
                buf = b, cnt = n, in = ip, out = op;
                return (e & E_EOB) ? BLOCK_END : BLOCK_INVALID;
            }
            size_t len = take(e);
            e = lookup(dist, DIST_MASK, DIST_ROOT);
            if (e & E_BAD) {
                b >>= e & 0xFF;
                n -= e & 0xFF;
                buf = b, cnt = n, in = ip, out = op;
                return BLOCK_INVALID;
            }
            size_t d = take(e);
            if (d > static_cast<size_t>(op - dst)) {
                buf = b, cnt = n, in = ip, out = op;
                return BLOCK_INVALID;
            }
            copy_match_fast(op, d, len);
            op += len;
        }
        buf = b, cnt = n, in = ip, out = op;
        if (sliding && out_end - out < FAST_OUT) {
            if (!room(FAST_OUT)) return BLOCK_FAIL;
            op = out;
            if (in_end - ip >= FAST_IN) continue;
        }

        // One symbol with care, near the end of the input or the output:
        // padding and capacity are checked.
        refill();
        b = buf, n = cnt;
        uint32_t e = lookup(lit, LIT_MASK, LIT_ROOT);
        if (e & E_LIT) {
            buf = b >> (e & 0xFF), cnt = n - (e & 0xFF);
            if (overrun() || !room(1)) return BLOCK_FAIL;
            *out++ = static_cast<uint8_t>(e >> 16);
        } else if (e & E_SPECIAL) {
            buf = b >> (e & 0xFF), cnt = n - (e & 0xFF);
            if (overrun()) return BLOCK_FAIL;
            return (e & E_EOB) ? BLOCK_END : BLOCK_INVALID;
        } else {
            size_t len = take(e);
            e = lookup(dist, DIST_MASK, DIST_ROOT);
            if (e & E_BAD) {
                buf = b >> (e & 0xFF), cnt = n - (e & 0xFF);
                return overrun() ? BLOCK_FAIL : BLOCK_INVALID;
            }
            size_t d = take(e);
            buf = b, cnt = n;
            if (overrun()) return BLOCK_FAIL;
            if (d > static_cast<size_t>(out - dst)) return BLOCK_INVALID;
            if (!room(len)) return BLOCK_FAIL;
            copy_match_exact(out, d, len);
            out += len;
        }
        b = buf, n = cnt, ip = in, op = out;
    }
}

bool header_refused(const uint8_t* src, uint64_t src_len) {
    return !src || src_len < 2 || (src[0] & 0x0F) != 8 || (src[1] & 0x20) != 0;
}

}  // namespace

int inflate_decompress(const uint8_t* src, uint64_t src_len, uint8_t* dst, uint64_t dst_cap, uint64_t* out_len) {
    if (!out_len) return -1;
    *out_len = 0;
    if (header_refused(src, src_len) || dst_cap > MAX_CAP || (!dst && dst_cap)) return -1;
    inflater st{src + 2, src + src_len, dst, dst, dst + dst_cap};
    if (st.run() == BLOCK_FAIL) return -1;
    *out_len = static_cast<uint64_t>(st.out - dst);
    return 0;
}

int inflate_measure(const uint8_t* src, uint64_t src_len, uint64_t limit, uint8_t* scratch, uint64_t* out_len) {
    if (!out_len) return -1;
    *out_len = 0;
    if (header_refused(src, src_len) || !scratch) return -1;
    inflater st{src + 2, src + src_len, scratch, scratch, scratch + INFLATE_MEASURE_SCRATCH};
    st.sliding = true;
    st.limit = limit;
    if (st.run() == BLOCK_FAIL || st.produced() > limit) return -1;
    *out_len = st.produced();
    return 0;
}
