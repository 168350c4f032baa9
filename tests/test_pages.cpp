// The page tree walk: page order, broken references, direct kids, cycles,
// limits, deep and wide trees.
#include <gtest/gtest.h>

#include <chrono>
#include <random>
#include <string>
#include <vector>

#include "core/frame.h"
#include "load/doc.h"
#include "load/load_steps.h"
#include "syntax/lexer.h"
#include "support/doc_bytes.h"
#include "support/pdf_builder.h"

namespace {

struct Loaded {
    pdf_doc doc;
    int rc;
    explicit Loaded(const std::string& path) { rc = doc_load(path.c_str(), &doc, 0); }
};

std::vector<int32_t> page_nums(const std::vector<page_entry>& pages) {
    std::vector<int32_t> v;
    for (const page_entry& p : pages) v.push_back(p.page_obj);
    return v;
}

// A walk from `start` with fresh flags, as the loader makes it.
struct Walk {
    int result;
    std::vector<int32_t> pages;
};
Walk walk(const pdf_doc& doc, int32_t start) {
    std::vector<uint8_t> visited(static_cast<size_t>(doc.max_obj) + 1, 0);
    std::vector<page_entry> pages;
    int r = resolve_pages(doc, start, &pages, visited.data());
    return {r, page_nums(pages)};
}

const std::string PAGE = "<< /Type /Page /MediaBox [0 0 10 10] >>";

// Catalog 1 with /Pages 2 and the given objects (number, body).
std::string tree(const std::vector<std::pair<int, std::string>>& objs) {
    PdfBuilder b;
    b.obj(1, "<< /Type /Catalog /Pages 2 0 R >>");
    for (const auto& [n, body] : objs) b.obj(n, body);
    b.xref_trailer("/Root 1 0 R");
    return b.bytes();
}

std::string put(const TempDir& dir, const std::string& bytes) {
    std::string p = dir.file("t.pdf");
    write_file(p, bytes);
    return p;
}

double seconds_since(std::chrono::steady_clock::time_point t0) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

}  // namespace

TEST(Pages, WalkResults) {
    struct Case {
        const char* name;
        std::vector<std::pair<int, std::string>> objs;
        int result;
        std::vector<int32_t> pages;  // rows appended, also on failure
    };
    const std::string node = "<< /Type /Pages /Kids [";
    const Case cases[] = {
        {"two pages", {{2, node + "3 0 R 4 0 R] >>"}, {3, PAGE}, {4, PAGE}}, 2, {3, 4}},
        {"nested depth first",
         {{2, node + "3 0 R 10 0 R 6 0 R] >>"}, {3, PAGE}, {10, node + "4 0 R 5 0 R] >>"}, {4, PAGE}, {5, PAGE}, {6, PAGE}},
         4,
         {3, 4, 5, 6}},
        {"missing kid", {{2, node + "3 0 R 9 0 R 4 0 R] >>"}, {3, PAGE}, {4, PAGE}}, -1, {3}},
        {"kid of another type", {{2, node + "3 0 R 4 0 R] >>"}, {3, PAGE}, {4, "<< /Type /Font >>"}}, -1, {3}},
        {"kid without dictionary", {{2, node + "3 0 R] >>"}, {3, "[1 2]"}}, -1, {}},
        {"direct dictionary", {{2, node + "3 0 R << /Type /Page >> ] >>"}, {3, PAGE}}, -2, {}},
        {"direct dictionary after a missing kid", {{2, node + "9 0 R <</Type/Page>>] >>"}}, -2, {}},
        {"direct dictionary one level down",
         {{2, node + "3 0 R 10 0 R 4 0 R] >>"}, {3, PAGE}, {4, PAGE}, {10, node + "<<>>] >>"}},
         -2,
         {3}},
        {"single < is skipped", {{2, node + "<ab> 3 0 R] >>"}, {3, PAGE}}, 1, {3}},
        {"kid lists its parent", {{2, node + "3 0 R 10 0 R] >>"}, {3, PAGE}, {10, node + "2 0 R] >>"}}, -1, {3}},
        {"node listed twice", {{2, node + "10 0 R 10 0 R] >>"}, {10, node + "3 0 R] >>"}, {3, PAGE}}, -1, {3}},
        {"page listed twice", {{2, node + "3 0 R 4 0 R 3 0 R] >>"}, {3, PAGE}, {4, PAGE}}, 3, {3, 4, 3}},
        {"empty kids", {{2, node + "] >>"}}, 0, {}},
        {"no kids", {{2, "<< /Type /Pages /Count 0 >>"}}, 0, {}},
        {"kids by reference", {{2, "<< /Type /Pages /Kids 5 0 R >>"}, {5, "[3 0 R]"}, {3, PAGE}}, 0, {}},
        {"later kids array used", {{2, "<< /Type /Pages /Kids 5 0 R /Kids [3 0 R] >>"}, {3, PAGE}}, 1, {3}},
        {"only the first array", {{2, node + "3 0 R] /Kids [4 0 R] >>"}, {3, PAGE}, {4, PAGE}}, 1, {3}},
        {"empty child node", {{2, node + "10 0 R 3 0 R] >>"}, {10, node + "] >>"}, {3, PAGE}}, 1, {3}},
        {"loose spacing", {{2, node + "\r\n 3  0\n R\n4 R 5R ] >>"}, {3, PAGE}, {4, PAGE}, {5, PAGE}}, 3, {3, 4, 5}},
        {"number zero skipped", {{2, node + "0 0 R 3 0 R] >>"}, {3, PAGE}}, 1, {3}},
        {"unterminated array", {{2, node + "3 0 R 4 0 R >>"}, {3, PAGE}, {4, PAGE}}, 2, {3, 4}},
        {"start is a page", {{2, PAGE}}, 1, {2}},
        {"start is neither", {{2, "<< /Type /Catalog >>"}}, -1, {}},
    };
    TempDir dir;
    for (const Case& c : cases) {
        Loaded l(put(dir, tree(c.objs)));
        ASSERT_EQ(l.rc, 0) << c.name << ": " << g_err;
        Walk w = walk(l.doc, 2);
        EXPECT_EQ(w.result, c.result) << c.name;
        EXPECT_EQ(w.pages, c.pages) << c.name;
        // The loader keeps the rows and sets pages_ok only for a positive result.
        EXPECT_EQ(page_nums(l.doc.pages), c.pages) << c.name;
        EXPECT_EQ(l.doc.pages_ok, c.result > 0 ? 1 : 0) << c.name;
    }
}

