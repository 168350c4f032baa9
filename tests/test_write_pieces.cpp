// Output files written as pieces (long runs of the document's bytes left in
// place) against the same files built in one buffer: byte for byte equal for
// every kind of plan, and the written file is exactly the pieces in order.
#include <gtest/gtest.h>
#include <sys/uio.h>

#include <string>
#include <vector>

#include "load/doc.h"
#include "write/atomic_file.h"
#include "write/writer.h"
#include "support/pdf_builder.h"

namespace {

// Bytes that differ from position to position, so that a piece placed wrongly
// cannot go unnoticed.
std::string pattern(size_t n, unsigned seed) {
    std::string s(n, '\0');
    uint32_t x = seed;
    for (char& c : s) {
        x = x * 1103515245u + 12345u;
        c = static_cast<char>('A' + (x >> 16) % 26);
    }
    return s;
}

// Long stream data (two streams, one at the very end of the table), a long
// plain object, a long object inside an object stream, and short objects
// between them: pieces by reference, copied runs and their joins.
std::string fixture() {
    PdfBuilder b("1.5");
    b.obj(1, "<< /Type /Catalog /Pages 2 0 R /Metadata 6 0 R >>");
    b.obj(2, "<< /Type /Pages /Kids [3 0 R] /Count 1 >>");
    b.obj(3, "<< /Type /Page /Parent 2 0 R /Contents 4 0 R >>");
    b.stream(4, "/Length1 1", pattern(70000, 1));
    b.obj(5, "(" + pattern(30000, 2) + ")");
    b.stream(6, "/Type /Metadata /Subtype /XML", "<x:xmpmeta xmlns:x=\"adobe:ns:meta/\"></x:xmpmeta>");
    b.obj(7, "<< /Title (Old) /Producer (P) >>");
    b.object_stream(8, {{9, "<< /Long (" + pattern(20000, 3) + ") >>"}, {10, "[1 2 3]"}});
    b.stream(11, "", pattern(16384, 4));
    b.xref_trailer("/Size 12 /Root 1 0 R /Info 7 0 R");
    return b.bytes();
}

std::string joined(const out_pieces& p) {
    std::string s;
    for (const out_piece& k : p.pieces)
        s.append(k.ext ? reinterpret_cast<const char*>(k.ext) : p.text.data + k.off, k.len);
    return s;
}

struct loaded_doc {
    pdf_doc doc;
    explicit loaded_doc(const std::string& path) { EXPECT_EQ(doc_load_ex(path.c_str(), &doc, 0), 0); }
};

TEST(WritePieces, SameBytesAsOneBufferForEveryPlan) {
    TempDir dir;
    std::string path = dir.file("in.pdf");
    write_file(path, fixture());
    loaded_doc l(path);
    ASSERT_GT(l.doc.objs.size(), 9u);

    static const char INFO[] = "<< /Title (New) >>";
    static const uint8_t PACKET[] = "<x:xmpmeta xmlns:x=\"adobe:ns:meta/\"><rdf:RDF/></x:xmpmeta>";
    static const uint8_t CAT[] = "<< /Type /Catalog /Pages 2 0 R >>\n";
    std::vector<write_plan> plans(6);
    plans[1].info_num = 7, plans[1].info_text = INFO, plans[1].info_len = sizeof INFO - 1;
    plans[1].trailer_info = true;
    plans[2].info_num = 7, plans[2].info_drop = true, plans[2].size_by_written = true;
    plans[3].info_new = true, plans[3].info_new_num = 12, plans[3].info_text = INFO, plans[3].info_len = sizeof INFO - 1;
    plans[3].trailer_info = true;
    plans[4].meta_num = 6, plans[4].packet = PACKET, plans[4].packet_len = sizeof PACKET - 1;
    plans[4].cat_num = 1, plans[4].cat_text = CAT, plans[4].cat_len = sizeof CAT - 1;
    plans[5].meta_num = 6, plans[5].meta_drop = true, plans[5].meta_new = false;
    plans[5].info_num = 11, plans[5].info_drop = true, plans[5].size_by_written = true;  // the last object left out

    for (size_t i = 0; i < plans.size(); ++i) {
        SCOPED_TRACE(i);
        strbuf one;
        ASSERT_EQ(doc_emit(l.doc, plans[i], &one), 1);
        out_pieces p;
        ASSERT_EQ(doc_emit_pieces(l.doc, plans[i], &p), 1);
        std::string want(one.data, one.len);
        EXPECT_EQ(joined(p), want);
        // The long runs really are left in place.
        size_t by_ref = 0;
        for (const out_piece& k : p.pieces) by_ref += k.ext ? k.len : 0;
        EXPECT_GE(by_ref, 70000u + 30000u + 20000u);

        std::string out = dir.file("out" + std::to_string(i) + ".pdf");
        ASSERT_EQ(write_output_pieces(out.c_str(), p), 1);
        EXPECT_EQ(read_file(out), want);
    }
}

TEST(WritePieces, ManyPiecesAndEmptyOnesWrittenInOrder) {
    // More pieces than one system call takes, with empty ones among them.
    TempDir dir;
    std::vector<std::string> parts;
    std::vector<iovec> iov;
    std::string want;
    for (int i = 0; i < 3000; ++i) {
        parts.push_back(i % 7 == 0 ? std::string() : pattern(1 + i % 50, static_cast<unsigned>(i)));
        want += parts.back();
    }
    for (std::string& s : parts) iov.push_back({s.data(), s.size()});
    std::string path = dir.file("v.bin");
    ASSERT_EQ(write_file_atomic_v(path.c_str(), iov.data(), iov.size()), 1);
    EXPECT_EQ(read_file(path), want);
}

}  // namespace
