#!/usr/bin/env bash
# The shared libraries export exactly the functions that their public headers
# declare, nothing more and nothing less.
set -euo pipefail
lib=$1 headers=$2 macro=$3
declared=$(ls "$headers"/*.h | grep -v _export.h | xargs cat | tr '\n' ' ' | grep -oE "$macro[^;(]*\(" | sed -E 's/.*[^A-Za-z0-9_]([A-Za-z_][A-Za-z0-9_]*)\s*\($/\1/' | sort -u)
exported=$(nm -D --defined-only "$lib" | awk '$2 ~ /^[TDBRW]$/ {print $3}' | grep -vE '^(_init|_fini|_edata|_end|__bss_start)$' | sort -u)
extra=$(comm -13 <(echo "$declared") <(echo "$exported"))
missing=$(comm -23 <(echo "$declared") <(echo "$exported"))
[[ -z $extra ]] || { echo "exported but not declared:"; echo "$extra"; exit 1; }
[[ -z $missing ]] || { echo "declared but not exported:"; echo "$missing"; exit 1; }
echo "$(wc -l <<<"$exported") exported functions, all declared in $headers"