TEST(Pages, KidsBeyondTheCapAreIgnored) {
    // "3R" takes two bytes per kid, so 20000 kids exceed the cap of
    // 4096 + (text length) / 4.
    std::string kids;
    for (int i = 0; i < 20000; ++i) kids += "3R";
    TempDir dir;
    Loaded l(put(dir, tree({{2, "<< /Type /Pages /Kids [" + kids + "] >>"}, {3, PAGE}})));
    ASSERT_EQ(l.rc, 0) << g_err;
    const obj_entry* node = doc_find(l.doc, 2);
    ASSERT_NE(node, nullptr);
    size_t cap = 4096 + static_cast<size_t>(node->endobj_pos - node->obj_pos) / 4;
    ASSERT_LT(cap, 20000u);
    EXPECT_EQ(l.doc.pages.size(), cap);
    EXPECT_EQ(l.doc.pages_ok, 1);
}

TEST(Pages, DeepChainOfNodes) {
    // 100000 nested /Pages nodes, one page at the bottom: no stack overflow,
    // and the walk stays fast.
    const int depth = 100000;
    PdfBuilder b;
    b.obj(1, "<< /Type /Catalog /Pages 2 0 R >>");
    for (int i = 0; i < depth; ++i)
        b.obj(2 + i, "<< /Type /Pages /Kids [" + std::to_string(3 + i) + " 0 R] >>");
    b.obj(2 + depth, PAGE);
    b.xref_trailer("/Root 1 0 R");
    TempDir dir;
    std::string path = put(dir, b.bytes());
    auto t0 = std::chrono::steady_clock::now();
    Loaded l(path);
    double t = seconds_since(t0);
    ASSERT_EQ(l.rc, 0) << g_err;
    EXPECT_EQ(page_nums(l.doc.pages), (std::vector<int32_t>{2 + depth}));
    EXPECT_EQ(l.doc.pages_ok, 1);
    EXPECT_LT(t, 1.0 * TIME_SCALE);
    // The same chain closed into a cycle at the bottom fails.
    PdfBuilder c;
    c.obj(1, "<< /Type /Catalog /Pages 2 0 R >>");
    for (int i = 0; i < depth; ++i)
        c.obj(2 + i, "<< /Type /Pages /Kids [" + std::to_string(i + 1 < depth ? 3 + i : 2) + " 0 R] >>");
    c.xref_trailer("/Root 1 0 R");
    Loaded cyc(put(dir, c.bytes()));
    ASSERT_EQ(cyc.rc, 0) << g_err;
    EXPECT_EQ(cyc.doc.pages_ok, 0);
    EXPECT_EQ(walk(cyc.doc, 2).result, -1);
}

