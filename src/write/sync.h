// Info and XMP kept in agreement (OPT_SYNC): the eight Info fields and the
// XMP properties that carry them, mapped both ways.
#pragma once

#include <array>
#include <optional>
#include <string>
#include <vector>

#include "info/info.h"
#include "load/doc.h"
#include "xmp/xmp_edit.h"

// The eight fields as one side holds them: texts as UTF-8, dates in that
// side's own form (PDF dates for Info, ISO 8601 for XMP); empty when absent.
using sync_fields = std::array<std::string, INFO_FIELD_COUNT>;

// The XMP property of each field (title = dc:title, ..., mod_date =
// xmp:ModifyDate).
extern const char* const SYNC_XMP_NAMES[INFO_FIELD_COUNT];

// The fields of a UTF-8 packet (the xmp namespace also under its older
// prefix "xap"; dc:creator items joined with ", ").
sync_fields sync_fields_of_packet(const std::string& packet);

// The fields of an Info dictionary text (the bytes from "<<" to ">>"), its
// strings decoded as PDF text strings and its dates as written.
sync_fields sync_fields_of_info(const std::string& dict);

// The fields of the document's current Info dictionary.
sync_fields sync_fields_of_doc(const pdf_doc& doc);

// The document's packet as UTF-8 XML, or false with the message when it
// cannot be decoded or is not UTF-8 (it is then not edited).
bool sync_packet_of(const pdf_doc& doc, const obj_entry& stream, std::string* packet);

// Whether an Info value and an XMP value say the same (dates: the same
// instant as far as both go).
bool sync_same(int field, const std::string& info_value, const std::string& xmp_value);

// The XMP changes that make a packet holding `xmp` say what `info` says,
// for every field where they differ and Info has a value; the mod date also
// sets xmp:MetadataDate.
std::vector<xmp_change> sync_changes_from_info(const sync_fields& info, const sync_fields& xmp);

// One field's value converted for the other side.
std::string sync_info_value_of_xmp(int field, const std::string& xmp_value);
std::string sync_xmp_value_of_info(int field, const std::string& info_value);
