#!/usr/bin/env python3
# make-pdf.py OUT [--link URI] R,G,B...: writes a PDF of 400 x 600 pages,
# one per colour (each part from 0 to 1), each page filled with its colour;
# with --link, every page is a link to URI over the whole of it.
import sys

args = sys.argv[1:]
out_path, link = args.pop(0), None
if args[:1] == ["--link"]:
    link = args[1].encode()
    args = args[2:]
count = len(args)
objects = [b"<< /Type /Catalog /Pages 2 0 R >>",
           b"<< /Type /Pages /Kids [" + b" ".join(b"%d 0 R" % (3 + 2 * i) for i in range(count)) + b"] /Count %d >>" % count]
for i, colour in enumerate(args):
    content = b" ".join(part.encode() for part in colour.split(",")) + b" rg 0 0 400 600 re f\n"
    annots = b""
    if link is not None:
        annots = (b" /Annots [<< /Type /Annot /Subtype /Link /Rect [0 0 400 600] /Border [0 0 0] /A << /S /URI /URI ("
                  + link + b") >> >>]")
    objects.append(b"<< /Type /Page /Parent 2 0 R /MediaBox [0 0 400 600] /Contents %d 0 R%s >>" % (4 + 2 * i, annots))
    objects.append(b"<< /Length %d >>\nstream\n" % len(content) + content + b"\nendstream")
out, offsets = b"%PDF-1.4\n", []
for i, o in enumerate(objects):
    offsets.append(len(out))
    out += b"%d 0 obj\n" % (i + 1) + o + b"\nendobj\n"
xref = len(out)
out += b"xref\n0 %d\n0000000000 65535 f \n" % (len(objects) + 1) + b"".join(b"%010d 00000 n \n" % o for o in offsets)
out += b"trailer\n<< /Size %d /Root 1 0 R >>\nstartxref\n%d\n%%%%EOF\n" % (len(objects) + 1, xref)
with open(out_path, "wb") as f:
    f.write(out)