TEST(Pages, WideTreesLoadQuickly) {
    // 20000 pages under 200 intermediate nodes.
    const int nodes = 200, per = 100;
    PdfBuilder b;
    b.obj(1, "<< /Type /Catalog /Pages 2 0 R >>");
    std::string top;
    for (int n = 0; n < nodes; ++n) top += std::to_string(10 + n) + " 0 R ";
    b.obj(2, "<< /Type /Pages /Kids [" + top + "] >>");
    int next = 1000;
    std::vector<int32_t> want;
    for (int n = 0; n < nodes; ++n) {
        std::string kids;
        for (int k = 0; k < per; ++k, ++next) {
            kids += std::to_string(next) + " 0 R ";
            want.push_back(next);
        }
        b.obj(10 + n, "<< /Type /Pages /Kids [" + kids + "] >>");
    }
    for (int32_t p : want) b.obj(p, PAGE);
    b.xref_trailer("/Root 1 0 R");
    TempDir dir;
    std::string path = put(dir, b.bytes());
    auto t0 = std::chrono::steady_clock::now();
    Loaded l(path);
    double t = seconds_since(t0);
    ASSERT_EQ(l.rc, 0) << g_err;
    EXPECT_EQ(page_nums(l.doc.pages), want);
    EXPECT_EQ(l.doc.pages_ok, 1);
    EXPECT_LT(t, 1.0 * TIME_SCALE);
}

TEST(Pages, PageListedManyTimesIsClassifiedOnce) {
    // One page object whose /Type follows a long string, listed 100000 times.
    std::string kids;
    for (int i = 0; i < 100000; ++i) kids += "3 0 R ";
    std::string page = "<< /Pad (" + std::string(200000, 'x') + ") /Type /Page >>";
    TempDir dir;
    std::string path = put(dir, tree({{2, "<< /Type /Pages /Kids [" + kids + "] >>"}, {3, page}}));
    auto t0 = std::chrono::steady_clock::now();
    Loaded l(path);
    double t = seconds_since(t0);
    ASSERT_EQ(l.rc, 0) << g_err;
    EXPECT_EQ(l.doc.pages.size(), 100000u);
    EXPECT_LT(t, 1.0 * TIME_SCALE);
}

TEST(Pages, OverlappingNodeTextsAreSearchedOnce) {
    // 50000 nodes without "endobj" of their own share the last one, so each
    // node's text runs to the end of the file; none has /Kids. A fresh
    // search of each text would read the rest of the file per node.
    const int n = 50000;
    std::string top;
    for (int i = 0; i < n; ++i) top += std::to_string(10 + i) + " 0 R ";
    std::string s = "%PDF-1.4\n1 0 obj << /Type /Catalog /Pages 2 0 R >> endobj\n2 0 obj << /Type /Pages /Kids [" +
                    top + "] >> endobj\n";
    for (int i = 0; i < n; ++i) s += std::to_string(10 + i) + " 0 obj << /Type /Pages /Count 0 >>\n";
    s += "endobj\n";
    TempDir dir;
    std::string path = put(dir, s);
    auto t0 = std::chrono::steady_clock::now();
    Loaded l(path);
    double t = seconds_since(t0);
    ASSERT_EQ(l.rc, 0) << g_err;
    EXPECT_EQ(l.doc.objs.size(), static_cast<size_t>(n) + 2);
    EXPECT_EQ(walk(l.doc, 2).result, 0);
    EXPECT_EQ(l.doc.pages_ok, 0);
    EXPECT_LT(t, 1.0 * TIME_SCALE);
}

