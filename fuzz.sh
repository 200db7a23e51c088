#!/usr/bin/env bash
# Fuzzes every parser: builds the fuzz targets with clang, libFuzzer,
# AddressSanitizer and UndefinedBehaviorSanitizer into build-fuzz, makes a
# seed corpus with real tools (fuzz/make-seeds.sh), and runs each target for
# SECONDS (default 60).
#
#   ./fuzz.sh [SECONDS]
#   FUZZ_JOBS=3        fuzzers running at once
#   FUZZ_TARGETS="png_decoder zip_archive"   only these targets
#
# Memory counts as used when it is touched: 7-Zip reserves the dictionary an
# archive names at once (gigabytes, untouched) and that is not a finding;
# seven_zip_archive lets reservations over 1 GiB fail, which under the
# sanitizer would each take seconds.
# A finding (crash, sanitizer report, time-out, memory blow-up) is saved under
# build-fuzz/findings/<target>/ and makes the script exit non-zero; each
# target's executions and coverage are listed at the end and kept in
# build-fuzz/fuzz-report.txt. Keep a finding's minimized input under
# fuzz/regressions/<target>/ once it is fixed: the ordinary test run replays it.
set -euo pipefail
cd "$(dirname "$0")"
seconds=${1:-60}
jobs=${FUZZ_JOBS:-3}
build=build-fuzz

./scripts/install-deps.sh --fuzz
export CCACHE_BASEDIR=$PWD CCACHE_NOHASHDIR=1
CC=clang-14 CXX=clang++-14 cmake -S . -B "$build" -G Ninja -DLEAFBRIGHT_FUZZ=ON >/dev/null
# Programs the build runs (the sample book's maker) are instrumented too;
# the caches of the libraries they use are not leaks worth stopping for.
ASAN_OPTIONS=detect_leaks=0 cmake --build "$build" --target fuzz_all -j "${FUZZ_BUILD_JOBS:-3}"

targets=${FUZZ_TARGETS:-$(cd "$build/fuzz" && for f in fuzz_*; do [ -x "$f" ] && [ -f "$f" ] && echo "${f#fuzz_}"; done)}
[ -n "$targets" ] || { echo "fuzz.sh: no targets built" >&2; exit 1; }

rm -rf "$build/seeds"
fuzz/make-seeds.sh "$build/seeds"
mkdir -p "$build/corpus" "$build/findings" "$build/logs"

export ASAN_OPTIONS="abort_on_error=1:detect_stack_use_after_return=1:allocator_may_return_null=1"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
export LSAN_OPTIONS="suppressions=$PWD/fuzz/lsan.supp:print_suppressions=0"

run_one() {
    local t=$1
    mkdir -p "$build/corpus/$t" "$build/findings/$t"
    local dirs=("$build/corpus/$t")
    for d in "$build/seeds/$t" "fuzz/seeds/$t" "fuzz/regressions/$t"; do [ -d "$d" ] && dirs+=("$d"); done
    # A target may need longer inputs, a dictionary of its words, or a
    # shorter time per input than the rest (fuzz/dictionaries/<target>.dict).
    local timeout=30 extra=()
    [ -f "fuzz/dictionaries/$t.dict" ] && extra+=(-dict="fuzz/dictionaries/$t.dict")
    case $t in
    # Pages as large as the attacks on it (its "@@repeat" pieces make larger
    # ones); any page is laid out within its budget in a second or two, some
    # ten times that under the sanitizers.
    web_page) timeout=25; extra+=(-max_len=262144) ;;
    esac
    if "$build/fuzz/fuzz_$t" -max_total_time="$seconds" -timeout="$timeout" -rss_limit_mb=3072 -malloc_limit_mb=16384 \
        -print_final_stats=1 "${extra[@]}" -artifact_prefix="$build/findings/$t/" "${dirs[@]}" >"$build/logs/$t.log" 2>&1; then
        echo "$t ok"
    else
        echo "$t FINDING (see $build/logs/$t.log)"
    fi
}
export -f run_one
export build seconds

echo "fuzz.sh: $(wc -w <<<"$targets") targets, ${seconds}s each, $jobs at once"
printf '%s\n' $targets | xargs -P "$jobs" -I{} bash -c 'run_one {}' | tee "$build/results.txt"

{
    printf '%-20s %-8s %12s %8s %8s %8s\n' target result execs cov ft corpus
    for t in $targets; do
        log="$build/logs/$t.log"
        result=$(grep -q "^$t ok$" "$build/results.txt" && echo ok || echo FINDING)
        execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
        last=$(grep -E '^#[0-9]+.*cov: ' "$log" | tail -1 || true)
        cov=$(sed -n 's/.* cov: \([0-9]*\).*/\1/p' <<<"$last")
        ft=$(sed -n 's/.* ft: \([0-9]*\).*/\1/p' <<<"$last")
        corp=$(sed -n 's/.* corp: \([0-9]*\).*/\1/p' <<<"$last")
        printf '%-20s %-8s %12s %8s %8s %8s\n' "$t" "$result" "${execs:-?}" "${cov:-?}" "${ft:-?}" "${corp:-?}"
    done
} | tee "$build/fuzz-report.txt"
! grep -q FINDING "$build/results.txt"
