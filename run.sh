#!/usr/bin/env bash
# Installs what is missing, builds and starts Leafbright with the given arguments.
set -euo pipefail
cd "$(dirname "$0")"
bash ./scripts/install-deps.sh
cmake -S . -B build -G Ninja >/dev/null
cmake --build build --target leafbright >/dev/null
exec ./build/leafbright "$@"