namespace {

// The walk as a plain recursion over eagerly read kid lists, for comparison
// with the iterative walk on small random documents.
int reference_walk(const pdf_doc& doc, int32_t num, std::vector<int32_t>* pages, std::vector<uint8_t>* visited) {
    const obj_entry* e = doc_find(doc, num);
    if (!e) return -1;
    int t = obj_page_type(doc.data, doc.len, *e);
    if (t == 1) {
        pages->push_back(num);
        return 1;
    }
    if (t != 2) return -1;
    if (num <= doc.max_obj) {
        if ((*visited)[num]) return -1;
        (*visited)[num] = 1;
    }
    size_t cap = 4096;
    if (e->in_objstm)
        cap += e->objstm_len / 4;
    else if (e->endobj_pos > e->obj_pos)
        cap += (e->endobj_pos - e->obj_pos) / 4;
    dict_view r = doc_dict_span(doc, *e);
    if (!r.text) return 0;
    const uint8_t* x = r.text;
    pos end = r.end, p = -1;
    for (pos k = name_find(x, r.start, end, "Kids"); k >= 0 && p < 0; k = name_find(x, k + 1, end, "Kids")) {
        pos q = ws_skip(x, k + 5, end);
        if (q < end && x[q] == '[') p = q + 1;
    }
    if (p < 0) return 0;
    p = ws_skip(x, p, end);
    if (p >= end) return 0;
    std::vector<int32_t> kids;
    while (p < end && x[p] != ']') {
        if (x[p] == '<' && p + 1 < end && x[p + 1] == '<') return -2;
        if (!is_digit(x[p])) {
            ++p;
            continue;
        }
        int32_t v = int_read(x, &p, end);
        if (v > 0 && kids.size() < cap) kids.push_back(v);
        p = ws_skip(x, p, end);
        if (p < end && is_digit(x[p])) int_read(x, &p, end);
        p = ws_skip(x, p, end);
        if (p < end && x[p] == 'R') ++p;
        p = ws_skip(x, p, end);
    }
    if (kids.empty()) return 0;
    for (int32_t k : kids) {
        const obj_entry* c = doc_find(doc, k);
        if (!c) return -1;
        int ct = obj_page_type(doc.data, doc.len, *c);
        if (ct == 1) {
            pages->push_back(k);
        } else if (ct == 2) {
            int rr = reference_walk(doc, k, pages, visited);
            if (rr == -2) return -2;
            if (rr < 0) return -1;
        } else {
            return -1;
        }
    }
    return static_cast<int>(pages->size());
}

}  // namespace

TEST(Pages, MatchesAPlainRecursionOnRandomTrees) {
    // Random object texts built from the pieces the walk reacts to, with
    // missing endobj keywords so that texts overlap and arrays are shared.
    const char* pieces[] = {"<< /Type /Pages /Kids [", "<< /Type /Page ", "<< ", ">> ", "] ", "[ ", "2 0 R ", "3 0 R ",
                            "4 R ", "5 0 R ", "6 0 R ", "7 ", "<", "(", ")", "/Kids ", "endobj\n", " "};
    std::mt19937 rng(7);
    int compared = 0;
    int outcomes[5] = {};  // -2, -1, 0, one page, more pages: every kind must occur
    for (int round = 0; round < 1500; ++round) {
        std::string s = "%PDF-1.4\n";
        for (int n = 2; n <= 7; ++n) {
            s += std::to_string(n) + " 0 obj ";
            int parts = 1 + static_cast<int>(rng() % 7);
            s += pieces[rng() % 2];
            for (int k = 0; k < parts; ++k) s += pieces[rng() % (sizeof pieces / sizeof pieces[0])];
            if (rng() % 3) s += "endobj\n";
        }
        s += "endobj\n";
        pdf_doc d = doc_of(s);
        scan_objects(&d);
        doc_select(&d);
        ASSERT_EQ(doc_build_index(&d), 0);
        for (int32_t start = 2; start <= 7; ++start) {
            std::vector<int32_t> want;
            std::vector<uint8_t> flags(static_cast<size_t>(d.max_obj) + 1, 0);
            int want_r = reference_walk(d, start, &want, &flags);
            Walk got = walk(d, start);
            ASSERT_EQ(got.result, want_r) << s << "start " << start;
            ASSERT_EQ(got.pages, want) << s << "start " << start;
            ++compared;
            ++outcomes[want_r < 0 ? want_r + 2 : want_r == 0 ? 2 : want.size() > 1 ? 4 : 3];
        }
    }
    EXPECT_EQ(compared, 1500 * 6);
    for (int k = 0; k < 5; ++k) EXPECT_GT(outcomes[k], 20) << k;
}
