#!/bin/sh
# run_fuzzers.sh [--fresh] SECONDS TARGET_BINARY... runs each target for SECONDS from the
# seeds in fuzz/corpus/<target>/ (read, never written), keeping finds in corpus/<target>/
# beside the binary (with --fresh, a scratch corpus removed afterwards). A report leaves the
# input in artifacts/<target>/ and fails the script; the log is logs/<target>.log.
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
