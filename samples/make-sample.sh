#!/usr/bin/env bash
# Makes samples/sample.pdf with Ghostscript's pdfwrite device: three pages,
# an Info dictionary with a title stored as UTF-16 and the XMP packet that
# pdfwrite derives from it, two embedded font subsets and one font that is
# not embedded, a 16x16 RGB image, a nested bookmark tree (one bookmark
# reaches its page through a named destination) and page labels in the
# number-tree form.
# Usage: samples/make-sample.sh [OUTPUT]      (default: samples/sample.pdf)
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
out=${1:-$here/sample.pdf}

if ! command -v gs >/dev/null; then
  if [ "$(id -u)" = 0 ] && command -v apt-get >/dev/null; then
    apt-get install -y ghostscript >/dev/null 2>&1 ||
      (apt-get update >/dev/null 2>&1 && apt-get install -y ghostscript >/dev/null 2>&1)
  fi
  command -v gs >/dev/null || { echo "make-sample.sh: Ghostscript (gs) is needed" >&2; exit 1; }
fi

ps=$(mktemp --suffix=.ps)
trap 'rm -f "$ps"' EXIT
cat >"$ps" <<'PS'
%!PS
% The title "Quarterly field report, Zürich" as UTF-16BE with its byte-order mark.
[ /Title <FEFF0051007500610072007400650072006C00790020006600690065006C00640020007200650070006F00720074002C0020005A00FC0072006900630068>
  /Author (Ada Marsh)
  /Subject (Sample document for the vellix tool)
  /Keywords (metadata, sample, report)
  /Creator (make-sample.sh)
  /CreationDate (D:20240115093000Z)
  /ModDate (D:20240301120000Z)
  /DOCINFO pdfmark

% Page i: title, a paragraph and a 16x16 RGB gradient.
/Helvetica findfont 24 scalefont setfont
72 720 moveto (Quarterly field report) show
/Times-Roman findfont 12 scalefont setfont
72 690 moveto (A small document whose metadata the vellix tool reports.) show
gsave
  72 480 translate 160 160 scale
  /px 16 16 mul 3 mul string def
  0 1 255 { /i exch def
    px i 3 mul       i 16 mod 17 mul put
    px i 3 mul 1 add i 16 idiv 17 mul put
    px i 3 mul 2 add 128 put
  } for
  16 16 8 [16 0 0 -16 0 16] { px } false 3 colorimage
grestore
showpage

% Pages 1 and 2.
/Helvetica findfont 18 scalefont setfont
72 720 moveto (Findings) show
/Times-Roman findfont 12 scalefont setfont
72 690 moveto (Measurements were taken at three sites.) show
showpage
/Courier findfont 12 scalefont setfont
72 720 moveto (Appendix: raw readings) show
showpage

% Bookmarks: Overview (page 1) with one child, then Appendix, which goes
% through the named destination "appendix".
[ /Dest /appendix /Page 3 /View [/XYZ null null null] /DEST pdfmark
[ /Title (Overview) /Page 1 /View [/XYZ null null null] /Count 1 /OUT pdfmark
[ /Title (Findings) /Page 2 /View [/XYZ null null null] /OUT pdfmark
[ /Title (Appendix) /Dest /appendix /OUT pdfmark

% Page labels: i for the first page, then 1, 2 with the prefix "p-".
[ {Catalog} << /PageLabels << /Nums [ 0 << /S /r >> 1 << /S /D /P (p-) >> ] >> >> /PUT pdfmark
PS

# Courier stays unembedded so the font report shows both cases; images stay
# XObjects (never inline) so the image report lists them.
gs -q -dNOPAUSE -dBATCH -dSAFER -sDEVICE=pdfwrite -dMaxInlineImageSize=0 \
   -dAutoFilterColorImages=false -sColorImageFilter=FlateEncode \
   -o "$out" -c "<< /NeverEmbed [/Courier] >> setdistillerparams" -f "$ps"
echo "wrote $out ($(wc -c <"$out") bytes)"
