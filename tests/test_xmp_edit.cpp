// Packets edited in place: what changes, what stays byte for byte, and the
// packets that are refused.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "xmp/xmp.h"
#include "xmp/xmp_edit.h"

namespace {

// Two descriptions: the first with dc (elements) and pdf (an attribute), the
// second binding the xmp namespace to the older prefix "xap"; then padding.
const std::string HEAD =
    "<?xpacket begin='\xEF\xBB\xBF' id='W5M0MpCehiHzreSzNTczkc9d'?>\n"
    "<x:xmpmeta xmlns:x='adobe:ns:meta/'>\n"
    "<rdf:RDF xmlns:rdf='http://www.w3.org/1999/02/22-rdf-syntax-ns#'>\n";
const std::string DESC1 =
    "<rdf:Description rdf:about='' xmlns:dc='http://purl.org/dc/elements/1.1/' "
    "xmlns:pdf='http://ns.adobe.com/pdf/1.3/' pdf:Keywords='a, b'>\n"
    "  <dc:title><rdf:Alt><rdf:li xml:lang='x-default'>Old &amp; title</rdf:li>"
    "<rdf:li xml:lang='de'>Alt</rdf:li></rdf:Alt></dc:title>\n"
    "  <dc:creator><rdf:Seq><rdf:li>Ann</rdf:li><rdf:li>Bo</rdf:li></rdf:Seq></dc:creator>\n"
    "  <dc:format>application/pdf</dc:format>\n"
    "</rdf:Description>\n";
const std::string DESC2 =
    "<rdf:Description rdf:about='' xmlns:xap='http://ns.adobe.com/xap/1.0/' "
    "xap:CreateDate='2004-02-12T10:46:53-05:00'/>\n";
const std::string TAIL = "</rdf:RDF>\n</x:xmpmeta>\n" + std::string(400, ' ') + "\n<?xpacket end='w'?>";
const std::string PACKET = HEAD + DESC1 + DESC2 + TAIL;

std::string edit(const std::string& packet, const std::vector<xmp_change>& changes) {
    std::string out, why;
    EXPECT_TRUE(xmp_packet_edit(packet, changes, &out, &why)) << why;
    return out;
}

propvec props_of(const std::string& packet) {
    propvec pv;
    xmp_read_rdf(reinterpret_cast<const uint8_t*>(packet.data()), static_cast<int32_t>(packet.size()), true, &pv);
    return pv;
}

std::string value(const propvec& pv, const char* name) {
    const std::string* v = pv.find(name);
    return v ? *v : "<none>";
}

// The bytes of `s` with the first `from` replaced by `to`.
std::string replaced(std::string s, const std::string& from, const std::string& to) {
    size_t p = s.find(from);
    EXPECT_NE(p, std::string::npos) << from;
    if (p != std::string::npos) s.replace(p, from.size(), to);
    return s;
}

// The padding absorbs the change: the text before it as expected, and the
// packet as long as before.
void expect_edited(const std::string& got, const std::string& want_unpadded) {
    EXPECT_EQ(got.size(), PACKET.size());
    size_t tail = want_unpadded.find("</x:xmpmeta>\n") + 13;
    EXPECT_EQ(got.substr(0, tail), want_unpadded.substr(0, tail));
    EXPECT_EQ(got.substr(got.size() - 20), "\n<?xpacket end='w'?>");
}

}  // namespace

