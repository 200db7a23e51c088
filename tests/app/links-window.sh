#!/usr/bin/env bash
# A web link on a PDF page, followed from the link's sheet ("Open in
# Browser"): in a window it is handed to the desktop's browser through
# xdg-open (a stand-in on PATH here, which only writes down what it was
# given); a headless run hands nothing outside itself and says the link
# could not be opened.
# links-window.sh LEAFBRIGHT WORKDIR
set -euo pipefail
program=$(realpath "$1")
work=$(realpath -m "$2")
fail() { echo "FAIL: $*" >&2; exit 1; }
command -v xvfb-run >/dev/null || { echo "xvfb-run missing"; exit 77; }
rm -rf "$work"; mkdir -p "$work/bin"; cd "$work"
# One blue page, a link to the address over all of it.
python3 - "$work/Linked.pdf" "https://leafbright.example/news" <<'PY'
import sys
content = b"0.2 0.5 0.9 rg 0 0 400 600 re f\n"
link = b"<< /Type /Annot /Subtype /Link /Rect [0 0 400 600] /Border [0 0 0] /A << /S /URI /URI (" + sys.argv[2].encode() + b") >> >>"
objects = [b"<< /Type /Catalog /Pages 2 0 R >>", b"<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
           b"<< /Type /Page /Parent 2 0 R /MediaBox [0 0 400 600] /Contents 4 0 R /Annots [" + link + b"] >>",
           b"<< /Length %d >>\nstream\n" % len(content) + content + b"\nendstream"]
out, offsets = b"%PDF-1.4\n", []
for i, o in enumerate(objects):
    offsets.append(len(out))
    out += b"%d 0 obj\n" % (i + 1) + o + b"\nendobj\n"
xref = len(out)
out += b"xref\n0 %d\n0000000000 65535 f \n" % (len(objects) + 1) + b"".join(b"%010d 00000 n \n" % o for o in offsets)
out += b"trailer\n<< /Size %d /Root 1 0 R >>\nstartxref\n%d\n%%%%EOF\n" % (len(objects) + 1, xref)
open(sys.argv[1], "wb").write(out)
PY
printf '#!/bin/sh\nprintf "%%s\\n" "$@" >> "%s/opened.txt"\n' "$work" > bin/xdg-open
chmod +x bin/xdg-open
version=$("$program" --version | awk '{ print $2 }')
for home in window headless; do
  mkdir -p "$home/Documents"
  printf '<?xml version="1.0" encoding="UTF-8"?>\n<plist version="1.0"><array><string>%s</string></array></plist>\n' \
    "$version" > "$home/Documents/.notice.lbs"
done
# A window's script runs on the real clock: the tap must come after the start
# screen's one-second animation and the PDF's first page, with room for a
# machine busy with other work.
printf 'wait 5\ntap 512 384\nwait 1\nshot sheet\nsheet 0\nwait 2\nshot after\n' > window.txt
printf 'wait 2\ntap 195 422\nwait 1\nsheet 0\nwait 2\nshot after\n' > headless.txt

PATH="$work/bin:$PATH" timeout 90 xvfb-run -a -s "-screen 0 1280x1024x24" "$program" --home window --device desktop \
  --script window.txt --shots shots-window "$work/Linked.pdf" > window.log 2>&1 || fail "the windowed run failed"
[ "$(cat opened.txt 2>/dev/null)" = "https://leafbright.example/news" ] || fail "the browser was handed: $(cat opened.txt 2>/dev/null)"

rm -f opened.txt
PATH="$work/bin:$PATH" timeout 60 "$program" --headless --home headless --device phone --script headless.txt \
  --shots shots-headless "$work/Linked.pdf" > headless.log 2>&1 || fail "the headless run failed"
[ ! -e opened.txt ] || fail "a headless run handed the link on: $(cat opened.txt)"
echo "links window ok"
