// Packet scanning: reference decoding, name splitting, the property list,
// the container and simple-element scans, and the VXDBG2 diagnostic line.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include "xmp/xmp.h"

namespace {

using props = std::vector<std::pair<std::string, std::string>>;

const uint8_t* u8(const std::string& s) { return reinterpret_cast<const uint8_t*>(s.data()); }

std::string decode(const std::string& s) {
    cstr r = xml_decode(u8(s), static_cast<int32_t>(s.size()));
    EXPECT_NE(r, nullptr);
    return r ? std::string(r.get()) : std::string();
}

props to_props(const propvec& pv) {
    props out;
    for (const xmp_prop& p : pv.items) out.emplace_back(p.name, p.value);
    return out;
}

// Both phases over a packet, in reader order.
props scan(const std::string& pkt) {
    propvec pv;
    xmp_scan_containers(u8(pkt), static_cast<int32_t>(pkt.size()), &pv);
    xmp_scan_simple(u8(pkt), static_cast<int32_t>(pkt.size()), &pv);
    props out = to_props(pv);
    propvec_free(&pv);
    EXPECT_EQ(pv.count(), 0);
    return out;
}

std::string desc(const std::string& inner) {
    return "<?xpacket begin=\"\" id=\"W5M0MpCehiHzreSzNTczkc9d\"?>\n"
           "<x:xmpmeta xmlns:x=\"adobe:ns:meta/\">\n"
           "<rdf:RDF xmlns:rdf=\"http://www.w3.org/1999/02/22-rdf-syntax-ns#\">\n"
           "<rdf:Description rdf:about=\"\" xmlns:dc=\"http://purl.org/dc/elements/1.1/\">\n" +
           inner +
           "</rdf:Description>\n</rdf:RDF>\n</x:xmpmeta>\n<?xpacket end=\"w\"?>";
}

// Runs fn with stderr redirected to a temporary file and returns what was written.
template <class F>
std::string capture_stderr(F&& fn) {
    std::fflush(stderr);
    FILE* tmp = std::tmpfile();
    EXPECT_NE(tmp, nullptr);
    int saved = dup(2);
    dup2(fileno(tmp), 2);
    fn();
    std::fflush(stderr);
    dup2(saved, 2);
    close(saved);
    std::string out;
    std::rewind(tmp);
    char buf[4096];
    size_t k;
    while ((k = std::fread(buf, 1, sizeof buf, tmp)) > 0) out.append(buf, k);
    std::fclose(tmp);
    return out;
}

TEST(XmlDecode, Table) {
    struct row {
        std::string in, out;
    };
    const row rows[] = {
        {"&amp;lt;", "&lt;"},
        {"a&#233;", "a&#233;"},  // fewer than ten bytes follow the '&'
        {"Caf&#xE9; au lait", "Caf\xC3\xA9 au lait"},
        {"&#128512; and more text", "\xF0\x9F\x98\x80 and more text"},
        {"&#9; and more text", "&#9; and more text"},  // below 0x20 stays literal
        {"&#65x and more text", "A and more text"},    // the ending byte is dropped
        {"&nbsp;", "&nbsp;"},
        {"&lt;&gt;&quot;&apos;&amp;", "<>\"'&"},
        {"&LT;&Amp;&amp", "&LT;&Amp;&amp"},  // case-sensitive; an entity needs its ';'
        {"&#x10FFFF; and more", "\xF4\x8F\xBF\xBF and more"},
        {"&#x110000; and more", "&#x110000; and more"},          // beyond Unicode: literal
        {"&#99999999999999; more", "&#99999999999999; more"},    // overflows 32 bits: literal
        {"&#4294967361; and more", "&#4294967361; and more"},    // wraps to 65 in 32 bits: still literal
        {"&#xD800; and more", "\xED\xA0\x80 and more"},          // surrogates take three bytes
        {"&#x7FF; and more", "\xDF\xBF and more"},
        {"&#32; and more text", "  and more text"},
        {"&#x; and more text", "&#x; and more text"},  // no digit
        {"&#; and more text", "&#; and more text"},
        {"x &#1234567890", "x &#1234567890"},  // digits run to the end: no ending byte
        {"&#x41;&#x42; &#x43;", "AB &#x43;"},  // the last one is too near the end
        {"", ""},
        {"plain & simple", "plain & simple"},
    };
    for (const row& r : rows) EXPECT_EQ(decode(r.in), r.out) << "input: " << r.in;
}

TEST(XmlDecode, NonPositiveLengthGivesEmptyString) {
    cstr r = xml_decode(u8("abc"), -4);
    ASSERT_NE(r, nullptr);
    EXPECT_STREQ(r.get(), "");
}

TEST(XmpSplitName, Table) {
    struct row {
        std::string name;
        int result;
        std::string prefix, local;  // expected buffers when written
        bool written;
    };
    const std::string p31(31, 'p'), p32(32, 'p'), l47(47, 'l'), l48(48, 'l');
    const row rows[] = {
        {"dc:title", 1, "dc", "title", true},
        {"title", 1, "", "title", true},
        {"x:adobe:xmp", 0, "x", "adobe:xmp", true},
        {"x:xmpmeta", 0, "x", "xmpmeta", true},
        {"x:other", 1, "x", "other", true},
        {"rdf:RDF", 0, "rdf", "RDF", true},
        {"rdf:Alt", 0, "rdf", "Alt", true},
        {"rdf:Bag", 0, "rdf", "Bag", true},
        {"rdf:Seq", 0, "rdf", "Seq", true},
        {"rdf:li", 0, "rdf", "li", true},
        {"rdf:Description", 1, "rdf", "Description", true},
        {"rdf:lix", 1, "rdf", "lix", true},
        {"a:b:c", 1, "a", "b:c", true},
        {p31 + ":" + l47, 1, p31, l47, true},
        {p32 + ":x", 0, "", "", false},
        {"p:" + l48, 0, "", "", false},
        {l48, 0, "", "", false},
        {l47, 1, "", l47, true},
        {":x", 0, "", "", false},
        {"x:", 0, "", "", false},
    };
    for (const row& r : rows) {
        std::string buf = "<" + r.name + ">";
        char prefix[XMP_PREFIX_CAP] = "untouched";
        char local[XMP_LOCAL_CAP] = "untouched";
        int got = xmp_name_split(u8(buf), 1, static_cast<int32_t>(buf.size() - 1), prefix, local);
        EXPECT_EQ(got, r.result) << r.name;
        if (r.written) {
            EXPECT_EQ(std::string(prefix), r.prefix) << r.name;
            EXPECT_EQ(std::string(local), r.local) << r.name;
        } else {
            EXPECT_STREQ(prefix, "untouched") << r.name;
            EXPECT_STREQ(local, "untouched") << r.name;
        }
    }
}

TEST(XmpRecord, JoinFirstWinsAndEmptyValues) {
    propvec pv;
    xmp_record(&pv, "dc", "subject", "k1", 1);
    xmp_record(&pv, "dc", "subject", "", 1);
    xmp_record(&pv, "dc", "subject", nullptr, 1);
    xmp_record(&pv, "dc", "subject", "k2", 1);
    xmp_record(&pv, "pdf", "Producer", "first", 0);
    xmp_record(&pv, "pdf", "Producer", "second", 0);
    xmp_record(&pv, "", "bare", "v", 0);
    xmp_record(&pv, "x", "empty", "", 0);
    EXPECT_EQ(to_props(pv), (props{{"dc:subject", "k1,k2"}, {"pdf:Producer", "first"}, {"bare", "v"}}));
    ASSERT_NE(pv.find("pdf:Producer"), nullptr);
    EXPECT_EQ(*pv.find("pdf:Producer"), "first");
    EXPECT_EQ(pv.find("x:empty"), nullptr);
    propvec_free(&pv);
    EXPECT_EQ(pv.count(), 0);
    EXPECT_EQ(pv.find("dc:subject"), nullptr);
}

TEST(XmpRecord, ManyNamesKeepFirstRecordingOrder) {
    propvec pv;
    for (int i = 0; i < 1000; ++i) xmp_record(&pv, "p", ("n" + std::to_string(i)).c_str(), "v", 0);
    for (int i = 0; i < 1000; i += 2) xmp_record(&pv, "p", ("n" + std::to_string(i)).c_str(), "w", 1);
    ASSERT_EQ(pv.count(), 1000);
    for (int i = 0; i < 1000; ++i) {
        EXPECT_EQ(pv.items[static_cast<size_t>(i)].name, "p:n" + std::to_string(i));
        EXPECT_EQ(pv.items[static_cast<size_t>(i)].value, i % 2 ? "v" : "v,w");
    }
}

TEST(XmpScan, ContainersJoinItemsInDocumentOrder) {
    std::string pkt = desc(
        "<dc:title><rdf:Alt><rdf:li xml:lang=\"x-default\">Report</rdf:li>"
        "<rdf:li xml:lang=\"de\">Bericht</rdf:li></rdf:Alt></dc:title>\n"
        "<dc:subject>\n <rdf:Bag>\n  <rdf:li>k1</rdf:li>\n  <rdf:li></rdf:li>\n  <rdf:li>k2</rdf:li>\n </rdf:Bag>\n"
        "</dc:subject>\n"
        "<dc:creator><rdf:Seq><rdf:li>Ann</rdf:li><rdf:li>B&amp;B</rdf:li></rdf:Seq></dc:creator>\n");
    EXPECT_EQ(scan(pkt), (props{{"dc:title", "Report,Bericht"}, {"dc:subject", "k1,k2"}, {"dc:creator", "Ann,B&B"}}));
}

TEST(XmpScan, AltItemsComeBeforeBagItemsOfTheSameName) {
    // The Bag stands first in the packet, but all rdf:Alt containers are read first.
    std::string pkt = desc(
        "<my:p><rdf:Bag><rdf:li>bag</rdf:li></rdf:Bag></my:p>\n"
        "<my:p><rdf:Alt><rdf:li>alt</rdf:li></rdf:Alt></my:p>\n");
    EXPECT_EQ(scan(pkt), (props{{"my:p", "alt,bag"}}));
}

TEST(XmpScan, ContainerNameRules) {
    struct row {
        std::string body;
        props want;
    };
    const row rows[] = {
        // A container tag with an attribute or white space is not recognised.
        {"<dc:subject><rdf:Bag a=\"1\"><rdf:li>k</rdf:li></rdf:Bag></dc:subject>", {}},
        {"<dc:subject><rdf:Bag ><rdf:li>k</rdf:li></rdf:Bag></dc:subject>", {}},
        // A container directly in an item counts under rdf:li.
        {"<rdf:li><rdf:Seq><rdf:li>k</rdf:li></rdf:Seq></rdf:li>", {{"rdf:li", "k"}}},
        // An enclosing element without prefix records nothing.
        {"<subject><rdf:Bag><rdf:li>k</rdf:li></rdf:Bag></subject>", {}},
        // The enclosing name is cut at white space; its attributes are passed over.
        {"<dc:rights\nq=\"1\"><rdf:Alt><rdf:li xml:lang=\"x-default\">r</rdf:li></rdf:Alt></dc:rights>",
         {{"dc:rights", "r"}}},
        // Item text keeps its white space and markup is decoded once.
        {"<a:b><rdf:Bag><rdf:li> sp &amp;amp; </rdf:li></rdf:Bag></a:b>", {{"a:b", " sp &amp; "}}},
        // A container without its closing tag records nothing.
        {"<a:b><rdf:Bag><rdf:li>k</rdf:li>", {}},
    };
    for (const row& r : rows) EXPECT_EQ(scan(desc(r.body)), r.want) << r.body;
    // No '<' within the 1024 bytes before the container: no name.
    std::string far = "<?xpacket?><a:b>" + std::string(1100, ' ') + "<rdf:Bag><rdf:li>k</rdf:li></rdf:Bag></a:b>";
    EXPECT_EQ(scan(far), props{});
    std::string near = "<?xpacket?><a:b>" + std::string(1000, ' ') + "<rdf:Bag><rdf:li>k</rdf:li></rdf:Bag></a:b>";
    EXPECT_EQ(scan(near), (props{{"a:b", "k"}}));
    // The enclosing '<' at position 0 gives no name.
    EXPECT_EQ(scan("<a:b><rdf:Bag><rdf:li>k</rdf:li></rdf:Bag></a:b>"), props{});
}

TEST(XmpScan, SimpleElements) {
    struct row {
        std::string body;
        props want;
    };
    const std::string p31(31, 'p'), p32(32, 'p'), l47(47, 'l'), l48(48, 'l');
    const row rows[] = {
        {"<pdf:Producer>one</pdf:Producer><pdf:Producer>two</pdf:Producer>", {{"pdf:Producer", "one"}}},
        {"<pdf:Producer>\n  P\n</pdf:Producer>", {{"pdf:Producer", "\n  P\n"}}},
        {"<xmp:CreateDate a=\"b\">2024</xmp:CreateDate>", {{"xmp:CreateDate", "2024"}}},
        {"<xap:CreateDate>2001</xap:CreateDate>", {{"xap:CreateDate", "2001"}}},
        {"<pdf:Keywords>a &lt;b&gt; &#x263A; &amp;amp;</pdf:Keywords>", {{"pdf:Keywords", "a <b> \xE2\x98\xBA &amp;"}}},
        {"<" + p31 + ":" + l47 + ">v</" + p31 + ":" + l47 + ">", {{p31 + ":" + l47, "v"}}},
        {"<" + p32 + ":x>v</" + p32 + ":x>", {}},
        {"<p:" + l48 + ">v</p:" + l48 + ">", {}},
        {"<title>v</title>", {}},                       // no prefix: never recorded
        {"<a:b/>\n<a:c>v</a:c>", {{"a:c", "v"}}},        // self-closing followed by markup
        {"<a:b>  </a:b>", {}},                           // only blanks before its end tag
        {"<a:b></a:b>", {}},                             // empty content
        {"<a:b>v</a:B>", {}},                            // end tag must match exactly
        {"<a:b>x<c:d>y</c:d></a:b>", {{"a:b", "x<c:d>y</c:d>"}}},  // nested markup is not visited again
        {"<!-- <a:b>c</a:b> -->", {{"a:b", "c"}}},       // comments are not skipped over, only '<!'
        {"<a:b>unterminated", {}},
    };
    for (const row& r : rows) EXPECT_EQ(scan(desc(r.body)), r.want) << r.body;
    // Attribute form on rdf:Description is not reported.
    std::string attr = desc("") ;
    attr.replace(attr.find("rdf:about"), 9, "pdf:Producer=\"Attr\" rdf:about");
    EXPECT_EQ(scan(attr), props{});
}

TEST(XmpScan, ContainerWinsOverSimpleElement) {
    std::string pkt = desc(
        "<dc:subject>plain</dc:subject>\n"
        "<dc:subject><rdf:Bag><rdf:li>k1</rdf:li><rdf:li>k2</rdf:li></rdf:Bag></dc:subject>\n");
    EXPECT_EQ(scan(pkt), (props{{"dc:subject", "k1,k2"}}));
}

TEST(XmpScan, ShortAndTruncatedPacketsAreSafe) {
    std::string pkt = desc(
        "<dc:title><rdf:Alt><rdf:li xml:lang=\"x-default\">T &#x263A; and so on</rdf:li></rdf:Alt></dc:title>"
        "<pdf:Producer>P</pdf:Producer><xmp:CreatorTool>W</xmp:CreatorTool>");
    for (size_t len = 0; len <= pkt.size(); ++len) {
        // A copy of exactly len bytes, so any read beyond is caught by the sanitizer.
        std::vector<uint8_t> bytes(pkt.begin(), pkt.begin() + static_cast<long>(len));
        propvec pv;
        xmp_scan_containers(bytes.data(), static_cast<int32_t>(len), &pv);
        xmp_scan_simple(bytes.data(), static_cast<int32_t>(len), &pv);
        if (len == pkt.size()) {
            EXPECT_EQ(to_props(pv),
                      (props{{"dc:title", "T \xE2\x98\xBA and so on"}, {"pdf:Producer", "P"}, {"xmp:CreatorTool", "W"}}));
        }
        for (const xmp_prop& p : pv.items) EXPECT_FALSE(p.value.empty());
    }
}

TEST(XmpScan, AdversarialPacketsStayFast) {
    // Each of these takes minutes when a search restarts from every '<' and
    // runs to the end of the packet; a linear scan needs well under a second.
    const int reps = 200000;
    auto repeat = [](const std::string& unit, int times) {
        std::string s = " ";
        for (int i = 0; i < times; ++i) s += unit;
        return s;
    };
    const std::string packets[] = {
        repeat("<a:b>x", reps),        // no end tags
        repeat("<a:b>x</a:c>", reps),  // end tags that never match
        repeat("<a:b ", reps),         // no '>'
        repeat("<", 1000000),          // names that never end
        repeat("<a:b ", reps) + ">" + std::string(1000000, ' ') + "x",  // one '>' and one blank run for all
        repeat("<rdf:Bag>", reps),     // containers never closed
    };
    auto start = std::chrono::steady_clock::now();
    for (const std::string& p : packets) EXPECT_EQ(scan(p), props{});
    double secs = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_LT(secs, 30.0);
}

TEST(XmpScan, LargeContainerJoinsEveryItem) {
    const std::string item(1000, 'k');
    std::string pkt = " <a:b><rdf:Bag>";
    for (int i = 0; i < 2000; ++i) pkt += "<rdf:li>" + item + "</rdf:li>";
    pkt += "</rdf:Bag></a:b>";
    props got = scan(pkt);
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].first, "a:b");
    std::string want = item;
    for (int i = 1; i < 2000; ++i) want += "," + item;
    EXPECT_EQ(got[0].second, want);
}

