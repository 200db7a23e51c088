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
for tool in Xvfb flock; do command -v $tool >/dev/null || { echo "$tool missing"; exit 77; }; done
rm -rf "$work"; mkdir -p "$work/bin"; cd "$work"
# One blue page, a link to the address over all of it.
python3 "$(dirname "$(realpath "$0")")/make-pdf.py" "$work/Linked.pdf" --link "https://leafbright.example/news" 0.2,0.5,0.9
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

PATH="$work/bin:$PATH" timeout 90 "$(dirname "$0")/own-display.sh" -s "-screen 0 1280x1024x24" "$program" --home window --device desktop \
  --script window.txt --shots shots-window "$work/Linked.pdf" > window.log 2>&1 || fail "the windowed run failed"
[ "$(cat opened.txt 2>/dev/null)" = "https://leafbright.example/news" ] || fail "the browser was handed: $(cat opened.txt 2>/dev/null)"

rm -f opened.txt
PATH="$work/bin:$PATH" timeout 60 "$program" --headless --home headless --device phone --script headless.txt \
  --shots shots-headless "$work/Linked.pdf" > headless.log 2>&1 || fail "the headless run failed"
[ ! -e opened.txt ] || fail "a headless run handed the link on: $(cat opened.txt)"
echo "links window ok"
