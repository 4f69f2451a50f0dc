#!/usr/bin/env bash
# Plants small faults in the library and the tool, one at a time, and checks
# that the test suite notices each. Run by hand, not in CI: it takes a while.
#
# Each mutant is one textual replacement in one source file (the pattern must
# occur exactly once). The committed tree (HEAD) is checked out in a scratch
# worktree under $MUTANTS_DIR (default /tmp/mutants), built once in its own
# build directory; each mutant is then applied, the programs that use it are
# rebuilt incrementally, the tests of its family run (stopping at the first
# failure), and the file is restored. A mutant is killed when its build fails
# or some test fails.
# A markdown table of the results goes to standard output (and to
# $MUTANTS_DIR/report.md); the status is 1 when a mutant survives.
#
# Usage: scripts/mutation-check.sh [NAME...]   (only the mutants named)
#        scripts/mutation-check.sh --patterns   (only checks that each pattern occurs once)
# Environment: MUTANTS_DIR, MUTANTS_JOBS (default 2), MUTANTS_REF (default HEAD).
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
work=${MUTANTS_DIR:-/tmp/mutants}
jobs=${MUTANTS_JOBS:-2}
ref=${MUTANTS_REF:-HEAD}
tree=$work/tree
build=$work/build
logs=$work/logs
python=/usr/bin/python3
[[ -x $python ]] || python=python3

# The test programs that build quickly from the shared libraries. The ones
# that compile the library's sources themselves (allocation failure, vector
# paths, ThreadSanitizer) are left to the full suite, as are the slowest
# comparisons of whole real files, which the mutants' faults reach through
# the fixtures too.
exclude='^(ThreadSanitizer\.|AllocationFailure\.|HostileFiles\.|VectorPaths|ShapesTool\.RealShapefilesReadAsGdalReadsThem$|python_errors$|RenderTool\.LegendHidesNoLandUnlessPlacedThere$)'

# ---------------------------------------------------------------------------
# The mutants: name, file, tests (a ctest -R expression; the instances of a
# parameterized suite are named PREFIX/Suite.Test), pattern, replacement.
names=() files=() tests=() froms=() tos=()
mutant() { names+=("$1") files+=("$2") tests+=("$3") froms+=("$4") tos+=("$5"); }

shp='^([A-Za-z0-9]+/)?(Shapefile|TruncatedShapefile|ShapeFetch|EsriPrint|EsriEngine|ShapesTool|InfoTool|IndexDatabase|python_shapefiles)'
dbf='^([A-Za-z0-9]+/)?(Dbase|TruncatedFile|ShapesTool|IndexDatabase|ShapefileReader|python_shapefiles|ToolMessages)'
ncdf='^([A-Za-z0-9]+/)?(Netcdf|BorderBinding|BorderReader|BordersTool|BordersGeoJson|Listing|InfoTool)'
shore='^([A-Za-z0-9]+/)?(Shoreline|WorldShorelines|LongRunningClient|CoastTool|ExactClip|LandArea|python_maps)'
border='^([A-Za-z0-9]+/)?(Border|HostileBorders|RealBorders|BordersTool|BordersGeoJson|python_maps)'
dds='^([A-Za-z0-9]+/)?(Dds|S3tc|ToolTexture|python_rasters)'
layer='^([A-Za-z0-9]+/)?(ShapesTool|ShapefileReader|ShapefileCoordinateSystem|GeoJsonWriter|CoastTool|ExactClip|BordersGeoJson|ShorelineSeam|RenderTool|ProjectedMap|python_shapefiles|python_maps)'
tool='^([A-Za-z0-9]+/)?(ShapesTool|CoastTool|BordersTool|BordersGeoJson|RenderTool|DataTool|InfoTool|ToolMessages|ToolOutput|ToolTexture|GeoJsonWriter|python_errors)'

# ESRI shapefiles
mutant shp-file-length-order lib/mapdata/vorpix/esri_tables.hpp "$shp" \
    'FIXED(ESRISHPFILEHDRStr, length, ESRI_INT, 1, BE)' 'FIXED(ESRISHPFILEHDRStr, length, ESRI_INT, 1, LE)'
