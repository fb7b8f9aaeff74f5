#!/bin/sh
# run_fuzzers.sh [--fresh] SECONDS TARGET... runs each target from fuzz/corpus/<target>/, finds kept
# in corpus/<target>/ by the binary (--fresh: a scratch one); reports go to artifacts/<target>/.
set -u
fresh=false
[ "${1:-}" != --fresh ] || { fresh=true; shift; }
seconds=$1
shift
seeds=$(cd "$(dirname "$0")" && pwd)/corpus
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}"
failed=0
for binary in "$@"; do
  name=$(basename "$binary")
  dir=$(cd "$(dirname "$binary")" && pwd)
  corpus="$dir/corpus/$name"
  ! $fresh || corpus=$(mktemp -d "${TMPDIR:-/tmp}/$name-corpus.XXXXXX")
  log="$dir/logs/$name.log"
  mkdir -p "$corpus" "$dir/artifacts/$name" "$dir/logs"
  if "$binary" -max_total_time="$seconds" -timeout=10 -print_final_stats=1 \
    -artifact_prefix="$dir/artifacts/$name/" "$corpus" "$seeds/$name" >"$log" 2>&1; then
    echo "$name: $(sed -n 's/^stat::number_of_executed_units: *//p' "$log") executions" \
      "in $seconds s, no report"
  else
    failed=1
    tail -n 80 "$log"
    echo "$name: FAILED; the input is in $dir/artifacts/$name/, the log in $log"
  fi
  ! $fresh || rm -rf "$corpus"
done
exit $failed
