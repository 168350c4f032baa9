// vellix_security end to end: the fixed text for plain files, the handler,
// key length and permissions of encrypted ones.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include "support/pdf_builder.h"
#include "vellix.h"

namespace {

const std::string UNENCRYPTED =
    R"({"encrypted":false,"method":"none","key_length":0,"permissions":{"print":true,"modify":true,"copy":true,"annotate":true}})";

std::string encrypted_json(const std::string& method, int key_length, bool print, bool modify, bool copy,
                           bool annotate) {
    auto b = [](bool v) { return v ? "true" : "false"; };
    return R"({"encrypted":true,"method":")" + method + R"(","key_length":)" + std::to_string(key_length) +
           R"(,"permissions":{"print":)" + b(print) + R"(,"modify":)" + b(modify) + R"(,"copy":)" + b(copy) +
           R"(,"annotate":)" + b(annotate) + "}}";
}

std::string security_of_file(const std::string& path) {
    const char* r = vellix_security(path.c_str());
    return r ? std::string(r) : "NULL: " + std::string(vellix_last_error());
}

std::string security_of(const std::string& bytes) {
    TempDir dir;
    std::string path = dir.file("in.pdf");
    write_file(path, bytes);
    return security_of_file(path);
}

using objects_t = std::vector<std::pair<int, std::string>>;

// A document whose trailer names /Encrypt (`encrypt` is the trailer value)
// with an optional encryption dictionary as object 5 and further objects.
std::string encrypted_doc(const std::string& encrypt, const std::string& dict_body, const objects_t& others = {}) {
    PdfBuilder b;
    b.obj(1, "<< /Type /Catalog /Pages 2 0 R >>");
    b.obj(2, "<< /Type /Pages /Kids [3 0 R] /Count 1 >>");
    b.obj(3, "<< /Type /Page /Parent 2 0 R >>");
    if (!dict_body.empty()) b.obj(5, dict_body);
    for (const auto& [num, body] : others) b.obj(num, body);
    b.xref_trailer("/Size 6 /Root 1 0 R /Encrypt " + encrypt);
    return b.bytes();
}

TEST(Security, UnencryptedFileGivesTheFixedText) {
    std::string r = security_of(minimal_pdf(3));
    EXPECT_EQ(r, UNENCRYPTED);
    EXPECT_EQ(r.size(), 121u);
    EXPECT_STREQ(vellix_last_error(), "");
}

TEST(Security, EncryptionDictionaryValues) {
    struct row {
        const char* dict;
        std::string json;
    };
    const row cases[] = {
        {"<< /Filter /Standard /V 2 /R 3 /Length 128 /P -1068 >>",
         encrypted_json("Standard", 128, true, false, true, false)},
        {"<< /Filter /Standard /Length 40 /P -3904 >>", encrypted_json("Standard", 40, false, false, false, false)},
        {"<< /Filter /Standard /Length 40 /P -1 >>", encrypted_json("Standard", 40, true, true, true, true)},
        // A /P that is not an integer reads as -1.
        {"<< /Filter /Standard /Length 40 /P /None >>", encrypted_json("Standard", 40, true, true, true, true)},
        {"<< /Filter /Standard /Length 40 /P 12 >>", encrypted_json("Standard", 40, true, true, false, false)},
        {"<< /Filter /Standard /P -36 >>", encrypted_json("Standard", -1, true, true, true, false)},
        {"<< /Filter /Standard /Length 128 >>", encrypted_json("Standard", 128, true, true, true, true)},
        // /Perms is not /P; the first /Length counts, nested or not.
        {"<< /Filter /Standard /Perms <00> /CF << /StdCF << /Length 16 >> >> /Length 128 /P -8 >>",
         encrypted_json("Standard", 16, false, true, true, true)},
        {"<< /Filter (Standard) /Length 40 /P -4 >>", encrypted_json("unknown", 40, true, true, true, true)},
        {"<< /Filter /Adobe.PubSec /SubFilter /adbe.pkcs7.s5 /Length 128 /P -4 >>",
         encrypted_json("Adobe", 128, true, true, true, true)},
        {"<< /Filter /My#20Handler /Length 56 /P -4 >>", encrypted_json("My Handler", 56, true, true, true, true)},
        {"<</Filter/Standard/Length\n256/P\r\n-3392>>", encrypted_json("Standard", 256, false, false, false, false)},
    };
    for (const row& c : cases) {
        SCOPED_TRACE(c.dict);
        EXPECT_EQ(security_of(encrypted_doc("5 0 R", c.dict)), c.json);
    }
}

TEST(Security, LongHandlerNameIsCutTo63Bytes) {
    std::string name(80, 'H');
    EXPECT_EQ(security_of(encrypted_doc("5 0 R", "<< /Filter /" + name + " /Length 40 /P -4 >>")),
              encrypted_json(std::string(63, 'H'), 40, true, true, true, true));
}

TEST(Security, UnavailableDictionaryGivesDefaults) {
    std::string defaults = encrypted_json("unknown", 0, true, true, true, true);
    // Written directly in the trailer, or naming an object the file lacks.
    EXPECT_EQ(security_of(encrypted_doc("<< /Filter /Standard /Length 128 /P -3904 >>", "")), defaults);
    EXPECT_EQ(security_of(encrypted_doc("9 0 R", "")), defaults);
    // An object that is no dictionary.
    EXPECT_EQ(security_of(encrypted_doc("5 0 R", "42")), defaults);
}

TEST(Security, DictionaryInsideAnObjectStream) {
    PdfBuilder b("1.5");
    b.obj(1, "<< /Type /Catalog /Pages 2 0 R >>");
    b.obj(2, "<< /Type /Pages /Kids [3 0 R] /Count 1 >>");
    b.obj(3, "<< /Type /Page /Parent 2 0 R >>");
    b.object_stream(7, {{5, "<< /Filter /Standard /Length 128 /P -1068 >>"}});
    b.xref_trailer("/Size 8 /Root 1 0 R /Encrypt 5 0 R");
    EXPECT_EQ(security_of(b.bytes()), encrypted_json("Standard", 128, true, false, true, false));
}

TEST(Security, LoadFailuresReturnNull) {
    EXPECT_EQ(vellix_security(nullptr), nullptr);
    EXPECT_STREQ(vellix_last_error(), "NULL path argument");
    TempDir dir;
    std::string empty = dir.file("empty.pdf");
    write_file(empty, "");
    EXPECT_EQ(security_of_file(empty), "NULL: empty input file: " + empty);
    std::string junk = dir.file("junk.pdf");
    write_file(junk, "x");
    EXPECT_EQ(security_of_file(junk), "NULL: no PDF objects found \xE2\x80\x94 not a PDF: " + junk);
}

// Files encrypted by qpdf: every handler it writes, read here, and refused by
// every other report.
TEST(Security, FilesEncryptedByQpdf) {
    if (std::system("qpdf --version >/dev/null 2>&1") != 0) GTEST_SKIP() << "qpdf not installed";
    TempDir dir;
    std::string plain = dir.file("plain.pdf");
    write_file(plain, minimal_pdf(2, "<< /Title (Secret) >>"));
    struct row {
        const char* name;
        const char* args;
        std::string json;
    };
    // qpdf writes the crypt filter dictionary /CF (whose /Length is in bytes)
    // before the top-level /Length, and the first /Length counts: AES files
    // report 16 and 32.
    const row cases[] = {
        {"rc4-40", "--allow-weak-crypto --encrypt u o 40 --print=n --modify=n --",
         encrypted_json("Standard", 40, false, false, true, true)},
        {"rc4-128", "--allow-weak-crypto --encrypt u o 128 --use-aes=n --print=none --modify=none --extract=n --annotate=n --",
         encrypted_json("Standard", 128, false, false, false, false)},
        {"aes-128", "--encrypt u o 128 --use-aes=y --", encrypted_json("Standard", 16, true, true, true, true)},
        {"aes-256", "--encrypt u o 256 --annotate=n --", encrypted_json("Standard", 32, true, true, true, false)},
    };
    for (const row& c : cases) {
        SCOPED_TRACE(c.name);
        std::string out = dir.file(std::string(c.name) + ".pdf");
        std::string cmd = std::string("qpdf ") + c.args + " " + plain + " " + out + " >/dev/null 2>&1";
        ASSERT_EQ(std::system(cmd.c_str()), 0) << cmd;
        EXPECT_EQ(security_of_file(out), c.json);
        std::string refused = "encrypted PDFs are not supported: " + out;
        for (auto fn : {vellix_fonts, vellix_images, vellix_bookmarks, vellix_page_labels}) {
            EXPECT_EQ(fn(out.c_str()), nullptr);
            EXPECT_EQ(std::string(vellix_last_error()), refused);
        }
    }
}

// Options set for one scope, back to 0 after it.
struct with_options {
    explicit with_options(unsigned o) { vellix_set_options(o); }
    ~with_options() { vellix_set_options(0); }
};

TEST(SecurityResolved, KeyLengthInBits) {
    struct row {
        const char* what;
        std::string dict;  // object 5
        objects_t others;
        int bits;
    };
    const row cases[] = {
        {"top-level /Length, not the crypt filter's",
         "<< /Filter /Standard /V 4 /CF << /StdCF << /CFM /AESV2 /Length 16 >> >> /StmF /StdCF /Length 128 /P -4 >>",
         {}, 128},
        {"/Length by reference", "<< /Filter /Standard /V 2 /Length 6 0 R /P -4 >>", {{6, "96"}}, 96},
        {"/V 1 without /Length", "<< /Filter /Standard /V 1 /R 2 /P -4 >>", {}, 40},
        {"/V 2 without /Length", "<< /Filter /Standard /V 2 /R 3 /P -4 >>", {}, 40},
        {"/V 4 with an AESV2 filter without a length",
         "<< /Filter /Standard /V 4 /R 4 /CF << /StdCF << /CFM /AESV2 >> >> /StmF /StdCF /StrF /StdCF /P -4 >>", {},
         128},
        {"/V 4 with a V2 filter given by reference, named by /StmF",
         "<< /Filter /Standard /V 4 /CF 6 0 R /StmF /MyCF /P -4 >>", {{6, "<< /MyCF << /CFM /V2 /Length 16 >> >>"}},
         128},
        {"/V 4 with an AESV3 filter", "<< /Filter /Standard /V 4 /CF << /StdCF << /CFM /AESV3 >> >> /P -4 >>", {},
         256},
        {"/V 5 without /Length",
         "<< /Filter /Standard /V 5 /R 6 /CF << /StdCF << /CFM /AESV3 /Length 32 >> >> /StmF /StdCF /P -4 >>", {},
         256},
        {"/V 4 with an unknown filter", "<< /Filter /Standard /V 4 /CF << /StdCF << /CFM /None >> >> /P -4 >>", {}, 0},
        {"nothing to go by", "<< /Filter /Standard /P -4 >>", {}, 0},
    };
    for (const row& c : cases) {
        SCOPED_TRACE(c.what);
        with_options on(VELLIX_RESOLVE | VELLIX_UNICODE);
        EXPECT_EQ(security_of(encrypted_doc("5 0 R", c.dict, c.others)),
                  encrypted_json("Standard", c.bits, true, true, true, true));
    }
}

TEST(SecurityResolved, TopLevelEntriesAndValidUtf8) {
    with_options on(VELLIX_RESOLVE | VELLIX_UNICODE);
    // /P and /Filter nested in a crypt filter come before the top-level ones.
    EXPECT_EQ(security_of(encrypted_doc(
                  "5 0 R", "<< /CF << /StdCF << /P -1 /Filter /Inner >> >> /Filter /Standard /V 2 /P -3904 >>")),
              encrypted_json("Standard", 40, false, false, false, false));
    // A handler name that is not UTF-8, and one cut to 63 bytes inside a
    // two-byte sequence: both stay valid UTF-8.
    EXPECT_EQ(security_of(encrypted_doc("5 0 R", "<< /Filter /Std#ff /V 1 /P -4 >>")),
              encrypted_json("Std\xEF\xBF\xBD", 40, true, true, true, true));
    std::string name(62, 'H');
    EXPECT_EQ(security_of(encrypted_doc("5 0 R", "<< /Filter /" + name + "#c3#a9 /V 1 /P -4 >>")),
              encrypted_json(name, 40, true, true, true, true));
}

// qpdf's own figure for each file it encrypts (its JSON's encrypt.parameters.bits).
TEST(SecurityResolved, QpdfFilesGiveQpdfsBits) {
    if (std::system("qpdf --version >/dev/null 2>&1") != 0) GTEST_SKIP() << "qpdf not installed";
    TempDir dir;
    std::string plain = dir.file("plain.pdf");
    write_file(plain, minimal_pdf(2, "<< /Title (Secret) >>"));
    const struct {
        const char* name;
        const char* args;
        int bits;
    } cases[] = {
        {"rc4-40", "--allow-weak-crypto --encrypt u o 40 --", 40},
        {"rc4-128", "--allow-weak-crypto --encrypt u o 128 --use-aes=n --", 128},
        {"aes-128", "--encrypt u o 128 --use-aes=y --", 128},
        {"aes-256", "--encrypt u o 256 --", 256},
    };
    with_options on(VELLIX_RESOLVE | VELLIX_UNICODE);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::string out = dir.file(std::string(c.name) + ".pdf");
        std::string cmd = std::string("qpdf ") + c.args + " " + plain + " " + out + " >/dev/null 2>&1";
        ASSERT_EQ(std::system(cmd.c_str()), 0) << cmd;
        std::string r = security_of_file(out);
        EXPECT_NE(r.find("\"key_length\":" + std::to_string(c.bits) + ","), std::string::npos) << r;
    }
}

}  // namespace
