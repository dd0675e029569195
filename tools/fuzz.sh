#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each for SECONDS (default
# 20) on a copy of its committed seed corpus.
#
#   tools/fuzz.sh [SECONDS] [FILTER]
#
# FILTER (a grep -E pattern) picks targets by name, e.g. 'ini|diz'.
# FUZZ_JOBS (default 1) targets run at once; FUZZ_BUILD the build folder
# (default build-fuzz); FUZZ_SKIP_BUILD=1 uses the built targets as they are;
# FUZZ_SCRATCH the folder for the targets' scratch files (default /dev/shm).
# Prints executions and findings per target; exits non-zero when any target
# found a crash, a leak, a timeout or ran out of memory, or didn't run. The
# inputs of a finding are kept in the folder the report names.
set -uo pipefail
cd "$(dirname "$0")/.."
root=$PWD
seconds=${1:-20}
filter=${2:-.}
jobs=${FUZZ_JOBS:-1}
build=${FUZZ_BUILD:-build-fuzz}
if [ "${FUZZ_SKIP_BUILD:-0}" != 1 ]; then
  cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVT_FUZZ=ON \
    -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ >/dev/null || exit 1
  cmake --build "$build" --target fuzzers -j"$(nproc)" >/dev/null || exit 1
fi

targets=()
for bin in "$build"/bin/fuzz_*; do
  [ -x "$bin" ] || continue
  name=$(basename "$bin")
  echo "$name" | grep -Eq -- "$filter" && targets+=("$name")
done
if [ ${#targets[@]} -eq 0 ]; then
  echo "no fuzz target matches '$filter'" >&2
  exit 1
fi

# The targets write their input to a scratch file on every run: a memory
# file system keeps that fast.
scratch=${FUZZ_SCRATCH:-/dev/shm}
[ -d "$scratch" ] && [ -w "$scratch" ] || scratch=${TMPDIR:-/tmp}

results=$(mktemp -d)
run_one() {
  local name=$1
  local seeds=tests/fuzz/corpus/${name#fuzz_}
  local work artifacts
  work=$(mktemp -d)
  artifacts=$(mktemp -d "${TMPDIR:-/tmp}/$name-XXXXXX")
  [ -d "$seeds" ] && cp -r "$seeds"/. "$work"/
  # libFuzzer ends without running exit handlers: the targets' scratch
  # folders go inside one folder per run that is removed here.
  local tmp
  tmp=$(mktemp -d "$scratch/vtfuzz-run-XXXXXX")
  ( cd "$artifacts" && ASAN_OPTIONS=detect_leaks=0 UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
      QT_QPA_PLATFORM=offscreen TMPDIR="$tmp" \
      "$root/$build/bin/$name" -max_total_time="$seconds" -rss_limit_mb=2048 -timeout=10 \
      -artifact_prefix="$artifacts/" -print_final_stats=1 "$work" ) > "$artifacts/log" 2>&1
  local execs findings
  execs=$(grep -m1 'stat::number_of_executed_units' "$artifacts/log" | awk '{print $2}')
  findings=$(find "$artifacts" \( -name 'crash-*' -o -name 'leak-*' -o -name 'timeout-*' \
    -o -name 'oom-*' -o -name 'slow-unit-*' \) | grep -vc slow-unit)
  echo "${execs:-?} $findings $artifacts" > "$results/$name"
  rm -rf "$work" "$tmp"
  if [ "$findings" -eq 0 ] && [ -n "$execs" ]; then
    rm -rf "$artifacts"
  fi
}

running=0
for name in "${targets[@]}"; do
  run_one "$name" &
  running=$((running + 1))
  if [ "$running" -ge "$jobs" ]; then
    wait -n
    running=$((running - 1))
  fi
done
wait

failed=0
bad=0
printf '%-20s %12s %9s\n' target executions findings
for name in "${targets[@]}"; do
  read -r execs findings artifacts < "$results/$name"
  printf '%-20s %12s %9s\n' "$name" "$execs" "$findings"
  if [ "$findings" -ne 0 ] || [ "$execs" = "?" ]; then
    failed=1
    bad=$((bad + 1))
    echo "  inputs and log kept in $artifacts" >&2
    tail -40 "$artifacts/log" >&2
  fi
done
rm -rf "$results"
echo "fuzz: $(( ${#targets[@]} - bad )) passed, $bad failed"
exit $failed
