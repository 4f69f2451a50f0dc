#!/bin/sh
# Writes the README's pictures, docs/world.png, docs/tour.png,
# docs/antarctica.png and docs/equal-earth.png, with the commands its tour
# shows, from the map files in this tree.
#   scripts/make-readme-pictures.sh [TOOL]
# TOOL is the vorpix program to run; without it the tool is built first, as
# scripts/run-sample.sh builds it (build/vorpix).
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
if [ $# -gt 0 ]; then
    tool=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
else
    cmake --preset default >/dev/null
    cmake --build --preset default -j "$(nproc)" --target vorpix_cli >/dev/null
    tool=$root/build/vorpix
fi
# The tree's own maps come first, whichever tool draws them.
VORPIX_DATA_PATH=$root
export VORPIX_DATA_PATH
run() { echo "+ vorpix $*" >&2; "$tool" "$@"; }
run render --borders --png -o docs/world.png
run render --box -90/-70/30/40 --res i --line-res l --borders --rivers \
    --shapes tests/fixtures/esri/nc.shp --width 900 --png -o docs/tour.png
run render --proj south-polar/60 --res i --antarctica both --width 900 -o docs/antarctica.png
run render --proj equal-earth --borders --width 1200 -o docs/equal-earth.png
