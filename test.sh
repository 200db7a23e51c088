#!/usr/bin/env bash
# Installs what is missing, builds everything and runs every test.
# LEAFBRIGHT_SKIP_TSAN=1 skips the ThreadSanitizer runs.
set -euo pipefail
cd "$(dirname "$0")"
bash ./scripts/install-deps.sh
cmake -S . -B build -G Ninja >/dev/null
cmake --build build
jobs=$(nproc)

# The reading session, its readers, the block cache and the cover maker, the
# threads, run loop and virtual clock, the HTTP client layer, the remote
# streams, the transfers and the SMB clients run real worker threads: their
# tests also run under ThreadSanitizer.
if [ "${LEAFBRIGHT_SKIP_TSAN:-0}" != 1 ]; then
  cmake -S . -B build-tsan -G Ninja -DLEAFBRIGHT_TSAN=ON >/dev/null
  cmake --build build-tsan --target test_engine test_platform_core test_cloud test_remote_stream \
    test_remote_transfer test_smb
  export TSAN_OPTIONS="halt_on_error=1 suppressions=$PWD/tests/tsan.supp"
  ./build-tsan/tests/test_engine --gtest_brief=1 \
    --gtest_filter='Book*:PageReader*:RemoteStreamRead*:StreamHttp*:ThumbsCreate*:Zip*'
  ./build-tsan/tests/test_platform_core --gtest_brief=1
  ./build-tsan/tests/test_cloud --gtest_brief=1
  ./build-tsan/tests/test_remote_stream --gtest_brief=1
  ./build-tsan/tests/test_remote_transfer --gtest_brief=1
  ./build-tsan/tests/test_smb --gtest_brief=1
  unset TSAN_OPTIONS
fi

ctest --test-dir build --output-on-failure -j "$jobs" "$@"