mutant shx-offset-in-bytes lib/features/shapefile_reader.cpp "$shp" \
    'return 2 * static_cast<std::uint64_t>(big32(entry));' 'return static_cast<std::uint64_t>(big32(entry));'
mutant shp-record-end-check lib/features/shapefile_reader.cpp "$shp" \
    'if (offset + 8 + length > shp->size())' 'if (offset + length > shp->size())'
# dBase
mutant dbf-deletion-flag-kept lib/mapdata/vorpix/esri_strdefs.cpp "$dbf" \
    'size_t offset = 1;' 'size_t offset = 0;'
mutant dbf-logical-yes lib/mapdata/vorpix/esri_strdefs.cpp "$dbf" \
    'std::strchr("TtYy", text[0])' 'std::strchr("Tt", text[0])'
mutant dbf-default-cp1252 lib/features/shapefile_reader.cpp "$dbf" \
    'options.fallback.empty() ? "ISO-8859-1" : options.fallback' 'options.fallback.empty() ? "CP1252" : options.fallback'
mutant dbf-driver-0x57 lib/features/text.cpp "$dbf" \
    '{0x57, "ISO-8859-1"},' '{0x57, "CP1252"},'
# netCDF headers
mutant nc-padding lib/mapdata/vorpix/netcdf_tables.hpp "$ncdf" \
    'return (4 - size % 4) % 4;' 'return size % 4;'
mutant nc-short-order lib/mapdata/vorpix/netcdf_strdefs.cpp "$ncdf" \
    'case NETCDF_SHORT: N2H2(buffer, src, values.n); break;' 'case NETCDF_SHORT: std::memcpy(buffer, src, size); break;'
# Shorelines: selection and delivery
mutant gshhs-version-byte lib/mapdata/vorpix/gshhs_format.hpp "$shore" \
    '((flag >> 8) & 255)' '((flag >> 16) & 255)'
mutant gshhs-level-bit lib/mapdata/vorpix/gshhs_selection.hpp "$shore" \
    'return (bitmap >> (level - 1)) & 1u;' 'return (bitmap >> level) & 1u;'
mutant gshhs-south-edge lib/mapdata/vorpix/gshhs_selection.hpp "$shore" \
    'if (gs->bb_latsouth > hdr.north * 1e-6) return false;' 'if (gs->bb_latsouth > hdr.south * 1e-6) return false;'
# Borders and rivers
mutant gmt-bin-row lib/mapdata/vorpix/gmtmap.cpp "$border" \
    'lat0 = 90.0 - (row + 1) * dlat;' 'lat0 = 90.0 - row * dlat;'
mutant gmt-point-order lib/mapdata/vorpix/gmtmap.cpp "$border" \
    '_mm_or_si128(_mm_slli_epi16(v, 8), _mm_srli_epi16(v, 8))' 'v'
mutant gmt-level-bit lib/mapdata/vorpix/gmtmap.cpp "$border" \
    'const auto bit = static_cast<unsigned int>(level - 1);' 'const auto bit = static_cast<unsigned int>(level);'
mutant gmt-points-inside lib/mapdata/vorpix/gmtmap.cpp "$border" \
    'if (first < 0 || first + n > limit) {' 'if (first < 0 || first > limit) {'
# Textures
mutant s3tc-third-colour lib/mapdata/vorpix/s3tc.cpp "$dds" \
    'palette[2] = pack(255, (2 * r0 + r1) / 3,' 'palette[2] = pack(255, (r0 + 2 * r1) / 3,'
mutant s3tc-mode-switch lib/mapdata/vorpix/s3tc.cpp "$dds" \
    'if (!dxt1 || c0 > c1) {' 'if (!dxt1 || c0 >= c1) {'
mutant dds-level-blocks lib/mapdata/vorpix/dds_strdefs.cpp "$dds" \
    'std::max<std::uint64_t>(1, (w + 3) / 4)' 'std::max<std::uint64_t>(1, w / 4)'
