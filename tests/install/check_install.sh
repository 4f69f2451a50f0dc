#!/usr/bin/env bash
# Installs the built tree into a temporary prefix and builds a C and a C++
# program against it, once through the CMake package and once through
# pkg-config; both must find the installed sample data by themselves.
set -euo pipefail
build=$1
with_tool=${2:-ON}  # whether the build has the tool (VORPIX_BUILD_TOOLS)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
prefix=$work/prefix
cmake --install "$build" --prefix "$prefix" >/dev/null
libdir=$(dirname "$(find "$prefix" -name libvorpix.so | head -1)")
# The bundled data alone, whatever scripts/install-high-resolutions.sh added
# to the source tree.
extra=$(find "$prefix/share/vorpix/maps/vorpix" -name 'gshhs_[hf].b' -o -name 'binned_*_[ihf].cdf' -o -name '.install-*')
[[ -z $extra ]] || { echo "installed beyond the bundled data: $extra"; exit 1; }

mkdir -p "$work/src"
cat > "$work/src/use.c" <<'C'
#include <stdio.h>
#include <stdlib.h>
#include <vorpix/datafile.h>
#include <vorpix/gshhsmap.h>
int main(void) {
    void *map = NULL;
    char types[] = "c:0", res[] = "crude";
    char *path = datafile(NULL, "maps/vorpix/gshhs_c.b");
    if (!path) return 1;
    puts(path);
    free(path);
    if (gshhsmap_open(&map) != 0) return 1;
    printf("%d\n", gshhsmap_select(map, types, res, -180, 180, -90, 90, 0, 0));
    return 0;
}
C
cat > "$work/src/use.cpp" <<'CPP'
#include <vorpix/gshhsmap.h>
#include <vorpix/redblack.h>
#include <cstdio>
#include <string>
int main() {
    Arr *a = newarr(nullptr);
    std::string key = "c:1";
    setarr(a, key.c_str(), a);
    float lon[3] = {0, 1, 0}, lat[3] = {0, 0, 1};
    std::printf("%d %d\n", getarr(a, "c:1") == a, gshhsmap_inside_eo(0.2f, 0.2f, 3, lon, lat));
    freearr(a, nullptr);
    return 0;
}
CPP
cat > "$work/src/CMakeLists.txt" <<'CM'
cmake_minimum_required(VERSION 3.25)
project(use_vorpix C CXX)
find_package(vorpix REQUIRED)
add_executable(use_c use.c)
target_link_libraries(use_c PRIVATE vorpix::vorpix)
add_executable(use_cpp use.cpp)
target_link_libraries(use_cpp PRIVATE vorpix::vorpix vorpix::host)
CM
cmake -S "$work/src" -B "$work/cmake-build" -DCMAKE_PREFIX_PATH="$prefix" >/dev/null
cmake --build "$work/cmake-build" >/dev/null
export PKG_CONFIG_PATH=$libdir/pkgconfig
cc -std=c11 "$work/src/use.c" $(pkg-config --cflags --libs vorpix) -o "$work/pc_c"
c++ -std=c++20 "$work/src/use.cpp" $(pkg-config --cflags --libs vorpix) -o "$work/pc_cpp"

for program in "$work/cmake-build/use_c" "$work/pc_c"; do
  out=$(env -u VORPIX_DATA_PATH LD_LIBRARY_PATH="$libdir" "$program")
  first=$(head -1 <<<"$out")
  [[ $(realpath "$first") == $(realpath "$prefix/share/vorpix/maps/vorpix/gshhs_c.b") ]] \
    || { echo "$program found $first, not the installed data"; exit 1; }
  # The whole world at crude resolution: every polygon but Antarctica's ice
  # front (level 5).
  [[ $(tail -1 <<<"$out") == 1780 ]] || { echo "$program selected: $out"; exit 1; }
done
for program in "$work/cmake-build/use_cpp" "$work/pc_cpp"; do
  [[ $(LD_LIBRARY_PATH="$libdir" "$program") == "1 1" ]] || { echo "$program failed"; exit 1; }
done
if [[ $with_tool == ON ]]; then
  # The feature layer from C, through the CMake package: the features of a
  # shapefile and the error for a file that is not there.
  mkdir -p "$work/features"
  cat > "$work/features/read.c" <<'C'
#include <stdio.h>
#include <vorpix/vorpix_features.h>
int main(int argc, char **argv) {
    vpx_error error;
    if (vpx_open_shapefile("no-such-file.shp", NULL, &error) || error.code != VPX_IO) return 1;
    vpx_reader *reader = vpx_open_shapefile(argv[argc - 1], NULL, &error);
    if (!reader) return 1;
    vpx_feature f;
    long count = 0, points = 0;
    while (vpx_next(reader, &f, &error) == 1) ++count, points += (long)f.point_count;
    vpx_close(reader);
    printf("%ld %ld %d\n", count, points, error.code);
    return 0;
}
C
  cat > "$work/features/CMakeLists.txt" <<'CM'
cmake_minimum_required(VERSION 3.25)
project(read_features C CXX)
find_package(vorpix REQUIRED)
add_executable(read read.c)
target_link_libraries(read PRIVATE vorpix::features)
CM
  cmake -S "$work/features" -B "$work/features-build" -DCMAKE_PREFIX_PATH="$prefix" >/dev/null
  cmake --build "$work/features-build" >/dev/null
  # North Carolina's 100 counties, as pyshp counts their points.
  nc=$(cd "$(dirname "$0")/../fixtures/esri" && pwd)/nc.shp
  got=$(LD_LIBRARY_PATH="$libdir" "$work/features-build/read" "$nc")
  [[ $got == "100 2529 0" ]] || { echo "feature layer consumer read: $got"; exit 1; }
  "$prefix/bin/vorpix" --version | grep -q '^vorpix ' || { echo "installed tool does not run"; exit 1; }
  [[ -f $prefix/share/man/man1/vorpix.1 ]] || { echo "no man page"; exit 1; }
fi
echo "install: CMake package and pkg-config consumers in C and C++ work"
