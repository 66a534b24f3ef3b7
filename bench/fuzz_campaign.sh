#!/usr/bin/env bash
# The long fuzzing runs: targets of a VEXEL_FUZZ build (ASan + UBSan) for 2
# million executions or 10 minutes each, whichever comes first, starting
# from their saved inputs. Prints each target's executions, coverage and any
# finding; crashes, leaks, timeouts and out-of-memory reports go to the
# report folder as artifacts.
#
# Usage: bench/fuzz_campaign.sh [fuzz build folder] [report folder]
# Environment:
#   VEXEL_FUZZ_SECONDS, VEXEL_FUZZ_RUNS  the limits of each target
#   VEXEL_FUZZ_TARGETS="a b"            only these targets (default: all)
#   VEXEL_FUZZ_JOBS=n                   targets run n at a time (default 1)
#   VEXEL_FUZZ_SAVE=1                   the inputs a target found that add
#                                       coverage join its saved inputs in
#                                       fuzz/corpus (libFuzzer's merge)
set -uo pipefail
cd "$(dirname "$0")/.."
build=${1:-build-fuzz}
report=${2:-/tmp/vexel-fuzz-campaign}
seconds=${VEXEL_FUZZ_SECONDS:-600}
runs=${VEXEL_FUZZ_RUNS:-2000000}
jobs=${VEXEL_FUZZ_JOBS:-1}
save=${VEXEL_FUZZ_SAVE:-0}
mkdir -p "$report"

# One target; its summary line goes to $report/<name>.summary, and its exit
# status says whether it found anything.
fuzz_one() {
    local name=$1 fuzzer="$build/fuzz/fuzz_$1" scratch code execs cov ft corpus found
    scratch=$(mktemp -d)
    cp -r "fuzz/corpus/$name/." "$scratch/" 2>/dev/null || true
    nice -n 10 "$fuzzer" -max_total_time="$seconds" -runs="$runs" -rss_limit_mb=2048 -timeout=20 \
        -print_final_stats=1 -artifact_prefix="$report/$name-" "$scratch" >"$report/$name.log" 2>&1
    code=$?
    execs=$(grep -o 'stat::number_of_executed_units: *[0-9]*' "$report/$name.log" | grep -o '[0-9]*$')
    cov=$(grep -o 'cov: [0-9]*' "$report/$name.log" | tail -n 1 | grep -o '[0-9]*')
    ft=$(grep -o 'ft: [0-9]*' "$report/$name.log" | tail -n 1 | grep -o '[0-9]*')
    corpus=$(ls "$scratch" | wc -l)
    found=$(ls "$report" | grep -c "^$name-" || true)
    local added=""
    if [ "$save" = 1 ] && [ "$code" -eq 0 ] && [ "$found" -eq 0 ]; then
        local before after listed
        before=$(ls "fuzz/corpus/$name" | wc -l)
        listed=$(mktemp)
        ls "fuzz/corpus/$name" >"$listed"
        nice -n 10 "$fuzzer" -merge=1 -rss_limit_mb=2048 -timeout=20 "fuzz/corpus/$name" "$scratch" \
            >"$report/$name.merge.log" 2>&1
        # What the campaign found is named "found_...": such an input may
        # decode or fail, where a seed must decode and a "bad_" one fail.
        for input in "fuzz/corpus/$name"/*; do
            grep -qxF "$(basename "$input")" "$listed" || mv "$input" "fuzz/corpus/$name/found_$(basename "$input")"
        done
        rm -f "$listed"
        after=$(ls "fuzz/corpus/$name" | wc -l)
        added=", saved inputs $before -> $after"
    fi
    printf "%-18s exit %d, %s executions, coverage %s edges (%s features), corpus %s, findings %s%s\n" \
        "$name" "$code" "${execs:-?}" "${cov:-?}" "${ft:-?}" "$corpus" "$found" "$added" >"$report/$name.summary"
    rm -rf "$scratch"
    [ "$code" -eq 0 ] && [ "$found" -eq 0 ]
}
export -f fuzz_one
export build report seconds runs save

targets=${VEXEL_FUZZ_TARGETS:-}
if [ -z "$targets" ]; then
    for fuzzer in "$build"/fuzz/fuzz_*; do targets+=" $(basename "${fuzzer#"$build"/fuzz/fuzz_}")"; done
fi
status=0
printf "%s\n" $targets | xargs -P "$jobs" -I{} bash -c 'fuzz_one "$@"' _ {} || status=1
for name in $targets; do cat "$report/$name.summary"; done
exit $status
