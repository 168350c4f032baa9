#include "syntax/deflate.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace {

constexpr uint32_t WINDOW = 32768;
constexpr uint32_t MIN_MATCH = 3;
constexpr uint32_t MAX_MATCH = 258;
constexpr int HASH_BITS = 15;
constexpr int MAX_CHAIN = 32;

constexpr uint16_t LEN_BASE[29] = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27,
                                   31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
constexpr uint8_t LEN_EXTRA[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2, 2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
constexpr uint16_t DIST_BASE[30] = {1,   2,   3,   4,   5,   7,    9,    13,   17,   25,   33,   49,   65,    97,    129,
                                    193, 257, 385, 513, 769, 1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577};
constexpr uint8_t DIST_EXTRA[30] = {0, 0, 0, 0, 1, 1, 2, 2, 3, 3, 4, 4, 5, 5, 6, 6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};

struct bit_writer {
    std::string* out;
    uint64_t acc = 0;
    int count = 0;

    // The low n bits of v, least significant first.
    void put(uint32_t v, int n) {
        acc |= static_cast<uint64_t>(v) << count;
        count += n;
        while (count >= 8) {
            out->push_back(static_cast<char>(acc & 0xFF));
            acc >>= 8;
            count -= 8;
        }
    }
    // A Huffman code of n bits, most significant first.
    void code(uint32_t c, int n) {
        uint32_t r = 0;
        for (int i = 0; i < n; ++i) r |= ((c >> i) & 1u) << (n - 1 - i);
        put(r, n);
    }
    void flush() {
        if (count > 0) out->push_back(static_cast<char>(acc & 0xFF));
        acc = 0;
        count = 0;
    }
};

// The fixed literal/length code of symbol s (0 to 287).
void put_symbol(bit_writer& w, uint32_t s) {
    if (s < 144)
        w.code(0x30 + s, 8);
    else if (s < 256)
        w.code(0x190 + (s - 144), 9);
    else if (s < 280)
        w.code(s - 256, 7);
    else
        w.code(0xC0 + (s - 280), 8);
}

void put_match(bit_writer& w, uint32_t len, uint32_t dist) {
    int li = 28;
    while (LEN_BASE[li] > len) --li;
    put_symbol(w, 257 + static_cast<uint32_t>(li));
    if (LEN_EXTRA[li]) w.put(len - LEN_BASE[li], LEN_EXTRA[li]);
    int di = 29;
    while (DIST_BASE[di] > dist) --di;
    w.code(static_cast<uint32_t>(di), 5);
    if (DIST_EXTRA[di]) w.put(dist - DIST_BASE[di], DIST_EXTRA[di]);
}

uint32_t hash3(const uint8_t* p) {
    uint32_t v = (static_cast<uint32_t>(p[0]) << 16) | (static_cast<uint32_t>(p[1]) << 8) | p[2];
    return (v * 2654435761u) >> (32 - HASH_BITS);
}

uint32_t adler32(const uint8_t* p, uint64_t n) {
    uint32_t a = 1, b = 0;
    while (n > 0) {
        uint64_t k = std::min<uint64_t>(n, 5552);
        n -= k;
        while (k--) {
            a += *p++;
            b += a;
        }
        a %= 65521;
        b %= 65521;
    }
    return (b << 16) | a;
}

}  // namespace

std::string deflate_compress(const uint8_t* src, uint64_t n) {
    std::string out;
    out.reserve(static_cast<size_t>(n / 4 + 64));
    out.push_back(static_cast<char>(0x78));
    out.push_back(static_cast<char>(0x01));
    bit_writer w{&out};
    w.put(1, 1);  // last block
    w.put(1, 2);  // fixed Huffman codes
    std::vector<int64_t> head(size_t{1} << HASH_BITS, -1);
    std::vector<int64_t> prev(WINDOW, -1);
    auto insert = [&](uint64_t i) {
        uint32_t h = hash3(src + i);
        prev[i % WINDOW] = head[h];
        head[h] = static_cast<int64_t>(i);
    };
    uint64_t i = 0;
    while (i < n) {
        uint32_t best = 0, best_dist = 0;
        if (i + MIN_MATCH <= n) {
            const uint64_t limit = std::min<uint64_t>(MAX_MATCH, n - i);
            int64_t cand = head[hash3(src + i)];
            for (int chain = 0; cand >= 0 && chain < MAX_CHAIN; ++chain) {
                const uint64_t c = static_cast<uint64_t>(cand);
                if (i - c > WINDOW - 1) break;
                uint32_t len = 0;
                while (len < limit && src[c + len] == src[i + len]) ++len;
                if (len > best) {
                    best = len;
                    best_dist = static_cast<uint32_t>(i - c);
                    if (len == limit) break;
                }
                int64_t next = prev[c % WINDOW];
                if (next >= cand) break;  // the slot was reused by a newer position
                cand = next;
            }
        }
        if (best >= MIN_MATCH) {
            put_match(w, best, best_dist);
            for (uint64_t k = 0; k < best; ++k, ++i)
                if (i + MIN_MATCH <= n) insert(i);
        } else {
            put_symbol(w, src[i]);
            if (i + MIN_MATCH <= n) insert(i);
            ++i;
        }
    }
    put_symbol(w, 256);
    w.flush();
    uint32_t a = adler32(src, n);
    for (int k = 3; k >= 0; --k) out.push_back(static_cast<char>((a >> (8 * k)) & 0xFF));
    return out;
}
