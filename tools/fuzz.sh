#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each for SECONDS (default
# 20) on a copy of its committed seed corpus. Prints executions and findings
# per target; exits non-zero when any target found a crash.
set -uo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-20}
build=${FUZZ_BUILD:-build-fuzz}
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVT_FUZZ=ON \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ >/dev/null || exit 1
cmake --build "$build" --target fuzzers -j"$(nproc)" >/dev/null || exit 1
failed=0
printf '%-20s %12s %9s\n' target executions findings
for bin in "$build"/bin/fuzz_*; do
  name=$(basename "$bin")
  seeds=tests/fuzz/corpus/${name#fuzz_}
  work=$(mktemp -d)
  [ -d "$seeds" ] && cp -r "$seeds"/. "$work"/
  artifacts=$(mktemp -d)
  ( cd "$artifacts" && ASAN_OPTIONS=detect_leaks=0 QT_QPA_PLATFORM=offscreen \
      "$OLDPWD/$bin" -max_total_time="$seconds" -rss_limit_mb=2048 -timeout=10 \
      -artifact_prefix="$artifacts/" -print_final_stats=1 "$work" ) > "$artifacts/log" 2>&1
  execs=$(grep -m1 'stat::number_of_executed_units' "$artifacts/log" | awk '{print $2}')
  findings=$(find "$artifacts" -name 'crash-*' -o -name 'leak-*' -o -name 'timeout-*' -o -name 'oom-*' | wc -l)
  printf '%-20s %12s %9s\n' "$name" "${execs:-?}" "$findings"
  if [ "$findings" -ne 0 ] || [ -z "$execs" ]; then
    failed=1
    tail -40 "$artifacts/log"
  fi
  rm -rf "$work"
done
exit $failed
