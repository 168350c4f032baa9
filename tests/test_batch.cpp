// Batch read and batch clear over a directory of files.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <string>

#include "support/pdf_builder.h"
#include "vellix.h"

namespace fs = std::filesystem;

namespace {

std::string info_pdf(const std::string& title) {
    return minimal_pdf(2, "<< /Title (" + title + ") /Producer (P) /CreationDate (D:20240115103000Z) >>");
}

std::string batch(const std::string& dir) {
    const char* out = nullptr;
    EXPECT_EQ(vellix_batch_read(dir.c_str(), &out), 1) << vellix_last_error();
    return out ? out : "";
}

}  // namespace

TEST(BatchRead, PicksPdfNamesInAnyCaseAndSkipsHiddenAndShortNames) {
    TempDir d;
    for (const char* name : {"one.pdf", "TWO.PDF", "three.Pdf", ".hidden.pdf", ".pdf", "notes.txt", "pdf"})
        write_file(d.path() / name, info_pdf(name));
    std::string json = batch(d.path().string());
    for (const char* name : {"one.pdf", "TWO.PDF", "three.Pdf"})
        EXPECT_NE(json.find(std::string("{\"file\":\"") + name + "\""), std::string::npos) << name;
    for (const char* name : {".hidden.pdf", "\".pdf\"", "notes.txt", "\"pdf\""})
        EXPECT_EQ(json.find(name), std::string::npos) << name;
    EXPECT_EQ(std::count(json.begin(), json.end(), '{'), 3);
}

TEST(BatchRead, ObjectLayoutIsExact) {
    TempDir d;
    std::string bytes = info_pdf("Plan");
    write_file(d.path() / "a.pdf", bytes);
    EXPECT_EQ(batch(d.path().string()),
              "[{\"file\":\"a.pdf\",\"title\":\"Plan\",\"author\":\"\",\"subject\":\"\",\"keywords\":\"\","
              "\"creator\":\"\",\"producer\":\"P\",\"creation_date\":\"2024-01-15\",\"mod_date\":\"\","
              "\"pages\":2,\"file_size\":" +
                  std::to_string(bytes.size()) + ",\"pdf_version\":\"1.4\"}]");
    EXPECT_STREQ(vellix_last_error(), "");
}

TEST(BatchRead, NameIsEscapedAndMissingVersionReads10) {
    TempDir d;
    PdfBuilder b("");
    b.obj(1, "<< /Type /Catalog >>");
    write_file(d.path() / "a\"b.pdf", b.bytes());
    std::string json = batch(d.path().string());
    EXPECT_NE(json.find("{\"file\":\"a\\\"b.pdf\""), std::string::npos) << json;
    EXPECT_NE(json.find("\"pages\":0,"), std::string::npos) << json;
    EXPECT_NE(json.find("\"pdf_version\":\"1.0\"}"), std::string::npos) << json;
}

TEST(BatchRead, OnlyTheTrailerInfoIsRead) {
    TempDir d;
    PdfBuilder b;
    b.obj(1, "<< /Type /Catalog /Pages 2 0 R >>");
    b.obj(2, "<< /Type /Pages /Kids [3 0 R] /Count 1 >>");
    b.obj(3, "<< /Type /Page /Parent 2 0 R >>");
    b.obj(4, "<< /Title (Hidden) /Producer (P) >>");
    b.xref_trailer("/Size 5 /Root 1 0 R");
    write_file(d.path() / "x.pdf", b.bytes());
    std::string json = batch(d.path().string());
    EXPECT_NE(json.find("\"title\":\"\""), std::string::npos) << json;
}

TEST(BatchRead, DamagedFileIsSkippedAndItsMessageKept) {
    TempDir d;
    write_file(d.path() / "good.pdf", info_pdf("G"));
    write_file(d.path() / "x.pdf", "not a pdf at all");
    std::string json = batch(d.path().string());
    EXPECT_EQ(std::count(json.begin(), json.end(), '{'), 1);
    EXPECT_NE(json.find("\"file\":\"good.pdf\""), std::string::npos);
    std::string msg = vellix_last_error();
    EXPECT_NE(msg.find("no PDF objects found"), std::string::npos) << msg;
    EXPECT_NE(msg.find("x.pdf"), std::string::npos) << msg;
}