TEST(XmpEdit, ReplacesElementsAndAttributesInPlaceAndKeepsEverythingElse) {
    std::string got = edit(PACKET, {{"dc:title", "New <title>"}, {"xmp:CreateDate", "2024-01-15T10:00:00+01:00"},
                                    {"pdf:Keywords", "x, y"}, {"dc:creator", "Cy"}});
    std::string want = replaced(PACKET,
                                "<dc:title><rdf:Alt><rdf:li xml:lang='x-default'>Old &amp; title</rdf:li>"
                                "<rdf:li xml:lang='de'>Alt</rdf:li></rdf:Alt></dc:title>",
                                "<dc:title><rdf:Alt><rdf:li xml:lang=\"x-default\">New &lt;title&gt;</rdf:li>"
                                "</rdf:Alt></dc:title>");
    want = replaced(want, "xap:CreateDate='2004-02-12T10:46:53-05:00'", "xap:CreateDate='2024-01-15T10:00:00+01:00'");
    want = replaced(want, "pdf:Keywords='a, b'", "pdf:Keywords='x, y'");
    want = replaced(want, "<rdf:Seq><rdf:li>Ann</rdf:li><rdf:li>Bo</rdf:li></rdf:Seq>", "<rdf:Seq><rdf:li>Cy</rdf:li></rdf:Seq>");
    expect_edited(got, want);

    propvec pv = props_of(got);
    EXPECT_EQ(value(pv, "dc:title"), "New <title>");
    EXPECT_EQ(value(pv, "dc:creator"), "Cy");
    EXPECT_EQ(value(pv, "pdf:Keywords"), "x, y");
    EXPECT_EQ(value(pv, "dc:format"), "application/pdf");
}

TEST(XmpEdit, EmptyValuesRemoveAndMissingPropertiesAreAdded) {
    std::string got = edit(PACKET, {{"dc:creator", ""},
                                    {"pdf:Keywords", ""},
                                    {"xmp:CreatorTool", "Tool"},
                                    {"pdf:Producer", "P"},
                                    {"photoshop:City", "Oslo"},
                                    {"dc:subject", "k1, k2 ,k3"}});
    std::string want = replaced(PACKET, "  <dc:creator><rdf:Seq><rdf:li>Ann</rdf:li><rdf:li>Bo</rdf:li></rdf:Seq></dc:creator>\n", "  \n");
    want = replaced(want, " pdf:Keywords='a, b'", "");
    // Added where the namespace has a prefix (xmp is "xap" in the second
    // description, which turns from an empty-element tag into two tags), else
    // to the first description with a declaration of its own.
    want = replaced(want, "  <dc:format>application/pdf</dc:format>\n</rdf:Description>",
                    "  <dc:format>application/pdf</dc:format>\n<pdf:Producer>P</pdf:Producer>"
                    "<photoshop:City xmlns:photoshop=\"http://ns.adobe.com/photoshop/1.0/\">Oslo</photoshop:City>"
                    "<dc:subject><rdf:Bag><rdf:li>k1</rdf:li><rdf:li>k2</rdf:li><rdf:li>k3</rdf:li></rdf:Bag></dc:subject>"
                    "</rdf:Description>");
    want = replaced(want, "xap:CreateDate='2004-02-12T10:46:53-05:00'/>",
                    "xap:CreateDate='2004-02-12T10:46:53-05:00'><xap:CreatorTool>Tool</xap:CreatorTool></rdf:Description>");
    expect_edited(got, want);

    propvec pv = props_of(got);
    EXPECT_EQ(value(pv, "dc:creator"), "<none>");
    EXPECT_EQ(value(pv, "pdf:Keywords"), "<none>");
    EXPECT_EQ(value(pv, "xap:CreatorTool"), "Tool");
    EXPECT_EQ(value(pv, "photoshop:City"), "Oslo");
    EXPECT_EQ(value(pv, "dc:subject"), "k1, k2, k3");
    EXPECT_EQ(value(pv, "dc:title"), "Old & title");
}

