// Building an XMP packet from flat property/value pairs.
#pragma once

#include <string>

#include "core/json_flat.h"
#include "core/strbuf.h"

// Copy of s with the five XML special characters replaced by entities.
// Never null except when memory is exhausted.
cstr xml_escape(const char* s);

// 1 when key is a property name "ns:Local": not empty, only ASCII letters,
// digits, '_', '-' and ':', at least one ':' and not ending in ':'.
int xmp_key_ok(const char* key);

// The whole packet for the pairs of obj, in order; an xmp:ModifyDate of now
// is added unless has_modify_date. Throws std::bad_alloc when memory runs out.
std::string xmp_packet_build(const jsonobj& obj, bool has_modify_date);