TEST(XmpScan, DiagnosticLinePerContainer) {
    std::string pkt = desc(
        "<dc:title><rdf:Alt><rdf:li>T</rdf:li></rdf:Alt></dc:title>\n"
        "<dc:subject><rdf:Bag><rdf:li>k</rdf:li></rdf:Bag></dc:subject>\n");
    const long t_alt = static_cast<long>(pkt.find("<rdf:Alt>"));
    const long e_alt = static_cast<long>(pkt.find("</rdf:Alt>"));
    const long t_bag = static_cast<long>(pkt.find("<rdf:Bag>"));
    const long e_bag = static_cast<long>(pkt.find("</rdf:Bag>"));
    auto run = [&] {
        propvec pv;
        xmp_scan_containers(u8(pkt), static_cast<int32_t>(pkt.size()), &pv);
        xmp_scan_simple(u8(pkt), static_cast<int32_t>(pkt.size()), &pv);
    };

    unsetenv("VXDBG2");
    EXPECT_EQ(capture_stderr(run), "");

    setenv("VXDBG2", "", 1);  // set, even empty, turns the line on
    std::string out = capture_stderr(run);
    unsetenv("VXDBG2");
    EXPECT_EQ(out, "[mm] tag@" + std::to_string(t_alt) + " ns=dc local=title bend=" + std::to_string(e_alt) + "\n" +
                       "[mm] tag@" + std::to_string(t_bag) + " ns=dc local=subject bend=" + std::to_string(e_bag) +
                       "\n");

    // A container without a usable enclosing name still gets its line; an
    // unclosed one gets none.
    std::string odd = "<a><rdf:Seq><rdf:li>k</rdf:li></rdf:Seq><rdf:Seq>";
    setenv("VXDBG2", "1", 1);
    std::string odd_out = capture_stderr([&] {
        propvec pv;
        xmp_scan_containers(u8(odd), static_cast<int32_t>(odd.size()), &pv);
        EXPECT_EQ(pv.count(), 0);
    });
    unsetenv("VXDBG2");
    EXPECT_EQ(odd_out, "[mm] tag@3 ns= local= bend=" + std::to_string(odd.find("</rdf:Seq>")) + "\n");
}

}  // namespace
