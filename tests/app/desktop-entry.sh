#!/usr/bin/env bash
# The desktop entry installed for the user: into the user's own applications
# folder (XDG_DATA_HOME; ~/.local/share where that is unset or relative),
# naming the built program for "Open With" with every kind of book, and with
# an icon that is there. Usage: desktop-entry.sh PROGRAM WORKDIR
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
grep -qx "Exec=\"$program\" %f" "$entry" || fail "Exec does not name $program"
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
cp "$(dirname "$program")/sample/leafbright-sample.cbz" "$book"
cmdline=$(sed -n 's/^Exec=//p' "$entry" | sed "s|%f|--home '$home' --headless --script /dev/null '$book'|")
eval "$cmdline" >/dev/null 2>&1 || fail "the Exec line does not start the program"
[ -f "$home/Documents/Shelf Book.cbz" ] || fail "the book was not taken in"

# A program under a path that a shell or the entry's own rules would read:
# the Exec line names it as one argument, escaped by the desktop entry rules
# (in the quotes ", `, $ and \ take a backslash, every backslash of the
# value is doubled, % is %%), and a | does not stop the install.
odd="$work/a\"b \$(id) |x\\y\`z"
mkdir -p "$odd"
XDG_DATA_HOME="$work/odd-share" bash "$here/scripts/install-desktop-entry.sh" "$odd/leafbright" >/dev/null ||
    fail "no entry for a program under $odd"
expected='Exec="'"$work"'/a\\"b \\$(id) |x\\\\y\\`z/leafbright" %f'
grep -qxF "$expected" "$work/odd-share/applications/leafbright.desktop" ||
    fail "Exec for $odd: $(grep '^Exec=' "$work/odd-share/applications/leafbright.desktop")"
[ ! -e "$work/odd-share/applications/leafbright" ] || fail "a link where none is needed"
# A program whose path holds %: GLib looks the program up before it reads
# %%, so Exec names a link to it beside the entry, and a desktop that reads
# the entry (GLib's) starts the program through it with the book.
run="$work/b\"c \$(id) 100% |x\\y\`z"
mkdir -p "$run"
printf '#!/bin/sh\nprintf "%%s\\n" "$0" "$@" > "%s"\n' "$work/said" > "$run/leafbright"
chmod +x "$run/leafbright"
XDG_DATA_HOME="$work/run-share" bash "$here/scripts/install-desktop-entry.sh" "$run/leafbright" >/dev/null ||
    fail "no entry for a program under $run"
link="$work/run-share/applications/leafbright"
grep -qxF "Exec=\"$link\" %f" "$work/run-share/applications/leafbright.desktop" ||
    fail "Exec for $run: $(grep '^Exec=' "$work/run-share/applications/leafbright.desktop")"
[ "$(readlink "$link")" = "$run/leafbright" ] || fail "the link leads to $(readlink "$link")"
if command -v gio >/dev/null; then
    mkfifo "$work/said"
    gio launch "$work/run-share/applications/leafbright.desktop" "$book" || fail "gio does not take the entry for $run"
    said=$(timeout 20 cat "$work/said") || fail "the program under $run was not started"
    [ "$said" = "$link"$'\n'"$book" ] || fail "started as: $said"
fi
# A data folder whose own path holds % has a link whose path holds it too:
# written %% there, as in every Exec line, and started by sh, which GLib
# finds; a desktop that reads the entry starts the program through it with
# the book, also where the path holds = (which env would read as an
# assignment, running the book itself) and the book is a program.
share="$work/d=a 100%share"
XDG_DATA_HOME="$share" bash "$here/scripts/install-desktop-entry.sh" "$run/leafbright" >/dev/null ||
    fail "no entry in $share"
grep -qxF 'Exec=sh -c "exec \\"\\$0\\" \\"\\$@\\"" "'"$work/d=a 100%%share/applications/leafbright"'" %f' \
    "$share/applications/leafbright.desktop" ||
    fail "Exec in $share: $(grep '^Exec=' "$share/applications/leafbright.desktop")"
evil="$work/evil book.cbz"
printf '#!/bin/sh\necho "the book ran" > "%s"\n' "$work/said" > "$evil"
chmod +x "$evil"
if command -v gio >/dev/null; then
    gio launch "$share/applications/leafbright.desktop" "$evil" || fail "gio does not take the entry in $share"
    said=$(timeout 20 cat "$work/said") || fail "the program was not started from $share"
    [ "$said" = "$share/applications/leafbright"$'\n'"$evil" ] || fail "started from $share as: $said"
fi
# A relative XDG_DATA_HOME is no data folder: it is ignored, and the entry
# goes to the user's ~/.local/share, not under the folder the install ran in.
mkdir -p "$work/user" "$work/cwd"
out=$(cd "$work/cwd" && HOME="$work/user" XDG_DATA_HOME=rel-share bash "$here/scripts/install-desktop-entry.sh" "$program") ||
    fail "no entry with a relative XDG_DATA_HOME"
[ "$out" = "$work/user/.local/share/applications/leafbright.desktop" ] || fail "with a relative XDG_DATA_HOME: says $out"
[ -f "$work/user/.local/share/applications/leafbright.desktop" ] || fail "no entry in ~/.local/share"
[ ! -e "$work/cwd/rel-share" ] || fail "a relative XDG_DATA_HOME was used"
# Installed again from a path without %, the link goes.
XDG_DATA_HOME="$work/run-share" bash "$here/scripts/install-desktop-entry.sh" "$odd/leafbright" >/dev/null
[ ! -e "$link" ] && [ ! -L "$link" ] || fail "the old link stayed"
echo "desktop entry: ok"
