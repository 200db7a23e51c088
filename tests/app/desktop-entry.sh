#!/usr/bin/env bash
# The desktop entry installed for the user: into the user's own applications
# folder (XDG_DATA_HOME), naming the built program for "Open With" with every
# kind of book, and with an icon that is there. Usage: desktop-entry.sh PROGRAM WORKDIR
set -euo pipefail
program=$1
work=$2
here="$(cd "$(dirname "$0")/../.." && pwd)"
rm -rf "$work"; mkdir -p "$work"
export XDG_DATA_HOME="$work/share"
out=$(bash "$here/scripts/install-desktop-entry.sh" "$program")
entry="$XDG_DATA_HOME/applications/leafbright.desktop"
fail() { echo "desktop-entry: $*" >&2; exit 1; }
[ "$out" = "$entry" ] || fail "says $out"
[ -f "$entry" ] || fail "no entry"
grep -qx "Exec=$program %f" "$entry" || fail "Exec does not name $program"
icon=$(sed -n 's/^Icon=//p' "$entry")
[ -s "$icon" ] || fail "icon $icon missing"
for type in application/vnd.comicbook+zip application/vnd.comicbook-rar application/x-cb7 application/zip \
            application/vnd.rar application/x-7z-compressed application/pdf; do
    grep -q "^MimeType=.*$type;" "$entry" || fail "no $type"
done
if command -v desktop-file-validate >/dev/null; then desktop-file-validate "$entry" || fail "not a valid entry"; fi
# The Exec line hands a book to the program: with a program on the same home
# listening, the second start hands it over and ends with 0.
home="$work/home"
book="$work/Shelf Book.cbz"
printf 'PK\005\006%018d' 0 | head -c 22 > "$book"
cmdline=$(sed -n 's/^Exec=//p' "$entry" | sed "s|%f|--home '$home' --headless --script /dev/null '$book'|")
eval "$cmdline" >/dev/null 2>&1 || fail "the Exec line does not start the program"
[ -f "$home/Documents/Shelf Book.cbz" ] || fail "the book was not taken in"
echo "desktop entry: ok"
