#!/usr/bin/env bash
# Checks that the project's C and C++ sources are laid out as .clang-format
# says; prints what would change and fails when anything would.
# Usage: scripts/check-format.sh [FILE...]   (default: every tracked source)
set -euo pipefail
cd "$(dirname "$0")/.."
format=$(command -v clang-format-14 || command -v clang-format || true)
if [[ -z $format ]]; then
  echo "check-format: no clang-format (Debian package clang-format-14)" >&2
  exit 1
fi
if (($#)); then
  files=("$@")
else
  mapfile -t files < <(git ls-files -- '*.c' '*.h' '*.cpp' '*.hpp')
fi
"$format" --dry-run -Werror "${files[@]}"
