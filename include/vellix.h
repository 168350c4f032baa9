/* vellix: read and rewrite the metadata of PDF files.
 *
 * Every function takes NUL-terminated byte strings (paths are passed to the
 * system unchanged). Texts returned are compact JSON owned by the library:
 * do not free or modify them; each stays valid until the next call of the
 * same function on the same thread. On failure a function returns NULL, 0 or
 * -1 and vellix_last_error() describes why.
 *
 * The last-error message and the result texts are kept per thread (like
 * errno), so calls from several threads may overlap.
 */
#ifndef VELLIX_H
#define VELLIX_H

#if defined(__GNUC__)
#define VELLIX_API __attribute__((visibility("default")))
#else
#define VELLIX_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Options: a per-thread word that turns on conforming behaviour. 0, the
 * default of every new thread, gives the byte-exact texts and files.
 *   VELLIX_UNICODE  text strings of the file (Info values, bookmark titles,
 *                   page-label prefixes, font names, XMP values) come out as
 *                   UTF-8, decoded as the PDF standard defines text strings;
 *                   every JSON text is valid UTF-8. Writers take UTF-8 values
 *                   and store non-ASCII ones as UTF-16 with a byte-order mark.
 *   VELLIX_RESOLVE  structures are read as the PDF standard defines them:
 *                   indirect values, page-label number trees, bookmark
 *                   actions and named destinations, font descriptors,
 *                   inherited resources, abbreviated XMP, key lengths in bits.
 *   VELLIX_KEEP_STREAMS  a full rewrite (every write but an incremental
 *                   one) copies each object stream none of whose members
 *                   the write changes or removes byte for byte, still
 *                   compressed and under its own number; the objects the
 *                   write changes, adds or removes, and the other objects
 *                   of any stream that held one of them, are written as
 *                   plain objects. The cross-reference section is then a
 *                   cross-reference stream keeping /Root, /Info and /ID;
 *                   the input's own cross-reference streams are left out.
 *                   Without an object stream to copy the output is that of
 *                   a write without this bit (added objects may be
 *                   numbered above the input's object streams).
 *   VELLIX_INCREMENTAL  vellix_write, vellix_write_full and vellix_write_xmp
 *                   keep the input's bytes unchanged and append an update:
 *                   the new objects (Info; for XMP also the metadata stream
 *                   and a copy of the catalog), a cross-reference section of
 *                   the kind of the input's last one with /Prev, a trailer
 *                   keeping /Root and the first /ID element. When out_path
 *                   names the input file the update is appended in place (on
 *                   failure the file is cut back to its length); otherwise
 *                   the input is copied and the update appended, then the
 *                   copy renamed into place. A file whose startxref does not
 *                   lead to a cross-reference section fails with "cannot
 *                   update %s incrementally: its startxref does not point at
 *                   a cross-reference section; rewrite it without the
 *                   incremental option" (the input path). The removal
 *                   writers (vellix_clear, vellix_clear_xmp,
 *                   vellix_batch_clear) ignore this bit: an update cannot
 *                   take old values out of a file.
 *   VELLIX_KEEP_SIGNATURES  a full rewrite (every write but an incremental
 *                   one) of a document holding a signature dictionary (one
 *                   with /ByteRange) fails with "the document is signed;
 *                   rewriting it would invalidate its signatures: %s" (the
 *                   input path) and writes nothing.
 *   VELLIX_SYNC     Info and XMP kept in agreement. vellix_write_xmp edits
 *                   the document's packet instead of replacing it: each
 *                   property named replaces the property of that name (by
 *                   namespace) or is added, an empty value removes it, and
 *                   every other byte of the packet stays (its padding absorbs
 *                   the change); xmp:ModifyDate and xmp:MetadataDate are set
 *                   to now unless given; without a packet a new one is made.
 *                   The Info writers (vellix_write, vellix_write_full) also
 *                   edit the packet, when the document has one, and the XMP
 *                   writer sets the Info fields, so that the eight fields
 *                   agree: title = dc:title, author = dc:creator, subject =
 *                   dc:description, keywords = pdf:Keywords, creator =
 *                   xmp:CreatorTool, producer = pdf:Producer, creation_date =
 *                   xmp:CreateDate, mod_date = xmp:ModifyDate (dates
 *                   converted with their offsets). A field one side lacks is
 *                   taken from the other; the side written wins. Texts are
 *                   UTF-8 under this bit. A packet that cannot be edited (not
 *                   well-formed XML, a document type declaration, not UTF-8,
 *                   no rdf:RDF) fails the write with a message and nothing
 *                   is written, so the two never silently diverge. */
