// Inputs the fuzz targets once failed on, checked by the same properties
// (fuzz/properties.h): tests/fuzz_regressions/<target>/ holds one file per
// case, named for what it broke. Those under writers/ are documents whose
// copies rightly read differently (the reasons are in copy_difference_reason).
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "../fuzz/properties.h"
#include "support/pdf_builder.h"

namespace fs = std::filesystem;

namespace {

std::vector<fs::path> cases(const char* target) {
    std::vector<fs::path> files;
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(fs::path(VELLIX_SOURCE_DIR) / "tests/fuzz_regressions" / target, ec))
        if (e.is_regular_file()) files.push_back(e.path());
    std::sort(files.begin(), files.end());
    return files;
}

const uint8_t* bytes_of(const std::string& s) { return reinterpret_cast<const uint8_t*>(s.data()); }

// Every saved PDF input, whichever target found it, goes through both the
// text-export and the writer properties.
std::vector<fs::path> pdf_cases() {
    std::vector<fs::path> files = cases("text_exports"), more = cases("writers");
    files.insert(files.end(), more.begin(), more.end());
    return files;
}

}  // namespace

TEST(FuzzRegressions, TextExports) {
    TempDir tmp;
    int n = 0;
    for (const fs::path& f : pdf_cases()) {
        // A directory of its own per case: the batch read must see only the input.
        fs::path dir = tmp.path() / std::to_string(n++);
        fs::create_directory(dir);
        std::string data = read_file(f);
        EXPECT_EQ(fuzzprop::check_text_exports(dir.string(), bytes_of(data), data.size()), "") << f.filename();
    }
}

// Full rewrites, updates appended under VELLIX_INCREMENTAL, and rewrites
// copying object streams under VELLIX_KEEP_STREAMS.
TEST(FuzzRegressions, Writers) {
    TempDir tmp;
    for (unsigned bits : {0u, VELLIX_INCREMENTAL, VELLIX_KEEP_STREAMS}) {
        for (const fs::path& f : pdf_cases()) {
            std::string data = read_file(f);
            EXPECT_EQ(fuzzprop::check_writers(tmp.path().string(), bytes_of(data), data.size(), bits), "")
                << f.filename() << " options " << bits;
        }
    }
}

// The committed seeds of the PDF targets, through the same properties (both
// option sets), so that a fault on them shows in the test run without clang.
TEST(FuzzRegressions, Seeds) {
    std::vector<fs::path> files;
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(fs::path(VELLIX_SOURCE_DIR) / "fuzz/seeds/text_exports", ec))
        if (e.is_regular_file()) files.push_back(e.path());
    std::sort(files.begin(), files.end());
    ASSERT_FALSE(files.empty());
    TempDir tmp;
    int n = 0;
    for (const fs::path& f : files) {
        fs::path dir = tmp.path() / std::to_string(n++);
        fs::create_directory(dir);
        std::string data = read_file(f);
        EXPECT_EQ(fuzzprop::check_text_exports(dir.string(), bytes_of(data), data.size()), "") << f.filename();
        EXPECT_EQ(fuzzprop::check_writers(dir.string(), bytes_of(data), data.size()), "") << f.filename();
        EXPECT_EQ(fuzzprop::check_writers(dir.string(), bytes_of(data), data.size(), VELLIX_KEEP_STREAMS), "")
            << f.filename() << " (keep streams)";
    }
}

TEST(FuzzRegressions, JsonArguments) {
    TempDir tmp;
    std::string fixture = tmp.file("fixture.pdf");
    write_file(fixture, fuzzprop::json_args_fixture());
    for (const fs::path& f : cases("json_args")) {
        std::string data = read_file(f);
        EXPECT_EQ(fuzzprop::check_json_args(fixture, tmp.file("out.pdf"), bytes_of(data), data.size()), "")
            << f.filename();
    }
}

#ifdef VELLIX_HAVE_ZLIB
TEST(FuzzRegressions, Inflate) {
    const std::vector<fs::path> files = cases("inflate");
    if (files.empty()) GTEST_SKIP() << "no saved inputs for the Flate decoder";
    for (const fs::path& f : files) {
        std::string data = read_file(f);
        EXPECT_EQ(fuzzprop::check_inflate(bytes_of(data), data.size()), "") << f.filename();
    }
}
#endif
