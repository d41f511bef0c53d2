#!/usr/bin/env bash
# Builds the fuzz targets with clang and runs each for the given seconds (default 60) on its seed
# corpus in fuzz/corpus/<name>/. Any finding fails the script.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
seconds=${1:-60}

shopt -s nullglob
names=()
for f in fuzz/*_fuzz.cpp; do names+=("$(basename "$f" _fuzz.cpp)"); done
[ ${#names[@]} -gt 0 ] || exit 0

echo "== fuzzing, ${seconds}s per target =="
./scripts/build.sh fuzz "${names[@]/#/fuzz_}"
for name in "${names[@]}"; do
  work=$(mktemp -d)
  mkdir -p "$work/corpus"
  if [ -d "fuzz/corpus/$name" ]; then cp -r "fuzz/corpus/$name/." "$work/corpus/"; fi
  echo "-- fuzz_$name"
  status=0
  (cd "$work" && UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
      "$root/build-fuzz/bin/fuzz_$name" -max_total_time="$seconds" -rss_limit_mb=4096 corpus \
      >"$work/log" 2>&1) || status=$?
  grep -E "^Done [0-9]+ runs" "$work/log" || tail -4 "$work/log"
  if [ "$status" -ne 0 ]; then
    echo "fuzz_$name found a fault; its log:" >&2
    tail -60 "$work/log" >&2
    exit 1
  fi
  rm -rf "$work"
done