TEST(BatchRead, EmptyDirectoryAndErrors) {
    TempDir d;
    EXPECT_EQ(batch(d.path().string()), "[]");

    const char* prev = nullptr;
    ASSERT_EQ(vellix_batch_read(d.path().c_str(), &prev), 1);
    EXPECT_EQ(vellix_batch_read(nullptr, &prev), 0);
    EXPECT_STREQ(vellix_last_error(), "NULL path argument");
    EXPECT_STREQ(prev, "[]");  // the previous result stays valid after a NULL argument
    EXPECT_EQ(vellix_batch_read(d.path().c_str(), nullptr), 0);

    const char* out = reinterpret_cast<const char*>(0x1);
    std::string missing = d.file("missing");
    EXPECT_EQ(vellix_batch_read(missing.c_str(), &out), 0);
    EXPECT_EQ(std::string(vellix_last_error()), "cannot open directory " + missing);
    EXPECT_EQ(out, reinterpret_cast<const char*>(0x1));
}

TEST(BatchRead, LongDirectoryPathsAreNotCut) {
    TempDir d;
    fs::path deep = d.path();
    while (deep.string().size() < 1200) deep /= std::string(100, 'd');
    fs::create_directories(deep);
    write_file(deep / "a.pdf", info_pdf("Deep"));
    std::string json = batch(deep.string());
    EXPECT_NE(json.find("\"title\":\"Deep\""), std::string::npos) << vellix_last_error();
}

TEST(BatchClear, WritesMetadataFreeCopiesAndCountsThem) {
    TempDir d;
    fs::create_directory(d.path() / "in");
    write_file(d.path() / "in" / "a.pdf", info_pdf("A"));
    write_file(d.path() / "in" / "x.pdf", "garbage");
    write_file(d.path() / "in" / "skip.txt", info_pdf("T"));
    std::string out = d.file("out");
    EXPECT_EQ(vellix_batch_clear(d.file("in").c_str(), out.c_str()), 1);
    EXPECT_STREQ(vellix_last_error(), "");
    EXPECT_TRUE(fs::exists(d.path() / "out" / "a.pdf"));
    EXPECT_FALSE(fs::exists(d.path() / "out" / "x.pdf"));
    EXPECT_FALSE(fs::exists(d.path() / "out" / "skip.txt"));

    const char* t = vellix_read((d.path() / "out" / "a.pdf").c_str());
    ASSERT_NE(t, nullptr) << vellix_last_error();
    EXPECT_NE(std::string(t).find("\"title\":\"\""), std::string::npos) << t;
    EXPECT_NE(std::string(t).find("\"pages\":2"), std::string::npos) << t;
    std::string written = read_file(d.path() / "out" / "a.pdf");
    EXPECT_EQ(written.find("/Info"), std::string::npos);

    // An existing output directory is reused.
    EXPECT_EQ(vellix_batch_clear(d.file("in").c_str(), out.c_str()), 1);
}

TEST(BatchClear, Errors) {
    TempDir d;
    EXPECT_EQ(vellix_batch_clear(nullptr, "x"), -1);
    EXPECT_STREQ(vellix_last_error(), "NULL path argument");
    std::string missing = d.file("missing");
    EXPECT_EQ(vellix_batch_clear(missing.c_str(), d.file("o").c_str()), -1);
    EXPECT_EQ(std::string(vellix_last_error()), "cannot open directory " + missing);
    std::string orphan = d.file("no/such/out");
    EXPECT_EQ(vellix_batch_clear(d.path().c_str(), orphan.c_str()), -1);
    EXPECT_EQ(std::string(vellix_last_error()), "cannot create directory " + orphan);
    EXPECT_EQ(vellix_batch_clear(d.path().c_str(), d.file("empty-out").c_str()), 0);
    EXPECT_STREQ(vellix_last_error(), "");
}

TEST(Batch, ThousandSmallFilesAreQuick) {
    TempDir d;
    fs::create_directory(d.path() / "in");
    std::string bytes = info_pdf("Many");
    for (int i = 0; i < 1000; ++i) write_file(d.path() / "in" / ("f" + std::to_string(i) + ".pdf"), bytes);
    auto t0 = std::chrono::steady_clock::now();
    const char* out = nullptr;
    ASSERT_EQ(vellix_batch_read(d.file("in").c_str(), &out), 1);
    EXPECT_EQ(std::count(out, out + std::strlen(out), '{'), 1000);
    EXPECT_EQ(vellix_batch_clear(d.file("in").c_str(), d.file("out").c_str()), 1000);
    double secs = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    EXPECT_LT(secs, 10.0);
}
