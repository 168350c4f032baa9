// Decoding throughput of inflate_decompress next to zlib's inflate, on the
// same zlib streams in one process. Prints output MB/s for both and the ratio.
//
//   inflate_bench [max_size_mb]     (default 64)
#include <zlib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "syntax/inflate.h"

namespace {

std::string gen_text(size_t n, std::mt19937& rng) {
    static const char* SYL[] = {"the", "an", "or", "pe", "lix", "dor", "ma", "ent", "ion", "qu", "st", "ra",
                                "ve", "ll", "ix", "on", "ta", "ber", "so", "ce", "ul", "tr", "ph", "ey"};
    std::vector<std::string> words;
    for (int i = 0; i < 2000; ++i) {
        std::string w;
        int k = 1 + static_cast<int>(rng() % 4);
        for (int j = 0; j < k; ++j) w += SYL[rng() % (sizeof SYL / sizeof *SYL)];
        if (rng() % 7 == 0) w[0] = static_cast<char>(w[0] - 32);
        words.push_back(w);
    }
    std::string s;
    s.reserve(n + 64);
    std::uniform_real_distribution<double> u01(0, 1);
    while (s.size() < n) {
        double u = u01(rng);
        s += words[static_cast<size_t>(words.size() * u * u * u)];
        unsigned r = rng() % 30;
        if (r == 2) {
            s += ' ';
            s += std::to_string(rng() % 100000);
        }
        s += r == 0 ? ".\n" : r == 1 ? ", " : " ";
    }
    s.resize(n);
    return s;
}

// Binary content like the data of PDF streams: fixed-size records with
// counters and small fields, runs, and stretches of noise.
std::string gen_binary(size_t n, std::mt19937& rng) {
    std::string s;
    s.reserve(n + 4096);
    uint32_t counter = 0;
    while (s.size() < n) {
        unsigned kind = rng() % 8;
        if (kind < 5) {
            for (int i = 0; i < 64; ++i) {
                uint8_t rec[20] = {};
                counter += 1 + rng() % 5;
                std::memcpy(rec, &counter, 4);
                rec[5] = static_cast<uint8_t>(rng() % 8);
                rec[9] = static_cast<uint8_t>(rng());
                rec[12] = static_cast<uint8_t>(rng() % 3 ? 0 : rng());
                rec[16] = static_cast<uint8_t>(i);
                s.append(reinterpret_cast<char*>(rec), sizeof rec);
            }
        } else if (kind < 7) {
            s.append(16 + rng() % 600, static_cast<char>(rng() % 3 ? 0 : 0xFF));
        } else {
            for (int i = 0, m = 64 + static_cast<int>(rng() % 512); i < m; ++i) s += static_cast<char>(rng());
        }
    }
    s.resize(n);
    return s;
}

std::string compress(const std::string& data, int level) {
    uLongf cap = compressBound(data.size());
    std::string out(cap, '\0');
    if (compress2(reinterpret_cast<Bytef*>(out.data()), &cap, reinterpret_cast<const Bytef*>(data.data()), data.size(),
                  level) != Z_OK) {
        std::fprintf(stderr, "compress2 failed\n");
        std::exit(1);
    }
    out.resize(cap);
    return out;
}

// One complete decode with zlib: init, one inflate call into the whole buffer, end.
size_t zlib_decode(const std::string& z, uint8_t* dst, size_t cap) {
    z_stream zs{};
    inflateInit(&zs);
    zs.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(z.data()));
    zs.avail_in = static_cast<uInt>(z.size());
    zs.next_out = dst;
    zs.avail_out = static_cast<uInt>(cap);
    int rc = inflate(&zs, Z_FINISH);
    size_t n = zs.total_out;
    inflateEnd(&zs);
    return rc == Z_STREAM_END ? n : 0;
}

size_t ours_decode(const std::string& z, uint8_t* dst, size_t cap) {
    uint64_t n = 0;
    int rc = inflate_decompress(reinterpret_cast<const uint8_t*>(z.data()), z.size(), dst, cap, &n);
    return rc == 0 ? static_cast<size_t>(n) : 0;
}

using decode_fn = size_t (*)(const std::string&, uint8_t*, size_t);

double seconds_per_decode(decode_fn fn, const std::string& z, uint8_t* dst, size_t cap, size_t expect, int reps) {
    auto t0 = std::chrono::steady_clock::now();
    for (int i = 0; i < reps; ++i) {
        if (fn(z, dst, cap) != expect) {
            std::fprintf(stderr, "decode failed\n");
            std::exit(1);
        }
    }
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count() / reps;
}

// Best time per decode of each decoder over several rounds; the two take
// turns within each round so that both see the same machine load.
void best_seconds(const std::string& z, uint8_t* dst, size_t size, double* ours, double* ref) {
    const int reps = static_cast<int>(std::max<size_t>(1, (8u << 20) / size));
    *ours = *ref = 1e30;
    for (int round = 0; round < 7; ++round) {
        *ours = std::min(*ours, seconds_per_decode(ours_decode, z, dst, size, size, reps));
        *ref = std::min(*ref, seconds_per_decode(zlib_decode, z, dst, size, size, reps));
    }
}

}  // namespace

int main(int argc, char** argv) {
    size_t max_mb = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 64;
    std::mt19937 rng(20240601);
    struct kind {
        const char* name;
        std::string (*gen)(size_t, std::mt19937&);
    } kinds[] = {{"text", gen_text}, {"binary", gen_binary}};
    const size_t sizes[] = {1u << 10, 16u << 10, 256u << 10, 4u << 20, 64u << 20};
    std::printf("%-7s %9s %6s %10s %10s %10s %7s\n", "data", "size", "level", "packed", "ours MB/s", "zlib MB/s",
                "ratio");
    double sum_ratio = 0, min_ratio = 1e9;
    int count = 0;
    for (const kind& k : kinds) {
        for (size_t size : sizes) {
            if (size > max_mb << 20) continue;
            std::string data = k.gen(size, rng);
            for (int level : {1, 6, 9}) {
                std::string z = compress(data, level);
                std::vector<uint8_t> out(size);
                // Check both decoders give the original data once.
                if (ours_decode(z, out.data(), size) != size || std::memcmp(out.data(), data.data(), size) != 0 ||
                    zlib_decode(z, out.data(), size) != size || std::memcmp(out.data(), data.data(), size) != 0) {
                    std::fprintf(stderr, "mismatch on %s %zu\n", k.name, size);
                    return 1;
                }
                double ours, ref;
                best_seconds(z, out.data(), size, &ours, &ref);
                double mb = static_cast<double>(size) / 1e6;
                double ratio = ref / ours;
                sum_ratio += ratio;
                if (ratio < min_ratio) min_ratio = ratio;
                ++count;
                char label[32];
                if (size >= (1u << 20))
                    std::snprintf(label, sizeof label, "%zu MiB", size >> 20);
                else
                    std::snprintf(label, sizeof label, "%zu KiB", size >> 10);
                std::printf("%-7s %9s %6d %10zu %10.1f %10.1f %7.2f\n", k.name, label, level, z.size(), mb / ours,
                            mb / ref, ratio);
                std::fflush(stdout);
            }
        }
    }
    std::printf("ratio ours/zlib: mean %.2f, min %.2f over %d cases (zlib %s)\n", sum_ratio / count, min_ratio, count,
                zlibVersion());
    return 0;
}
