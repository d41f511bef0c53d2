#!/usr/bin/env bash
# Configures and builds one flavour of the project: build.sh [release|asan|tsan|fuzz] [targets...]
# release -> build/, asan -> build-asan/, tsan -> build-tsan/, fuzz -> build-fuzz/ (clang).
set -euo pipefail
cd "$(dirname "$0")/.."

flavour=${1:-release}
shift || true
jobs=$(nproc)

case "$flavour" in
  release) dir=build; args=() ;;
  asan)    dir=build-asan; args=(-DVIMBLE_SANITIZE=address -DVIMBLE_BENCH=OFF -DCMAKE_BUILD_TYPE=Debug) ;;
  tsan)    dir=build-tsan; args=(-DVIMBLE_SANITIZE=thread -DVIMBLE_BENCH=OFF) ;;
  fuzz)    dir=build-fuzz; args=(-DVIMBLE_SANITIZE=address -DVIMBLE_FUZZ=ON -DVIMBLE_BENCH=OFF
                                 -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++) ;;
  *) echo "build.sh: unknown flavour '$flavour' (release, asan, tsan, fuzz)" >&2; exit 2 ;;
esac

if [ ! -f "$dir/CMakeCache.txt" ]; then
  cmake -S . -B "$dir" "${args[@]}" >/dev/null
fi
if [ $# -gt 0 ]; then
  for t in "$@"; do cmake --build "$dir" -j "$jobs" --target "$t"; done
else
  cmake --build "$dir" -j "$jobs"
fi
