#!/usr/bin/env bash
# The long fuzzing runs: every target of a VEXEL_FUZZ build (ASan + UBSan)
# for 2 million executions or 10 minutes, whichever comes first, one after
# another on one core, starting from its saved inputs. Prints each target's
# executions, coverage and any finding; crashes, leaks, timeouts and
# out-of-memory reports go to the report folder as artifacts.
# Usage: bench/fuzz_campaign.sh [fuzz build folder] [report folder]
set -uo pipefail
cd "$(dirname "$0")/.."
build=${1:-build-fuzz}
report=${2:-/tmp/vexel-fuzz-campaign}
seconds=${VEXEL_FUZZ_SECONDS:-600}
runs=${VEXEL_FUZZ_RUNS:-2000000}
mkdir -p "$report"
status=0
for fuzzer in "$build"/fuzz/fuzz_*; do
    name=$(basename "$fuzzer")
    name=${name#fuzz_}
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
    printf "%-18s exit %d, %s executions, coverage %s edges (%s features), corpus %s, findings %s\n" \
        "$name" "$code" "${execs:-?}" "${cov:-?}" "${ft:-?}" "$corpus" "$found"
    [ "$code" -eq 0 ] && [ "$found" -eq 0 ] || status=1
    rm -rf "$scratch"
done
exit $status