TEST(XmpEdit, LaterCopiesOfAPropertyGoAndANewDescriptionIsMadeWhenThereIsNone) {
    const std::string twice = HEAD + DESC1 + replaced(DESC1, "pdf:Keywords='a, b'", "") + TAIL;
    std::string got = edit(twice, {{"dc:title", "T"}});
    propvec pv = props_of(got);
    EXPECT_EQ(value(pv, "dc:title"), "T");
    EXPECT_EQ(got.find("Old &amp; title"), std::string::npos);

    const std::string bare = HEAD + TAIL;
    got = edit(bare, {{"dc:title", "T"}, {"xmp:ModifyDate", "2024-01-15"}});
    pv = props_of(got);
    EXPECT_EQ(value(pv, "dc:title"), "T");
    EXPECT_EQ(value(pv, "xmp:ModifyDate"), "2024-01-15");
    EXPECT_EQ(got.substr(0, HEAD.size()), HEAD);
}

TEST(XmpEdit, PacketsThatCannotBeEditedAreRefused) {
    const std::string laughs =
        "<?xml version='1.0'?><!DOCTYPE x [<!ENTITY a 'aaaaaaaaaa'><!ENTITY b '&a;&a;&a;&a;&a;&a;&a;&a;'>]>"
        "<x:xmpmeta xmlns:x='adobe:ns:meta/'><rdf:RDF xmlns:rdf='http://www.w3.org/1999/02/22-rdf-syntax-ns#'>"
        "<rdf:Description rdf:about=''>&b;</rdf:Description></rdf:RDF></x:xmpmeta>";
    const struct {
        std::string packet;
        std::vector<xmp_change> changes;
        const char* why;
    } cases[] = {
        {laughs, {{"dc:title", "T"}}, "the XMP packet has a document type declaration"},
        {HEAD + DESC1, {{"dc:title", "T"}}, "the XMP packet is not well-formed XML ("},
        {"<x:xmpmeta xmlns:x='adobe:ns:meta/'/>", {{"dc:title", "T"}}, "the XMP packet has no rdf:RDF element"},
        {PACKET, {{"foo:bar", "T"}}, "the XMP packet declares no namespace for the prefix foo"},
    };
    for (const auto& c : cases) {
        std::string out = "untouched", why;
        EXPECT_FALSE(xmp_packet_edit(c.packet, c.changes, &out, &why)) << c.why;
        EXPECT_EQ(why.rfind(c.why, 0), 0u) << why;
        EXPECT_EQ(out, "untouched");
    }
}

TEST(XmpEdit, DeepNestingAndHugeAttributesStayLinear) {
    // 200,000 nested elements and a 4 MB attribute: parsed once, edited once.
    std::string deep = HEAD + "<rdf:Description rdf:about='' xmlns:dc='http://purl.org/dc/elements/1.1/' "
                              "xmlns:e='urn:e' e:big='" + std::string(4 << 20, 'v') + "'><e:n>";
    for (int i = 0; i < 200000; ++i) deep += "<e:n>";
    for (int i = 0; i < 200000; ++i) deep += "</e:n>";
    deep += "</e:n></rdf:Description>" + TAIL;
    std::string got = edit(deep, {{"dc:title", "T"}});
    EXPECT_EQ(value(props_of(got), "dc:title"), "T");
}

TEST(XmpEdit, NewPackets) {
    std::string p, why;
    ASSERT_TRUE(xmp_packet_new({{"dc:title", "T & U"}, {"dc:creator", "A, B"}, {"pdf:Producer", ""}, {"xmp:CreateDate", "2024-01-15"}},
                               &p, &why));
    propvec pv = props_of(p);
    EXPECT_EQ(value(pv, "dc:title"), "T & U");
    EXPECT_EQ(value(pv, "dc:creator"), "A, B");
    EXPECT_EQ(value(pv, "pdf:Producer"), "<none>");
    EXPECT_EQ(value(pv, "xmp:CreateDate"), "2024-01-15");
    // The new packet is itself editable.
    std::string again;
    ASSERT_TRUE(xmp_packet_edit(p, {{"dc:title", "V"}}, &again, &why)) << why;
    EXPECT_EQ(again.size(), p.size());
    EXPECT_FALSE(xmp_packet_new({{"foo:bar", "x"}}, &p, &why));
    EXPECT_EQ(why, "no namespace is known for the prefix foo");
}
