#!/usr/bin/env bash
# Installs what is missing, then builds and runs every test twice: a normal build and a build
# with AddressSanitizer and UndefinedBehaviorSanitizer (any finding is fatal).
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh

jobs=$(nproc)
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
export QT_QPA_PLATFORM=offscreen

run_suite() {
  local dir=$1; shift
  cmake -S . -B "$dir" "$@" > /dev/null
  cmake --build "$dir" -j"$jobs"
  ctest --test-dir "$dir" -j"$jobs" --output-on-failure --timeout 900
}

run_suite build/release -DCMAKE_BUILD_TYPE=RelWithDebInfo
run_suite build/asan -DCMAKE_BUILD_TYPE=Debug -DKOVA_SANITIZE=ON -DCMAKE_CXX_FLAGS_DEBUG="-O1 -g"
