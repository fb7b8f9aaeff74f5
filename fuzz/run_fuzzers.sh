#!/bin/sh
# Runs libFuzzer targets one after the other for a bounded time each.
#
#   run_fuzzers.sh [--fresh] SECONDS TARGET_BINARY...
#
# Each starts from the seed corpus in fuzz/corpus/<target>/ and keeps what it finds in a
# scratch corpus beside its binary (corpus/<target>/), so the repository's seeds are read
# but never written. With --fresh (the short runs of the test suite) the scratch corpus is
# a new one, removed afterwards, so that such a run takes the same time however much
# earlier runs found. A crash, leak, timeout or sanitizer report leaves the input under
# artifacts/<target>/ beside the binary and makes the script fail. The whole log of a run is
# logs/<target>.log; a summary line per target gives its executions.
set -u
fresh=false
if [ "${1:-}" = --fresh ]; then
  fresh=true
  shift
fi
seconds=$1
shift
seeds=$(cd "$(dirname "$0")" && pwd)/corpus
: "${UBSAN_OPTIONS:=print_stacktrace=1:halt_on_error=1}"
export UBSAN_OPTIONS
failed=0
for binary in "$@"; do
  name=$(basename "$binary")
  dir=$(cd "$(dirname "$binary")" && pwd)
  corpus="$dir/corpus/$name"
  if $fresh; then
    corpus=$(mktemp -d "${TMPDIR:-/tmp}/$name-corpus.XXXXXX")
  fi
  mkdir -p "$corpus" "$dir/artifacts/$name" "$dir/logs"
  log="$dir/logs/$name.log"
  "$binary" -max_total_time="$seconds" -timeout=10 -print_final_stats=1 \
    -artifact_prefix="$dir/artifacts/$name/" "$corpus" "$seeds/$name" >"$log" 2>&1
  status=$?
  if $fresh; then
    rm -rf "$corpus"
  fi
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
  time=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log" | tail -n 1)
  if [ "$status" -eq 0 ]; then
    echo "$name: ${runs:-?} executions in ${seconds} s (${time:-?} per second), no report"
  else
    failed=1
    tail -n 80 "$log"
    echo "$name: FAILED (exit $status); the input is in $dir/artifacts/$name/, the log in $log"
  fi
done
exit $failed
