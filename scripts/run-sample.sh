#!/usr/bin/env bash
# Builds the vorpix tool and runs it on the bundled sample data (maps/vorpix);
# what it writes goes to sample-output/.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake --preset default >/dev/null
cmake --build --preset default -j "$(nproc)" --target vorpix_cli >/dev/null
out=sample-output
mkdir -p "$out"
v=build/vorpix
run() { echo "+ vorpix $*" >&2; "$v" "$@"; }
run coast --res c --box -85/-75/33/37 --list | head -n 8
run coast --res l --kinds "f:0" --box -85/-75/33/37 --ref 100/-35 -o "$out/coast.geojson"
run coast --res l --kinds "f:0" --box -85/-75/33/37 --svg -o "$out/coast.svg"
run info maps/vorpix/gshhs_c.b | head -n 4
for f in maps/vorpix/binned_border_c.cdf; do
  [[ -f $f ]] || continue
  run info "$f" | head -n 12
  run borders --res c --box -130/-60/20/55 --svg -o "$out/borders.svg"
  run borders --rivers --res l --box -130/-60/20/55 -o "$out/rivers.geojson"
done
ls -l "$out"
