#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test: the whole suite, the suite again under
# AddressSanitizer/UndefinedBehaviorSanitizer, the stress tests under ThreadSanitizer, and each
# fuzz target for a minute.
set -euo pipefail
cd "$(dirname "$0")/.."

./scripts/deps.sh

echo "== build and test =="
./scripts/build.sh release
ctest --test-dir build --output-on-failure -j "$(nproc)"

echo "== address and undefined-behaviour sanitizers =="
./scripts/build.sh asan
ctest --test-dir build-asan --output-on-failure -j "$(nproc)"

echo "== thread sanitizer stress tests =="
./scripts/build.sh tsan stress_tests
TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1" \
  ctest --test-dir build-tsan --output-on-failure -L tsan

./scripts/fuzz.sh "${FUZZ_SECONDS:-60}"
echo "== all tests passed =="
