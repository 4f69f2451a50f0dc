#!/usr/bin/env bash
# Runs clang-tidy (.clang-tidy at the top) over the library, the host layer
# and the tool, as a build compiles them, and fails on any finding.
# Usage: scripts/run-clang-tidy.sh [BUILD_DIR]   (default: build, the default
# preset's, which must have been configured, as it exports its compile
# commands).
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
tidy=$(command -v clang-tidy-14 || command -v clang-tidy || true)
if [[ -z $tidy ]]; then
  echo "run-clang-tidy: no clang-tidy (Debian package clang-tidy-14)" >&2
  exit 1
fi
if [[ ! -f $build/compile_commands.json ]]; then
  echo "run-clang-tidy: no $build/compile_commands.json; configure with CMAKE_EXPORT_COMPILE_COMMANDS=ON" >&2
  exit 1
fi
# Each source once, although the allocation-failure test compiles some of them again.
mapfile -t sources < <(/usr/bin/python3 - "$build/compile_commands.json" "$PWD" <<'PY'
import json, os, sys
top = os.path.join(sys.argv[2], "")
seen = set()
for entry in json.load(open(sys.argv[1])):
    path = os.path.normpath(os.path.join(entry["directory"], entry["file"]))
    if path.startswith(top) and path[len(top):].split("/")[0] in ("lib", "host", "tools") and path not in seen:
        seen.add(path)
        print(path)
PY
)
if ((${#sources[@]} == 0)); then
  echo "run-clang-tidy: $build compiles none of the project's sources" >&2
  exit 1
fi
# g++'s own warning options are unknown to clang.
log=$(mktemp)
trap 'rm -f "$log"' EXIT
status=0
printf '%s\0' "${sources[@]}" |
  xargs -0 -n 1 -P "$(nproc)" "$tidy" -p "$build" --quiet --extra-arg=-Wno-unknown-warning-option >"$log" 2>&1 ||
  status=$?
grep -vE '^[0-9]+ (warnings?|errors?)( and [0-9]+ errors?)? generated\.$' "$log" || true
if ((status != 0)); then
  echo "run-clang-tidy: findings in the files above" >&2
  exit 1
fi
echo "run-clang-tidy: ${#sources[@]} files without findings" >&2