# The feature layer: reprojection and clipping
mutant proj-direction lib/features/reproject.cpp "$layer" \
    'PJ_FWD, x, bytes' 'PJ_INV, x, bytes'
mutant clip-east-edge lib/features/clip.cpp "$layer" \
    'if (p.lon == e_ && p.lat < n_) return dx_ + (p.lat - s_);' 'if (p.lon == e_ && p.lat < n_) return dx_ + (n_ - p.lat);'
# Rings as GeoJSON's right-hand rule wants them: the clip turns exteriors
# counter-clockwise and holes clockwise (the shapes command once turned each
# ring again after it).
mutant ring-orientation-inverted lib/features/clip.cpp "$layer" \
    '} else if (signed_area2(outer) < 0) {' '} else if (signed_area2(outer) > 0) {'
mutant map-ring-orientation lib/features/map_support.cpp "$layer" \
    'const bool reverse = (geo::signed_area2(ring) > 0) != (r == 0);' 'const bool reverse = (geo::signed_area2(ring) > 0) == (r == 0);'
# The shapefile reader: columns by name, the .prj beside the file, and rings
# turned as GeoJSON wants them (the Python module's and the tool's tests
# hold these to GDAL and to the RFC 7946 check).
mutant shp-columns-by-name lib/features/shapefile_reader.cpp "$layer" \
    'columns.push_back(static_cast<int>(it - all_fields.begin()));' 'columns.push_back(static_cast<int>(columns.size()));'
mutant shp-prj-beside lib/features/shapefile_reader.cpp "$layer" \
    'file_beside(d.path, {".prj", ".PRJ"})' 'file_beside(d.path, {".PRJ"})'
mutant shp-ring-orientation lib/features/shapefile_reader.cpp "$layer" \
    'shape.run(from, to, starts ? area < 0 : area > 0, true);' 'shape.run(from, to, starts ? area > 0 : area < 0, true);'
# Records by number, as the Dask partitions read them and compare them with
# the whole file.
mutant shp-record-by-number lib/features/shapefile_reader.cpp '^([A-Za-z0-9]+/)?(python_dask|python_shapefiles)' \
    'offset = d.listed_offset(recno);' 'offset = d.listed_offset(0);'
# The tool: options and GeoJSON
mutant box-north-pole tools/vorpix/cli.cpp "$tool" \
    'box.north > 90)' 'box.north >= 90)'
mutant one-format tools/vorpix/cli.cpp "$tool" \
    'if (given.size() > 1)' 'if (given.size() > 2)'
mutant json-control-chars lib/features/geojson_writer.cpp "$tool" \
    "if (c >= 0x20 && c != '\"'" "if (c != '\"'"
mutant json-real-point lib/features/geojson_writer.cpp "$tool" \
    'out += ".0";' 'out += "";'

# ---------------------------------------------------------------------------

if [[ ${1:-} == --patterns ]]; then
    # Only checks that every pattern occurs once in the files as committed.
    bad=0
    for i in "${!names[@]}"; do
        n=$(git -C "$top" show "$ref:${files[i]}" |
            FROM=${froms[i]} "$python" -c 'import os, sys; print(sys.stdin.read().count(os.environ["FROM"]))')
        [[ $n == 1 ]] || { echo "${names[i]}: ${files[i]}: the pattern occurs $n times" >&2; bad=1; }
    done
    exit $bad
fi

