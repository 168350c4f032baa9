// Trailer facts: /Root, /Info and /Encrypt from classic trailers and
// cross-reference streams reached from the last "startxref".
#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "load/doc.h"
#include "load/load_steps.h"
#include "support/doc_bytes.h"
#include "support/pdf_builder.h"

namespace {

struct Facts {
    int32_t root, info, encrypted, encrypt_obj;
    bool operator==(const Facts& o) const {
        return root == o.root && info == o.info && encrypted == o.encrypted && encrypt_obj == o.encrypt_obj;
    }
};

std::ostream& operator<<(std::ostream& os, const Facts& f) {
    return os << "{root " << f.root << ", info " << f.info << ", encrypted " << f.encrypted << ", encrypt_obj "
              << f.encrypt_obj << "}";
}

Facts facts_of(const std::string& bytes) {
    pdf_doc d = doc_of(bytes);
    trailer_read(&d);
    return {d.trailer_root, d.trailer_info, d.encrypted, d.encrypt_obj};
}

constexpr Facts NOTHING{-1, -1, 0, -1};

// Position of the first classic "xref" keyword line.
long first_xref(const std::string& s) { return static_cast<long>(s.find("\nxref\n") + 1); }

}  // namespace

TEST(Trailer, NewestClassicTrailerOnly) {
    PdfBuilder b;
    b.obj(1, "<< /Type /Catalog >>").obj(2, "<< /Title (old) >>").xref_trailer("/Size 3 /Root 1 0 R /Info 2 0 R");
    b.obj(3, "<< /Type /Catalog >>").xref_trailer("/Size 4 /Root 3 0 R");
    EXPECT_EQ(facts_of(b.bytes()), (Facts{3, -1, 0, -1}));
}

TEST(Trailer, AllTrailersAfterTheNewestSectionInFileOrder) {
    // startxref names the first of two sections (as in linearized files):
    // both trailers are read, the later one wins for each key it names.
    PdfBuilder b;
    b.obj(1, "<< >>").xref_trailer("/Size 2 /Root 1 0 R /Info 7 0 R");
    b.obj(2, "<< >>").xref_trailer("/Size 3 /Root 2 0 R");
    std::string s = b.bytes();
    PdfBuilder tail("");
    tail.raw(s).startxref(first_xref(s));
    EXPECT_EQ(facts_of(tail.bytes()), (Facts{2, 7, 0, -1}));
}

TEST(Trailer, TrailerKeyForms) {
    struct Case {
        const char* dict;
        Facts want;
    };
    const Case cases[] = {
        {"/Root 5 0 R /Encrypt 9 0 R", {5, -1, 1, 9}},
        {"/Root 5 0 R /Encrypt << /Filter /Standard >>", {5, -1, 1, -1}},
        {"/Encrypt 0 0 R", {-1, -1, 1, -1}},
        {"/Root /X /Root 4 0 R", {4, -1, 0, -1}},    // first usable occurrence
        {"/Root -3 0 R /Info 2 0 R", {-1, 2, 0, -1}},  // negative: unusable
        {"/Info/12 0 R", {-1, 12, 0, -1}},             // reading starts one byte past the name
        {"/Root1 0 R", NOTHING},                       // not the key /Root
        {"/Info (x) /Info 6 0 R", {-1, 6, 0, -1}},
    };
    for (const Case& c : cases) {
        PdfBuilder b;
        b.obj(1, "<< >>").xref_trailer(c.dict);
        EXPECT_EQ(facts_of(b.bytes()), c.want) << c.dict;
    }
}

TEST(Trailer, XrefStreamChain) {
    // Three streams linked by /Prev: /Root from the newest that names it,
    // /Info from the oldest, the only one that does.
    PdfBuilder b;
    b.obj(1, "<< /Type /Catalog >>").obj(2, "<< /Title (t) >>").xref_stream(10, "/Size 11 /Root 1 0 R /Info 2 0 R");
    b.obj(3, "<< /Type /Catalog >>").xref_stream(11, "/Size 12 /Root 3 0 R");
    b.obj(4, "<< >>").xref_stream(12, "/Size 13");
    EXPECT_EQ(facts_of(b.bytes()), (Facts{3, 2, 0, -1}));
}

TEST(Trailer, XrefStreamKeyForms) {
    struct Case {
        const char* dict;
        Facts want;
    };
    const Case cases[] = {
        {"/Root 5 0 R /Encrypt 9 0 R", {5, -1, 1, 9}},
        {"/Root /X /Root 4 0 R", NOTHING},  // first occurrence only
        {"/Info/12 0 R", NOTHING},          // reading starts right after the name
        {"/Info 6 0 R", {-1, 6, 0, -1}},
        {"/Encrypt << >>", {-1, -1, 1, -1}},
    };
    for (const Case& c : cases) {
        PdfBuilder b;
        b.obj(1, "<< >>").xref_stream(2, c.dict);
        EXPECT_EQ(facts_of(b.bytes()), c.want) << c.dict;
    }
}

