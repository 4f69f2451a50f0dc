#!/bin/sh
# Writes the sample world texture maps/vorpix/world_texture.dds: the whole
# world's land and sea from the bundled low-resolution shorelines, drawn by
# "vorpix render" as a 256 x 128 plate carree picture (180W to 180E, 90N to
# 90S) without graticule or legend, then compressed by ImageMagick's convert
# as DXT1 with its full mipmap chain (nine levels, 256x128 down to 1x1).
#   scripts/make-texture-sample.sh [TOOL]
# TOOL is the vorpix program to run; without it the tool is built first, as
# scripts/run-sample.sh builds it (build/vorpix).
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
if [ $# -gt 0 ]; then
    tool=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
else
    (cd "$root" && cmake --preset default >/dev/null &&
        cmake --build --preset default -j "$(nproc)" --target vorpix_cli >/dev/null)
    tool=$root/build/vorpix
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# The tree's own maps come first, whichever tool draws them.
VORPIX_DATA_PATH=$root "$tool" render --res l --no-graticule --legend none --width 256 --png -o "$work/world.png"
convert "$work/world.png" -alpha off -define dds:compression=dxt1 -define dds:mipmaps=8 \
    "$root/maps/vorpix/world_texture.dds"