selected=("$@")
wanted() {
    ((${#selected[@]} == 0)) && return 0
    local s
    for s in "${selected[@]}"; do [[ $s == "$1" ]] && return 0; done
    return 1
}

# Replaces the pattern in the file, which must hold it exactly once.
apply() {
    "$python" - "$1" "$2" "$3" <<'PY'
import sys
path, old, new = sys.argv[1:]
text = open(path, encoding="utf-8").read()
count = text.count(old)
if count != 1:
    sys.exit(f"{path}: the pattern {old!r} occurs {count} times, not once")
open(path, "w", encoding="utf-8").write(text.replace(old, new))
PY
}

mkdir -p "$work" "$logs"
if [[ -e $tree/.git ]]; then
    git -C "$tree" checkout -q -f --detach "$(git -C "$top" rev-parse "$ref")"
else
    rm -rf "$tree"
    git -C "$top" worktree add -q --detach "$tree" "$ref"
fi
git -C "$tree" reset -q --hard  # a run that stopped half-way leaves a mutant
echo "mutating $(git -C "$tree" log -1 --format='%h %s' | cut -c1-72)" >&2

# Configured again each run, so that the targets are those of the tree now.
if [[ -f $build/build.ninja ]]; then
    cmake -S "$tree" -B "$build" >"$logs/configure.log"
else
    cmake --preset default -S "$tree" -B "$build" >"$logs/configure.log"
fi
# Everything the mutants rebuild: the tool, the Python module and the test
# programs that link the shared libraries.
mapfile -t targets < <(ninja -C "$build" -t targets all 2>/dev/null | sed -nE 's/^([a-z_0-9]+(_test|_cli|_python)): phony$/\1/p' |
    grep -vE '^cmake_|^(alloc_failure_test|vector_paths_test|threads_under_tsan)$' | sort -u)
targets+=(signal_at_sync vorpix_python_files)
echo "== building the unchanged tree" >&2
cmake --build "$build" -j"$jobs" --target "${targets[@]}" >"$logs/build.log" 2>&1 || { tail -30 "$logs/build.log"; exit 2; }

union=$(printf '%s\n' "${tests[@]}" | sed -E 's/^\^\(\[A-Za-z0-9\]\+\/\)\?\((.*)\)$/\1/' | sort -u | tr '\n' '|')
union="^([A-Za-z0-9]+/)?(${union%|})"
echo "== the tests the mutants use, on the unchanged tree" >&2
if ! ctest --test-dir "$build" -R "$union" -E "$exclude" -j"$jobs" >"$logs/baseline.log" 2>&1; then
    sed -n '/tests FAILED/,$p' "$logs/baseline.log" >&2
    echo "the unchanged tree fails its tests: no mutant can be judged" >&2
    exit 2
fi

report=$work/report.md
{
    echo "| mutant | file | change | killed by |"
    echo "|---|---|---|---|"
} >"$report"
survivors=0
for i in "${!names[@]}"; do
    name=${names[i]} file=${files[i]}
    wanted "$name" || continue
    echo "== $name" >&2
    apply "$tree/$file" "${froms[i]}" "${tos[i]}"
    verdict=
    if ! cmake --build "$build" -j"$jobs" --target "${targets[@]}" >"$logs/$name.build.log" 2>&1; then
        verdict="the build"
    elif ! ctest --test-dir "$build" -R "${tests[i]}" -E "$exclude" -j"$jobs" --stop-on-failure \
        >"$logs/$name.test.log" 2>&1; then
        failed=$(sed -n '/tests FAILED/,$p' "$logs/$name.test.log" | sed -nE 's/^[[:space:]]*[0-9]+ - ([^ ]+) .*/\1/p')
        if [[ -z $failed ]]; then
            verdict="ctest (see $logs/$name.test.log)"
        else
            count=$(wc -l <<<"$failed")
            verdict=$(head -3 <<<"$failed" | paste -sd ' ' | sed 's/ /, /g')
            ((count > 3)) && verdict+=" and $((count - 3)) more"
        fi
    fi
    git -C "$tree" checkout -q -- "$file"
    if [[ -z $verdict ]]; then
        verdict="**SURVIVED**"
        survivors=$((survivors + 1))
    fi
    change="\`${froms[i]}\` → \`${tos[i]:-(removed)}\`"
    echo "| $name | $file | ${change//|/\\|} | $verdict |" >>"$report"
    echo "   $verdict" >&2
done
# The restored sources, built again, so that the next run starts clean.
cmake --build "$build" -j"$jobs" --target "${targets[@]}" >"$logs/restore.log" 2>&1 || true
cat "$report"
((survivors == 0))