#define VELLIX_UNICODE 0x01u
#define VELLIX_RESOLVE 0x02u
#define VELLIX_KEEP_STREAMS 0x04u
#define VELLIX_INCREMENTAL 0x08u
#define VELLIX_SYNC 0x10u
#define VELLIX_KEEP_SIGNATURES 0x20u
/* Sets this thread's options and returns the previous set. Unknown bits: nothing
 * changes, the result is (unsigned)-1 and the message is "unknown option bits 0x%x"
 * (the unknown bits alone). vellix_init does not change options. */
VELLIX_API unsigned vellix_set_options(unsigned options);
/* This thread's options. */
VELLIX_API unsigned vellix_get_options(void);

/* Empties the last-error message; always returns 1. Optional. */
VELLIX_API int vellix_init(void);
/* Empties the last-error message; earlier result texts stay valid. */
VELLIX_API void vellix_cleanup(void);
/* Last failure message of this thread ("" when none); never NULL, owned by the library. */
VELLIX_API const char *vellix_last_error(void);

/* Info fields, page count, size and version as JSON; library-owned until the next vellix_read. */
VELLIX_API const char *vellix_read(const char *path);
/* Writes a copy with up to four Info values replaced (NULL leaves a field alone); 1 or 0. */
VELLIX_API int vellix_write(const char *in_path, const char *out_path, const char *title,
                            const char *author, const char *subject, const char *keywords);
/* Writes a copy without the Info dictionary; 1 or 0. */
VELLIX_API int vellix_clear(const char *in_path, const char *out_path);
/* Writes a copy with Info values taken from a flat JSON object (borrowed); 1 or 0. */
VELLIX_API int vellix_write_full(const char *in_path, const char *out_path, const char *json);

/* XMP properties as a flat JSON object; library-owned until the next vellix_read_xmp. */
VELLIX_API const char *vellix_read_xmp(const char *path);
/* Writes a copy with an XMP packet built from a flat JSON object (borrowed); 1 or 0. */
VELLIX_API int vellix_write_xmp(const char *in_path, const char *out_path, const char *xmp_json);
/* Writes a copy without the XMP metadata stream; 1 or 0. */
VELLIX_API int vellix_clear_xmp(const char *in_path, const char *out_path);
/* Writes a copy that keeps no metadata; 1 or 0. A full rewrite of the objects reached from the
 * catalog: no Info dictionary, no XMP stream anywhere, no /Metadata or /PieceInfo entries, no
 * earlier revision, a new random /ID; page content, annotations, forms and attachments kept. Object
 * streams none of whose members change are kept under VELLIX_KEEP_STREAMS; a signed document is
 * refused under VELLIX_KEEP_SIGNATURES; VELLIX_INCREMENTAL is ignored (an update cannot remove old
 * values). The copy is read back before it replaces out_path: if any trace of metadata remains
 * (as vellix_traces lists them), nothing is written and the call fails. in_path may equal out_path. */
VELLIX_API int vellix_scrub(const char *in_path, const char *out_path);

/* Font list as JSON; library-owned until the next vellix_fonts. */
VELLIX_API const char *vellix_fonts(const char *path);
/* Image list as JSON; library-owned until the next vellix_images. */
VELLIX_API const char *vellix_images(const char *path);
/* Bookmark tree as JSON; library-owned until the next vellix_bookmarks. */
VELLIX_API const char *vellix_bookmarks(const char *path);
/* Encryption summary as JSON; library-owned until the next vellix_security. */
VELLIX_API const char *vellix_security(const char *path);
/* Size breakdown as JSON; library-owned until the next vellix_analyze. */
VELLIX_API const char *vellix_analyze(const char *path);
/* Page-label ranges as JSON; library-owned until the next vellix_page_labels. */
VELLIX_API const char *vellix_page_labels(const char *path);
/* Every place metadata lives in the file, as one JSON text (library-owned until the next call on
 * this thread), or NULL with a message:
 * {"revisions":[{"offset":N,"xref":"table"|"stream"|"none","info":{eight fields}|null},..],
 *  "items":[{"kind":"info"|"xmp"|"piece_info"|"id","object":N,"revision":R,"reachable":B,
 *            "owner":"trailer"|"catalog"|"page P"|"object N"|"none","offset":N,"values":{..}},..]}
 * Revisions are the incremental sections oldest first (1 is the original), each with the Info
 * values its trailer named. An encrypted file gives its revisions and /ID only. */
VELLIX_API const char *vellix_traces(const char *path);

/* Info of every .pdf file of a directory; on 1 *out_json receives a library-owned text valid until the next vellix_batch_read. */
VELLIX_API int vellix_batch_read(const char *dir, const char **out_json);
/* Writes metadata-free copies of every .pdf file of in_dir into out_dir; number written, or -1. */
VELLIX_API int vellix_batch_clear(const char *in_dir, const char *out_dir);
/* Field-by-field comparison of the Info of two files; library-owned until the next vellix_compare. */
VELLIX_API const char *vellix_compare(const char *path_a, const char *path_b);

#ifdef __cplusplus
}
#endif

#endif /* VELLIX_H */
