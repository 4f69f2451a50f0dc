#!/bin/sh
# Converts the binned border and river files of Debian's gmt-gshhg-low (and
# gmt-gshhg-full/-high when present) from netCDF-4 to netCDF classic.
#   maps/vorpix/binned_{border,river}_{c,l}.cdf  the committed samples
#   $VORPIX_EXTRA_DATA/maps/vorpix/...           the larger ones, for tests and
#                                                benchmarks (default build-data/)
# Needs nccopy (netcdf-bin). Uses the installed package when there is one,
# otherwise downloads and unpacks it without installing.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
extra=${VORPIX_EXTRA_DATA:-$root/build-data}
work=$extra/pkg
mkdir -p "$root/maps/vorpix" "$extra/maps/vorpix" "$work"

find_source() {  # name: prints the path of binned_NAME.nc, fetching packages if needed
    for dir in /usr/share/gmt-gshhg "$work"/x/usr/share/gmt-gshhg; do
        if [ -f "$dir/binned_$1.nc" ]; then echo "$dir/binned_$1.nc"; return; fi
    done
}

fetch() {  # package
    [ -n "$(find_source border_c)" ] && [ "$1" = gmt-gshhg-low ] && return 0
    (cd "$work" && apt-get download "$1" >/dev/null 2>&1 && for deb in "$1"_*.deb; do dpkg-deb -x "$deb" x; done) ||
        echo "make-border-samples: could not fetch $1" >&2
}

fetch gmt-gshhg-low
if [ "${VORPIX_FULL_BORDERS:-0}" = 1 ]; then fetch gmt-gshhg-high; fetch gmt-gshhg-full; fi

for kind in border river; do
    for res in c l i h f; do
        src=$(find_source "${kind}_$res") || true
        [ -n "$src" ] || continue
        case $res in c|l) out=$root/maps/vorpix ;; *) out=$extra/maps/vorpix ;; esac
        nccopy -k classic "$src" "$out/binned_${kind}_$res.cdf"
        echo "$out/binned_${kind}_$res.cdf: $(wc -c < "$out/binned_${kind}_$res.cdf") bytes"
    done
done
