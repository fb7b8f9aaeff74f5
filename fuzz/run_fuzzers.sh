#!/bin/sh
# run_fuzzers.sh [--fresh] SECONDS TARGET... runs each target from fuzz/corpus/<target>/, finds kept
# in corpus/<target>/ by the binary (--fresh: a scratch one); reports go to artifacts/<target>/.
set -u
fresh=false
[ "${1:-}" != --fresh ] || { fresh=true; shift; }
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
  ! $fresh || corpus=$(mktemp -d "${TMPDIR:-/tmp}/$name-corpus.XXXXXX")
  mkdir -p "$corpus" "$dir/artifacts/$name" "$dir/logs"
  log="$dir/logs/$name.log"
  "$binary" -max_total_time="$seconds" -timeout=10 -print_final_stats=1 \
    -artifact_prefix="$dir/artifacts/$name/" "$corpus" "$seeds/$name" >"$log" 2>&1
  status=$?
  ! $fresh || rm -rf "$corpus"
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
