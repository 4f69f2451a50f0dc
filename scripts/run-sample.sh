#!/usr/bin/env bash
# Builds the vorpix tool and runs it on the bundled sample data; the results
# go to sample-output/.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake --preset default >/dev/null
cmake --build --preset default -j "$(nproc)" --target vorpix_cli >/dev/null
out=sample-output
mkdir -p "$out"
v=build/vorpix
set -x
$v coast --res c --kinds c:0 --box -180/180/-90/90 --list
$v coast --res l --kinds "c:1 f:14" --box -12/32/34/62 --ref 0/45 -o "$out/europe-coast.geojson"
$v coast --res l --kinds "c:1 f:14" --box -12/32/34/62 --svg -o "$out/europe-coast.svg"
