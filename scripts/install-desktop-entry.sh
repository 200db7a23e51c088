#!/usr/bin/env bash
# Installs leafbright.desktop and its icon for this user, so that a file
# manager's "Open With" hands a book (cbz, cbr, cb7, zip, rar, 7z, PDF) to
# the running program, or starts it. Usage: install-desktop-entry.sh PROGRAM
# (the absolute path of the built program).
set -euo pipefail
program=$1
here="$(cd "$(dirname "$0")/.." && pwd)"
data="${XDG_DATA_HOME:-$HOME/.local/share}"
apps="$data/applications"
icons="$data/icons/hicolor/scalable/apps"
mkdir -p "$apps" "$icons"
cp "$here/resources/images/launch_icon_v2.svg" "$icons/leafbright.svg"
# Exec and Icon take absolute paths; a path with spaces is quoted.
quoted=$program
case $program in *" "*) quoted="\"$program\"" ;; esac
sed -e "s|@LEAFBRIGHT@|$quoted|" -e "s|@ICON@|$icons/leafbright.svg|" \
    "$here/resources/desktop/leafbright.desktop" > "$apps/leafbright.desktop.tmp"
mv "$apps/leafbright.desktop.tmp" "$apps/leafbright.desktop"
if command -v desktop-file-validate >/dev/null; then desktop-file-validate "$apps/leafbright.desktop"; fi
if command -v update-desktop-database >/dev/null; then update-desktop-database -q "$apps" || true; fi
echo "$apps/leafbright.desktop"
