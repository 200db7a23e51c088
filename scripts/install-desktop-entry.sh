#!/usr/bin/env bash
# Installs leafbright.desktop and its icon for this user, so that a file
# manager's "Open With" hands a book (cbz, cbr, cb7, zip, rar, 7z, PDF) to
# the running program, or starts it. Usage: install-desktop-entry.sh PROGRAM
# (the absolute path of the built program).
set -euo pipefail
program=$1
here="$(cd "$(dirname "$0")/.." && pwd)"
data="${XDG_DATA_HOME:-}"
# A relative XDG_DATA_HOME is no data folder (the base directory rules).
[[ $data == /* ]] || data="$HOME/.local/share"
[[ $data == /* ]] || { echo "install-desktop-entry: no absolute data folder (HOME is $HOME)" >&2; exit 1; }
apps="$data/applications"
icons="$data/icons/hicolor/scalable/apps"
mkdir -p "$apps" "$icons"
cp "$here/resources/images/launch_icon_v2.svg" "$icons/leafbright.svg"
# Exec and Icon take absolute paths, written by the desktop entry rules and
# never through a substitution that reads them as patterns. The program is
# always one quoted argument: inside the quotes ", `, $ and \ take a
# backslash; then, as in every string value, each backslash is written
# doubled (and a newline, tab or carriage return as \n, \t, \r); and % is
# written %% so that it is no field code.
escapeString() {
    local s=$1
    s=${s//'\'/'\\'}
    s=${s//$'\n'/'\n'}
    s=${s//$'\t'/'\t'}
    s=${s//$'\r'/'\r'}
    printf '%s' "$s"
}
# GLib looks the program up before it reads %% back as %, so a program whose
# path holds % would never be found: Exec then names a link to it beside the
# entry, whose path has none. Where the data folder's own path has one, the
# link is started by sh, which GLib finds on the PATH: the link is its $0,
# which nothing reads as an assignment or an option (env would take a path
# holding = for an assignment and run the book in its place).
link="$apps/leafbright"
launcher=
if [[ $program == *%* ]]; then
    ln -sfn "$program" "$link.tmp"
    mv -T "$link.tmp" "$link"
    program=$link
    [[ $link == *%* ]] && launcher='sh -c "exec \\"\\$0\\" \\"\\$@\\"" '
elif [ -L "$link" ]; then
    rm -f "$link"
fi
quoted=$program
quoted=${quoted//'\'/'\\'}
quoted=${quoted//'"'/'\"'}
quoted=${quoted//'`'/'\`'}
quoted=${quoted//'$'/'\$'}
quoted="\"$(escapeString "$quoted")\""
quoted=${quoted//'%'/'%%'}
icon=$(escapeString "$icons/leafbright.svg")
while IFS= read -r line || [ -n "$line" ]; do
    case $line in
        'Exec=@LEAFBRIGHT@ '*) printf 'Exec=%s%s %s\n' "$launcher" "$quoted" "${line#'Exec=@LEAFBRIGHT@ '}" ;;
        'Icon=@ICON@') printf 'Icon=%s\n' "$icon" ;;
        *) printf '%s\n' "$line" ;;
    esac
done < "$here/resources/desktop/leafbright.desktop" > "$apps/leafbright.desktop.tmp"
mv "$apps/leafbright.desktop.tmp" "$apps/leafbright.desktop"
if command -v desktop-file-validate >/dev/null; then desktop-file-validate "$apps/leafbright.desktop"; fi
if command -v update-desktop-database >/dev/null; then update-desktop-database -q "$apps" || true; fi
echo "$apps/leafbright.desktop"
