#!/usr/bin/env bash
# Makes the bundled world shorelines maps/vorpix/gshhs_c.b (crude), gshhs_l.b
# (low) and gshhs_i.b (intermediate) from the binned GSHHG 2.3.7 shorelines in
# Debian's gmt-gshhg-low and gmt-gshhg-high packages (downloaded, not
# installed), through scripts/binned_to_shoreline.py. Also writes the small
# fuzz seed fuzz/seeds/gshhsmap/world_c_part.b. Needs netcdf-bin (nccopy) and
# python3-scipy; the output does not depend on the machine.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
missing=()
command -v nccopy >/dev/null || missing+=(netcdf-bin)
/usr/bin/python3 -c 'import scipy.io' 2>/dev/null || missing+=(python3-scipy)
/usr/bin/python3 -c 'import shapely' 2>/dev/null || missing+=(python3-shapely)
if ((${#missing[@]})); then
  apt-get install -y --no-install-recommends "${missing[@]}" >/dev/null
fi
(cd "$work" && apt-get download gmt-gshhg-low gmt-gshhg-high >/dev/null 2>&1 && for deb in ./*.deb; do dpkg-deb -x "$deb" x; done)
for res in c l i; do
  nccopy -k classic "$work/x/usr/share/gmt-gshhg/binned_GSHHS_$res.nc" "$work/$res.nc"
  /usr/bin/python3 "$top/scripts/binned_to_shoreline.py" "$work/$res.nc" "$top/maps/vorpix/gshhs_$res.b"
  /usr/bin/python3 "$top/tests/fixtures/gshhs/make_source_areas.py" "$work/$res.nc" \
    "$top/tests/fixtures/gshhs/source_areas_$res.json"
done
# Fuzz seed: Africa (across Greenwich) and both Antarctic outlines (round the pole).
/usr/bin/python3 - "$top/maps/vorpix/gshhs_c.b" "$top/fuzz/seeds/gshhsmap/world_c_part.b" <<'EOF'
import struct, sys
data = open(sys.argv[1], "rb").read()
out, pos = b"", 0
while pos < len(data):
    pid, n = struct.unpack(">ii", data[pos:pos + 8])
    end = pos + 44 + 8 * n
    if pid in (1, 4, 5):
        out += data[pos:end]
    pos = end
open(sys.argv[2], "wb").write(out)
EOF
