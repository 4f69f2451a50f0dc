#!/usr/bin/env bash
# Builds everything and runs the whole test suite: once plainly, once under
# AddressSanitizer and UndefinedBehaviorSanitizer, once built by clang with
# only the portable code paths (all three with warnings as errors), then runs
# the layout check, clang-tidy and valgrind, and fuzzes every decoder for a short while.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
jobs=$(nproc)
# Every source laid out as .clang-format says.
echo "== format" >&2
scripts/check-format.sh
# clang builds too, without the paths chosen at run time for newer CPUs, so
# that the portable ones are tested as well.
for preset in default sanitize clang; do
  echo "== $preset build" >&2
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j "$jobs" 2>&1 | grep -vE '^\[[0-9]+/[0-9]+\] ' || true
  cmake --build --preset "$preset" -j "$jobs" >/dev/null
  echo "== $preset tests" >&2
  ASAN_OPTIONS=detect_leaks=1:abort_on_error=0 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    ctest --preset "$preset" -j "$jobs" --output-on-failure
done
# The bug-prone and performance checks of clang-tidy, as the plain build compiles.
echo "== clang-tidy" >&2
scripts/run-clang-tidy.sh build
# The plain build's tests once more under valgrind memcheck.
echo "== valgrind" >&2
scripts/run-valgrind.sh build
# Every decoder also meets arbitrary bytes for a short while.
echo "== fuzz smoke" >&2
scripts/run-fuzz.sh "${VORPIX_FUZZ_SECONDS:-30}"
