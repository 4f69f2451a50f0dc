#!/usr/bin/env bash
# Builds the vorpix tool and runs it on the bundled sample data: the world's
# shorelines, borders and rivers (maps/vorpix), the North Carolina county
# shapefile and the world texture. What it writes goes to sample-output/.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake --preset default >/dev/null
cmake --build --preset default -j "$(nproc)" --target vorpix_cli >/dev/null
out=sample-output
mkdir -p "$out"
rm -f "$out/shapes.db"
v=build/vorpix
shp=tests/fixtures/esri/nc.shp
run() { echo "+ vorpix $*" >&2; "$v" "$@"; }
# A listing goes to a file of its own; its first lines are shown.
list() { local name=$1; shift; run "$@" -o "$out/$name"; head -n 8 "$out/$name"; }
list coast.txt coast --res c --box -10/30/35/60 --list
run coast --res l --kinds "f:0" --box -85/-75/33/37 --ref 100/-35 -o "$out/coast.geojson"
run coast --res l --kinds "f:0" --box -10/30/35/60 --svg -o "$out/coast.svg"
run coast --res l --kinds "f:0" -o "$out/world.geojson"
list border_c.txt info maps/vorpix/binned_border_c.cdf
run borders --res c --box -130/-60/20/55 --svg -o "$out/borders.svg"
run borders --rivers --res l --box -130/-60/20/55 -o "$out/rivers.geojson"
list nc_shp.txt info "$shp"
list nc_dbf.txt info "${shp%.shp}.dbf"
run shapes "$shp" -o "$out/counties.geojson"
run index "$out/shapes.db" "$shp"
list fetched.txt fetch "$out/shapes.db" 5 --list
list world_dds.txt info maps/vorpix/world_texture.dds
run texture maps/vorpix/world_texture.dds --level 1 -o "$out/world.png"
# The world, and a regional map, each as SVG and as PNG.
run render --borders -o "$out/world_map.svg"
run render --borders --png -o "$out/world_map.png"
run render --box 160/200/50/75 --borders --rivers --width 900 --png -o "$out/bering.png"
run render --box -90/-70/30/40 --res i --line-res l --borders --rivers --shapes "$shp" \
    --width 900 -o "$out/map.svg"
run render --box -90/-70/30/40 --res i --line-res l --borders --rivers --shapes "$shp" \
    --width 900 --png -o "$out/map.png"
# Antarctica round its pole, and the world in Equal Earth.
run render --proj south-polar/60 --res i --antarctica both --width 900 -o "$out/antarctica.png"
run render --proj equal-earth --borders --width 1200 -o "$out/equal_earth.svg"
ls -l "$out"
