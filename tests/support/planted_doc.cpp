// A document with metadata planted in many places.
#include "support/planted_doc.h"

std::string xmp_packet(const std::string& title) {
    return "<?xpacket begin=\"\" id=\"W5M0MpCehiHzreSzNTczkc9d\"?>"
           "<x:xmpmeta xmlns:x=\"adobe:ns:meta/\"><rdf:RDF xmlns:rdf=\"http://www.w3.org/1999/02/22-rdf-syntax-ns#\">"
           "<rdf:Description rdf:about=\"\" xmlns:dc=\"http://purl.org/dc/elements/1.1/\">"
           "<dc:title><rdf:Alt><rdf:li xml:lang=\"x-default\">" +
           title + "</rdf:li></rdf:Alt></dc:title></rdf:Description></rdf:RDF></x:xmpmeta><?xpacket end=\"w\"?>";
}

PdfBuilder planted() {
    PdfBuilder b("1.5");
    b.obj(1, "<< /Type /Catalog /Pages 2 0 R /Metadata 10 0 R "
             "/PieceInfo << /CatApp << /LastModified (D:20240102) /Private 11 0 R >> >> >>");
    b.obj(2, "<< /Type /Pages /Kids [3 0 R] /Count 1 >>");
    b.obj(3, "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 10 10] /Metadata 12 0 R "
             "/Resources << /XObject << /Im1 13 0 R >> /Font << /F1 14 0 R >> >> "
             "/PieceInfo << /PageApp << /LastModified (D:20230304) >> /Other << >> >> >>");
    // Author: UTF-16BE with a byte-order mark, "\u00C4da".
    b.obj(4, "<< /Title (Old title) /Author <FEFF00C400640061> /Producer (Planter 1.0) >>");
    b.obj(11, "<< /Data (private) >>");
#ifdef VELLIX_HAVE_ZLIB
    b.stream(10, "/Type /Metadata /Subtype /XML /Filter /FlateDecode", zlib_compress(xmp_packet("Catalog XMP")));
#else
    b.stream(10, "/Type /Metadata /Subtype /XML", xmp_packet("Catalog XMP"));
#endif
    b.stream(12, "/Type /Metadata /Subtype /XML", xmp_packet("Page XMP"));
    b.stream(13, "/Type /XObject /Subtype /Image /Width 1 /Height 1 /ColorSpace /DeviceGray /BitsPerComponent 8 "
                 "/Metadata 15 0 R",
             std::string(1, '\0'));
    b.obj(14, "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica /Metadata 16 0 R >>");
    b.stream(15, "/Type /Metadata /Subtype /XML", xmp_packet("Image XMP"));
    b.stream(16, "/Type /Metadata /Subtype /XML", xmp_packet("Font XMP"));
    b.stream(17, "/Type /Metadata /Subtype /XML", xmp_packet("Stray XMP"));
    b.object_stream(20, {{5, "<< /Title (Orphan) /Producer (Ghost writer) >>"}});
    b.xref_trailer(std::string("/Size 21 /Root 1 0 R /Info 4 0 R /ID [<") + ID_A + "><" + ID_A + ">]");
    return b;
}

