// Output files written as pieces (long runs of the document's bytes left in
// place): for every kind of plan each object of the copy holds what the plan
// says, byte for byte, and the written file is exactly the pieces in order.
#include <gtest/gtest.h>
#include <sys/uio.h>

#include <map>
#include <string>
#include <vector>

#include "load/doc.h"
#include "write/atomic_file.h"
#include "write/emitter.h"
#include "support/output_check.h"
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
// "(text)", built by appending (g++ 12 warns wrongly about "(" + s + ")").
std::string in_parens(const std::string& text) {
    std::string s = "(";
    s += text;
    s += ')';
    return s;
}

std::string fixture() {
    PdfBuilder b("1.5");
    b.obj(1, "<< /Type /Catalog /Pages 2 0 R /Metadata 6 0 R >>");
    b.obj(2, "<< /Type /Pages /Kids [3 0 R] /Count 1 >>");
    b.obj(3, "<< /Type /Page /Parent 2 0 R /Contents 4 0 R >>");
    b.stream(4, "/Length1 1", pattern(70000, 1));
    b.obj(5, in_parens(pattern(30000, 2)));
    b.stream(6, "/Type /Metadata /Subtype /XML", "<x:xmpmeta xmlns:x=\"adobe:ns:meta/\"></x:xmpmeta>");
    b.obj(7, "<< /Title (Old) /Producer (P) >>");
    b.object_stream(8, {{9, "<< /Long " + in_parens(pattern(20000, 3)) + " >>"}, {10, "[1 2 3]"}});
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

// The text of object num in a file: from its header line up to and with the
// first "endobj\n" (the fixture's data holds upper-case letters only); "" when
// the file has no such header.
std::string object_text(const std::string& file, int num) {
    std::string head = std::to_string(num) + " 0 obj\n";
    size_t at = file.find("\n" + head);
    if (at == std::string::npos) return "";
    at += 1;
    size_t end = file.find("endobj\n", at);
    return file.substr(at, end == std::string::npos ? std::string::npos : end + 7 - at);
}

TEST(WritePieces, EveryObjectAsThePlanSays) {
    TempDir dir;
    std::string path = dir.file("in.pdf");
    std::string input = fixture();
    write_file(path, input);
    pdf_doc doc;
    ASSERT_EQ(doc_load(path.c_str(), &doc, 0), 0);
    ASSERT_GT(doc.objs.size(), 9u);

    const std::string info = "<< /Title (New) >>";
    const std::string packet = "<x:xmpmeta xmlns:x=\"adobe:ns:meta/\"><rdf:RDF/></x:xmpmeta>";
    const std::string cat = "<< /Type /Catalog /Pages 2 0 R >>\n";
    const std::string info_obj = info + "\nendobj\n";
    const std::string packet_obj = "<</Type /Metadata /Subtype /XML /Length " + std::to_string(packet.size()) +
                                   ">>\nstream\n" + packet + "\nendstream\nendobj\n";
    struct row {
        write_plan plan;
        std::map<int, std::string> changed;  // object -> body after its header line ("" when left out)
        const char* trailer;                  // the trailer's entries after /Size
    };
    std::vector<row> rows(6);
    rows[0].trailer = "/Root 1 0 R>>";
    rows[1].plan.info = {obj_edit::replace, 7, info};
    rows[1].changed = {{7, info_obj}};
    rows[1].trailer = "/Root 1 0 R/Info 7 0 R>>";
    rows[2].plan.info = {obj_edit::drop, 7, ""};
    rows[2].plan.span = xref_span::written;
    rows[2].changed = {{7, ""}};
    rows[2].trailer = "/Root 1 0 R>>";
    rows[3].plan.info = {obj_edit::add, 12, info};
    rows[3].changed = {{12, info_obj}};
    rows[3].trailer = "/Root 1 0 R/Info 12 0 R>>";
    rows[4].plan.xmp = {obj_edit::replace, 6, packet};
    rows[4].plan.catalog = {obj_edit::replace, 1, cat};
    rows[4].changed = {{6, packet_obj}, {1, cat + "endobj\n"}};
    rows[4].trailer = "/Root 1 0 R>>";
    rows[5].plan.xmp = {obj_edit::drop, 6, ""};
    rows[5].plan.info = {obj_edit::drop, 11, ""};  // the last object left out
    rows[5].plan.span = xref_span::written;
    rows[5].changed = {{6, ""}, {11, ""}};
    rows[5].trailer = "/Root 1 0 R>>";
    const char* sizes[] = {"12", "12", "12", "13", "12", "11"};

    for (size_t i = 0; i < rows.size(); ++i) {
        SCOPED_TRACE(i);
        out_pieces p;
        ASSERT_EQ(doc_emit_pieces(doc, rows[i].plan, &p), 1);
        std::string got = joined(p);
        EXPECT_EQ(xref_fault(got), "");
        EXPECT_NE(got.find(std::string("trailer\n<</Size ") + sizes[i] + rows[i].trailer), std::string::npos);
        for (int num = 1; num <= 12; ++num) {
            std::string header = std::to_string(num) + " 0 obj\n";
            auto c = rows[i].changed.find(num);
            std::string want;
            if (c != rows[i].changed.end())
                want = c->second.empty() ? "" : header + c->second;
            else if (num == 9)  // from the object stream: its text, then endobj
                want = header + "<< /Long (" + pattern(20000, 3) + ") >>\nendobj\n";
            else if (num == 10)
                want = header + "[1 2 3]\nendobj\n";
            else if (num != 8 && num != 12)  // the object stream itself is not written
                want = object_text(input, num);
            EXPECT_EQ(object_text(got, num), want) << num;
        }
        // The long runs really are left in place.
        size_t by_ref = 0;
        for (const out_piece& k : p.pieces) by_ref += k.ext ? k.len : 0;
        EXPECT_GE(by_ref, 70000u + 30000u + 20000u);

        std::string out = dir.file("out" + std::to_string(i) + ".pdf");
        ASSERT_EQ(write_output_pieces(out.c_str(), p), 1);
        EXPECT_EQ(read_file(out), got);
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
