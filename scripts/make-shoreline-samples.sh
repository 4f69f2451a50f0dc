#!/usr/bin/env bash
# Converts the North Carolina county outlines that Debian's r-cran-sf package
# ships (shape/nc.shp) into the sample shoreline files maps/vorpix/gshhs_c.b
# (every fourth point) and gshhs_l.b (every point). Needs python3-pyshp.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
(cd "$work" && apt-get download r-cran-sf >/dev/null && dpkg-deb -x r-cran-sf_*.deb x)
shp=$(find "$work/x" -name nc.shp | head -1)
/usr/bin/python3 "$top/scripts/shapes_to_shoreline.py" "$shp" "$top/maps/vorpix/gshhs_l.b" 1
/usr/bin/python3 "$top/scripts/shapes_to_shoreline.py" "$shp" "$top/maps/vorpix/gshhs_c.b" 4
