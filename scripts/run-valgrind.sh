#!/usr/bin/env bash
# Runs every test program of a build under valgrind memcheck: any invalid read
# or write, use of uninitialised memory, or definite leak fails the run.
# Usage: scripts/run-valgrind.sh [BUILD_DIR] (default build/)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
status=0
for program in "$build"/tests/*_test; do
  [[ -x $program ]] || continue
  name=$(basename "$program")
  # It replaces the allocator itself, which valgrind replaces too; it runs
  # plainly and under the sanitizers.
  [[ $name == alloc_failure_test ]] && continue
  log=$build/valgrind-$name.log
  if (cd tests && VORPIX_DATA_PATH= valgrind -q --error-exitcode=99 --leak-check=full \
        --errors-for-leak-kinds=definite,indirect --show-leak-kinds=definite,indirect \
        "../$program" --gtest_brief=1) > "$log" 2>&1; then
    echo "valgrind $name: clean"
  else
    echo "valgrind $name: FAILED, see $log"; { grep -E '^==[0-9]+==' "$log" || tail -20 "$log"; } | head -40
    status=1
  fi
done
exit $status
