#!/bin/sh
# Writes the sample world texture maps/vorpix/world_texture.dds: a synthetic
# plate carree picture of the whole world (256 x 128 pixels, 180W to 180E,
# 90N to 90S): climate-like bands of colour from the poles to the equator,
# roughened by a fractal, compressed as DXT1 with its full mipmap chain.
# Needs ImageMagick's convert.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
convert -size 256x64 gradient:'#f4f6f8-#2f7d3a' "$work/north.png"
convert "$work/north.png" -flip "$work/south.png"
convert "$work/north.png" "$work/south.png" -append "$work/bands.png"
convert -seed 42 -size 256x128 plasma:grey40-grey60 -blur 0x1 "$work/noise.png"
convert "$work/bands.png" "$work/noise.png" -compose overlay -composite "$work/world.png"
convert "$work/world.png" -define dds:compression=dxt1 -define dds:mipmaps=9 "$root/maps/vorpix/world_texture.dds"
