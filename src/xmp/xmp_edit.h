// Editing an XMP packet in place: named properties are replaced, added or
// removed, and every other byte of the packet stays as it was (the padding
// before the closing processing instruction shrinks or grows to absorb the
// change where it can). The packet is parsed with expat; one with a document
// type declaration (the only place entities can be declared) is refused, so
// no entity is ever expanded.
#pragma once

#include <string>
#include <string_view>
#include <vector>

// One change: "prefix:local" and its new value; an empty value removes it.
struct xmp_change {
    std::string name;
    std::string value;
};

// How a property's value is written: plain text, an rdf:Alt with an
// x-default item (dc:title, dc:description, dc:rights), an rdf:Seq with one
// item (dc:creator) or an rdf:Bag of the comma-separated items (dc:subject).
enum class xmp_form { simple, alt, seq, bag };
xmp_form xmp_form_of(std::string_view name);

// The namespace of a well-known prefix (dc, xmp, pdf, xmpMM, ...), or empty.
std::string_view xmp_known_namespace(std::string_view prefix);

// Applies the changes (the first change of a name counts) to the UTF-8
// packet: the first occurrence of a property (an element or an attribute of
// an rdf:Description, matched by namespace and local name) is replaced and
// later ones removed; a property the packet lacks is added to the first
// rdf:Description holding its namespace, else to the first one, else in a
// new rdf:Description. False with *why when the packet cannot be edited
// (not well-formed XML, a document type declaration, no rdf:RDF element, a
// prefix whose namespace is unknown and undeclared).
bool xmp_packet_edit(std::string_view packet, const std::vector<xmp_change>& changes, std::string* out,
                     std::string* why);

// A new packet holding the changes with a value, in the forms above, with
// 2 KB of padding; false with *why for a prefix of no well-known namespace.
bool xmp_packet_new(const std::vector<xmp_change>& changes, std::string* out, std::string* why);