TEST(Trailer, ChainStopsAfter32Hops) {
    // 40 streams; /Info is only in stream k (1 = oldest). The newest 32
    // streams are 9 to 40.
    for (int k : {8, 9}) {
        PdfBuilder b;
        for (int i = 1; i <= 40; ++i) b.xref_stream(100 + i, i == k ? "/Info 7 0 R" : "/Size 1");
        EXPECT_EQ(facts_of(b.bytes()).info, k == 9 ? 7 : -1) << k;
    }
}

TEST(Trailer, ClassicSectionBehindXrefStreamKeepsNewerValues) {
    // An update saved with a cross-reference stream onto a file with a
    // classic table: the stream's /Info stays; the classic trailers still
    // supply the /Root the stream does not name, the later trailer winning.
    PdfBuilder b;
    b.obj(1, "<< /Type /Catalog >>").obj(2, "<< /Title (old) >>").xref_trailer("/Size 3 /Root 1 0 R /Info 2 0 R");
    b.obj(5, "<< >>").xref_trailer("/Size 6 /Root 5 0 R /Info 2 0 R");
    std::string base = b.bytes();
    PdfBuilder u("");
    u.raw(base);
    long prev = first_xref(base);
    u.obj(3, "<< /Title (new) >>").xref_stream(4, "/Size 5 /Info 3 0 R /Prev " + std::to_string(prev));
    EXPECT_EQ(facts_of(u.bytes()), (Facts{5, 3, 0, -1}));
}

TEST(Trailer, NoUsableStartxref) {
    PdfBuilder b;
    b.obj(1, "<< >>").xref_trailer("/Root 1 0 R");
    std::string good = b.bytes();
    for (const std::string& tail : {std::string("startxref\n-5\n%%EOF\n"), std::string("startxref\n"),
                                    std::string("startxref"), std::string("startxref\n99999999\n")}) {
        EXPECT_EQ(facts_of(good + tail), NOTHING) << tail;
    }
    // The value equal to the length is out of range too.
    std::string head = good + "startxref\n";
    std::string s;
    for (size_t digits = 1; digits < 12; ++digits) {
        std::string n = std::to_string(head.size() + digits + 1);
        if (n.size() == digits) s = head + n + "\n";
    }
    ASSERT_EQ(std::to_string(s.size()) + "\n", s.substr(head.size()));
    EXPECT_EQ(facts_of(s).root, -1);
    // A keyword glued to other word characters is not "startxref".
    EXPECT_EQ(facts_of(good + "xstartxref 0\n").root, 1);
    EXPECT_EQ(facts_of(good + "startxref0 0\n").root, 1);
    EXPECT_EQ(facts_of(good + "startxref 0\n").root, -1);  // offset 0 is the header, not a section
}

TEST(Trailer, TrailerRangeEndsAtStartxref) {
    std::string s = "%PDF-1.4\nxref\n0 1\n0000000000 65535 f\r\ntrailer\n<< /Size 1 >>\nstartxref\n9\n%%EOF\n/Root 4 0 R\n";
    EXPECT_EQ(facts_of(s).root, -1);
    // Without a "startxref" after the trailer its range runs to the file end.
    s = "%PDF-1.4\nxref\n0 1\n0000000000 65535 f\r\nstartxref\n9\ntrailer\n<< /Size 1 >>\n/Root 4 0 R\n";
    EXPECT_EQ(facts_of(s).root, 4);
    // A trailer not followed by a dictionary is skipped.
    s = "%PDF-1.4\nxref\ntrailer /Root 4 0 R\ntrailer\n<< /Info 2 0 R >>\nstartxref\n9\n";
    EXPECT_EQ(facts_of(s), (Facts{-1, 2, 0, -1}));
}

TEST(Trailer, SectionKinds) {
    // A section offset at white space before "xref" is fine; one at other
    // text or at an object that is not followed by "obj" learns nothing.
    std::string body = "%PDF-1.4\n1 0 obj << >> endobj\n";
    std::string s = body + "  \nxref\n0 1\ntrailer << /Root 1 0 R >>\nstartxref\n" + std::to_string(body.size()) + "\n";
    EXPECT_EQ(facts_of(s).root, 1);
    s = body + "junk\ntrailer << /Root 1 0 R >>\nstartxref\n" + std::to_string(body.size()) + "\n";
    EXPECT_EQ(facts_of(s).root, -1);
    s = body + "7 0 R\ntrailer << /Root 1 0 R >>\nstartxref\n" + std::to_string(body.size()) + "\n";
    EXPECT_EQ(facts_of(s).root, -1);
    // An xref stream header without a generation number still counts.
    s = body + "7 obj << /Root 1 0 R >> stream\nendstream endobj\nstartxref\n" + std::to_string(body.size()) + "\n";
    EXPECT_EQ(facts_of(s).root, 1);
}

TEST(Trailer, ManyTrailersAreReadInLinearTime) {
    // Trailers without any "startxref" between them share one range end.
    std::string s = "%PDF-1.4\nxref\n";
    while (s.size() < (4u << 20)) s += "trailer << /Size 1 /Root 1 0 R /X (y) >>\n";
    s += "trailer << /Root 2 0 R >>\nstartxref\n9\n";
    auto t0 = std::chrono::steady_clock::now();
    Facts f = facts_of(s);
    double t = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    EXPECT_EQ(f.root, 2);
    EXPECT_LT(t, 1.0 * TIME_SCALE);
}
