#!/usr/bin/env bash
# Runs every libFuzzer harness of a fuzz build for a while on the seed corpus, one after the
# other, and says how each went: executions, executions a second, coverage, and any input that
# failed. An input that fails belongs in tests/data/fuzz-failed/<harness>/, where ctest keeps
# replaying it. Exits 1 when a harness failed.
#
#   tools/scripts/fuzz.sh FUZZ_BUILD [SECONDS]
set -uo pipefail
build=${1:?usage: fuzz.sh FUZZ_BUILD [SECONDS]}
seconds=${2:-120}
root=$(cd "$(dirname "$0")/../.." && pwd)
work="$build/fuzz-run"
mkdir -p "$work"
# Archives unpack below TMPDIR: memory is faster than a disk and leaves nothing behind.
scratch=""
if [ -d /dev/shm ] && [ -w /dev/shm ]; then scratch=$(mktemp -d /dev/shm/varnel-fuzz-XXXXXX) && export TMPDIR=$scratch; fi
trap '[ -n "$scratch" ] && rm -rf "$scratch"' EXIT

failed=0
for harness in reader factory document gis; do
  seeds="$root/tests/data/fuzz-seeds/documents"
  [ "$harness" = gis ] && seeds="$root/tests/data/fuzz-seeds/gis"
  corpus="$work/corpus-$harness"
  mkdir -p "$corpus" "$work/failed-$harness"
  inputs=("$corpus" "$seeds")
  [ -d "$root/tests/data/fuzz-failed/$harness" ] && inputs+=("$root/tests/data/fuzz-failed/$harness")
  log="$work/$harness.log"
  ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    "$build/tools/fuzz_$harness" "${inputs[@]}" \
      -dict="$root/tools/fuzz/collada.dict" -max_total_time="$seconds" -max_len=65536 \
      -timeout=10 -rss_limit_mb=2560 -print_final_stats=1 \
      -artifact_prefix="$work/failed-$harness/" >"$log" 2>&1
  status=$?
  runs=$(grep -o 'stat::number_of_executed_units: *[0-9]*' "$log" | grep -o '[0-9]*$')
  speed=$(grep -o 'exec/s: [0-9]*' "$log" | tail -1 | grep -o '[0-9]*$')
  cov=$(grep -o 'cov: [0-9]* ft: [0-9]*' "$log" | tail -1)
  echo "fuzz $harness: ${runs:-0} executions, ${speed:-0}/s, ${cov:-no coverage}, exit $status"
  if [ "$status" -ne 0 ]; then
    failed=1
    tail -n 40 "$log"
    echo "fuzz $harness: failing inputs in $work/failed-$harness/ (copy them to tests/data/fuzz-failed/$harness/)"
  fi
done
exit "$failed"
