#!/usr/bin/env bash
# Installs what is missing, builds and starts Leafbright with the given arguments.
set -euo pipefail
cd "$(dirname "$0")"
bash ./scripts/install-deps.sh
cmake -S . -B build -G Ninja >/dev/null
cmake --build build --target leafbright >/dev/null
# The desktop entry: "Open With" in a file manager hands books to the program.
if [ "${1:-}" = "--install-desktop-entry" ]; then
    exec bash ./scripts/install-desktop-entry.sh "$PWD/build/leafbright"
fi
exec ./build/leafbright "$@"
