#!/usr/bin/env bash
# Installs the map files too large to bundle: the world shorelines at high
# and full resolution (gshhs_h.b, gshhs_f.b, through
# scripts/binned_to_shoreline.py) and the border and river files at
# intermediate, high and full resolution (binned_{border,river}_{i,h,f}.cdf,
# converted to netCDF classic), from the GSHHG 2.3.7 files of Debian's
# gmt-gshhg-low, -high and -full packages (downloaded and unpacked, not
# installed). With the bundled files that makes every resolution of all three.
#
# usage: scripts/install-high-resolutions.sh [DATA_ROOT]
#
# The files go to DATA_ROOT/maps/vorpix. By default DATA_ROOT is this source
# tree, which the tool and library built from it search; git ignores the
# files there and "cmake --install" leaves them out. For an installed library
# give its data directory (PREFIX/share/vorpix), or any directory named in
# VORPIX_DATA_PATH. Each file is replaced whole. Takes a few minutes and
# about 4 GB of memory (the full-resolution shorelines); the files take
# 135 MB, and the packages as much again while it works.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
dest=${1:-$top}/maps/vorpix
mkdir -p "$dest"
work=$(mktemp -d)
trap 'rm -rf "$work"; rm -f "$dest"/.install-??????' EXIT

missing=()
command -v nccopy >/dev/null || missing+=(netcdf-bin)
/usr/bin/python3 -c 'import numpy, scipy.io, shapely' 2>/dev/null ||
  missing+=(python3-numpy python3-scipy python3-shapely)
if ((${#missing[@]})); then
  apt-get update -qq
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
packages=(gmt-gshhg-low gmt-gshhg-high gmt-gshhg-full)
download() { (cd "$work" && apt-get download "${packages[@]}" >/dev/null 2>&1); }
download || { apt-get update -qq && download; } || { echo "cannot download ${packages[*]}" >&2; exit 1; }
for deb in "$work"/*.deb; do dpkg-deb -x "$deb" "$work/x"; done
src=$work/x/usr/share/gmt-gshhg

# Made beside its final name and renamed over it, readable by all, so that a
# reader never meets half a file.
install_as() {  # temporary file, final name
  chmod 644 "$1"
  mv -f "$1" "$dest/$2"
  echo "$dest/$2: $(wc -c <"$dest/$2") bytes"
}

for kind in border river; do
  for res in i h f; do
    tmp=$(mktemp "$dest/.install-XXXXXX")
    nccopy -k classic "$src/binned_${kind}_$res.nc" "$tmp"
    install_as "$tmp" "binned_${kind}_$res.cdf"
  done
done
# Beside them, what the land-area test reads of the source itself
# (tests/fixtures/gshhs/make_source_areas.py), in build-data of this tree.
mkdir -p "$top/build-data"
for res in h f; do
  nccopy -k classic "$src/binned_GSHHS_$res.nc" "$work/$res.nc"
  tmp=$(mktemp "$dest/.install-XXXXXX")
  /usr/bin/python3 "$top/scripts/binned_to_shoreline.py" "$work/$res.nc" "$tmp" >/dev/null
  install_as "$tmp" "gshhs_$res.b"
  /usr/bin/python3 "$top/tests/fixtures/gshhs/make_source_areas.py" "$work/$res.nc" "$top/build-data/source_areas_$res.json"
done
echo "vorpix data lists the files each resolution finds"
