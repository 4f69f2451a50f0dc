"""Reading map data into Python: vorpix against its peers, in one run.

1. vorpix.read_dataframe and read_arrays against GeoPandas' read_file
   (Fiona) and pyshp on three files: the 200,000 polygons and the
   1,000,000 polygons that bench/make_polygons.py writes (into
   build-data/bench, made when missing) and a world map of countries
   (spData's world.shp from the fetched corpus, when there). Each reader
   runs REPEATS times, interleaved (one of each in turn), in this process.
2. How the geometries reach GeoPandas: read_dataframe as it is (GEOS
   geometries built by the native part) against the same read through WKB,
   made into shapely geometries by GeoSeries.from_wkb and by
   shapely.wkb.loads a feature at a time.
3. read_arrays in polygons per second (one thread).
4. Peak memory against the memory of the table that is kept, each read in a
   child process: the growth of the peak resident size over the resident
   size before reading, over the growth that remains while the result is
   held.
5. vorpix.coast(res="i") on boxes of one degree; cartopy's GSHHS feature on
   the same boxes when cartopy's own intermediate-resolution GSHHS files
   are on this machine (nothing is downloaded).

Every comparison is a ratio of medians, peer over vorpix (above 1: vorpix
is faster), from this one run; times are given beside them.

Usage: PYTHONPATH=<build>/python /usr/bin/python3 bench/python_read_bench.py [--quick]
(--quick: fewer repetitions and no 1,000,000-polygon file.)
"""
import glob
import json
import os
import statistics
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
TOP = os.path.dirname(HERE)
BENCH_DATA = os.path.join(TOP, "build-data", "bench")


def generated(count):
    name = "polygons.shp" if count == 200_000 else f"polygons_{count}.shp"
    path = os.path.join(BENCH_DATA, name)
    if not os.path.exists(path):
        subprocess.run([sys.executable, os.path.join(HERE, "make_polygons.py"), BENCH_DATA, str(count)], check=True)
    return path


def world():
    found = glob.glob(os.path.join(TOP, "build-data", "esri-corpus", "files", "**", "spData", "shapes", "world.shp"),
                      recursive=True)
    return found[0] if found else None


def median_times(readers, repeats):
    """Medians of interleaved runs, and the length of each reader's result."""
    times = {name: [] for name in readers}
    lengths = {}
    for _ in range(repeats):
        for name, read in readers.items():
            start = time.perf_counter()
            result = read()
            times[name].append(time.perf_counter() - start)
            lengths[name] = len(result.fids) if isinstance(result, tuple) else len(result)
            del result
    return {name: statistics.median(t) for name, t in times.items()}, times, lengths


def show(title, medians, times, base):
    print(title)
    for name, m in medians.items():
        print(f"  {name:44s} {m:9.4f} s  (min {min(times[name]):.4f}, max {max(times[name]):.4f})")
    for name, m in medians.items():
        if name != base:
            print(f"  ratio {name} / {base} = {m / medians[base]:.2f}")


def read_files(files, arrays_rates):
    import geopandas
    import shapefile  # pyshp
    import shapely.geometry

    import vorpix

    def pyshp_frame(path, encoding):
        # pyshp's records and shapes made into a GeoDataFrame, as a user of
        # pyshp would: shapely geometries from its __geo_interface__. The
        # text encoding is given (pyshp takes UTF-8 unless told).
        with shapefile.Reader(path, encoding=encoding, encodingErrors="replace") as r:
            names = [f[0] for f in r.fields[1:]]
            rows, geoms = [], []
            for sr in r.iterShapeRecords():
                rows.append(list(sr.record))
                geoms.append(shapely.geometry.shape(sr.shape.__geo_interface__) if sr.shape.points else None)
        return geopandas.GeoDataFrame(rows, columns=names, geometry=geoms)

    status = 0
    for path, n in files:
        encoding = vorpix.read_info(path)["encoding"] or "utf-8"
        readers = {
            "vorpix.read_dataframe": lambda: vorpix.read_dataframe(path),
            "vorpix.read_arrays": lambda: vorpix.read_arrays(path),
            "geopandas.read_file (Fiona)": lambda: geopandas.read_file(path),
            "pyshp into a GeoDataFrame": lambda: pyshp_frame(path, encoding),
        }
        medians, times, lengths = median_times(readers, n)
        show(f"{os.path.relpath(path, TOP)}: {lengths['vorpix.read_dataframe']} features, {n} interleaved runs",
             medians, times, "vorpix.read_dataframe")
        arrays_rates.append((path, lengths["vorpix.read_arrays"] / medians["vorpix.read_arrays"]))
        if len(set(lengths.values())) != 1:
            print(f"  lengths differ: {lengths}")
            status = 1
    return status


def geometry_routes(path, repeats):
    """read_dataframe with its geometries made three ways."""
    import geopandas
    import shapely.wkb

    import vorpix
    from vorpix import _frames

    native = _frames.native_shapes

    def through_wkb(make):
        def read():
            saved = _frames.native_shapes, _frames.geometries
            _frames.native_shapes, _frames.geometries = (lambda: None), make
            try:
                return vorpix.read_dataframe(path)
            finally:
                _frames.native_shapes, _frames.geometries = saved
        return read

    def from_wkb(wkb):
        return geopandas.GeoSeries.from_wkb(wkb).values.data

    def loads(wkb):
        import numpy as np

        out = np.empty(len(wkb), dtype=object)
        for i, b in enumerate(wkb):
            if b is not None:
                out[i] = shapely.wkb.loads(b)
        return out

    readers = {
        "GEOS geometries built by vorpix": lambda: vorpix.read_dataframe(path),
        "WKB, GeoSeries.from_wkb": through_wkb(from_wkb),
        "WKB, shapely.wkb.loads per feature": through_wkb(loads),
    }
    try:
        import pygeos  # noqa: F401

        readers["WKB, pygeos.from_wkb"] = through_wkb(lambda wkb: pygeos.to_shapely(pygeos.from_wkb(wkb)))
    except ImportError:
        print("(pygeos is not installed: its from_wkb is not measured)")
    if native() is None:
        print("(shapely is not 1.8 here: vorpix's geometries come through WKB too)")
    medians, times, _ = median_times(readers, repeats)
    show(f"read_dataframe of {os.path.relpath(path, TOP)} by the way geometries are made, {repeats} interleaved runs",
         medians, times, "GEOS geometries built by vorpix")


# Run in a child: imports, a small read to settle, then the read measured.
# The peak is the kernel's high-water mark of this process's resident size
# (VmHWM), set back to the current size just before the read (ru_maxrss
# would carry the parent's peak over the exec).
MEMORY_CHILD = r"""
import ctypes, gc, json, sys
which, path, small = sys.argv[1], sys.argv[2], sys.argv[3]
import geopandas, vorpix
def read(p):
    return vorpix.read_dataframe(p) if which == "vorpix" else geopandas.read_file(p)
read(small)
gc.collect()
libc = ctypes.CDLL("libc.so.6")
def status(key):
    with open("/proc/self/status") as f:
        for line in f:
            if line.startswith(key + ":"):
                return int(line.split()[1]) * 1024
libc.malloc_trim(0)
before = status("VmRSS")
with open("/proc/self/clear_refs", "w") as f:
    f.write("5")
table = read(path)
peak = status("VmHWM")
gc.collect()
libc.malloc_trim(0)
held = status("VmRSS")
print(json.dumps({"before": before, "peak": peak, "held": held, "rows": len(table)}))
"""


def memory(cases):
    small = os.path.join(TOP, "tests", "fixtures", "esri", "nc.shp")
    print("Peak memory over the memory of the table held (resident sizes, each read in a child process)")
    for which, path in cases:
        run = subprocess.run([sys.executable, "-c", MEMORY_CHILD, which, path, small], capture_output=True, text=True,
                             env=dict(os.environ, OMP_NUM_THREADS="1"))
        if run.returncode != 0:
            print(f"  {which} {path}: failed: {run.stderr.strip().splitlines()[-1:]}")
            continue
        m = json.loads(run.stdout)
        grown = m["peak"] - m["before"]
        held = m["held"] - m["before"]
        name = "vorpix.read_dataframe" if which == "vorpix" else "geopandas.read_file (Fiona)"
        print(f"  {name:30s} {os.path.relpath(path, TOP)}: peak +{grown / 1e6:.0f} MB, table held +{held / 1e6:.0f} MB, "
              f"peak / table = {grown / held:.2f}")


def coast(repeats):
    import vorpix

    boxes = [(-5.0, 48.0, -4.0, 49.0), (10.0, 54.0, 11.0, 55.0), (-71.0, 41.0, -70.0, 42.0), (150.0, -34.0, 151.0, -33.0),
             (-30.0, -40.0, -29.0, -39.0)]
    times = {b: [] for b in boxes}
    counts = {}
    for _ in range(repeats):
        for b in boxes:
            start = time.perf_counter()
            frame = vorpix.coast(res="i", box=b)
            times[b].append(time.perf_counter() - start)
            counts[b] = len(frame)
    print(f"vorpix.coast(res=\"i\") on boxes of one degree, {repeats} interleaved runs")
    for b in boxes:
        m = statistics.median(times[b])
        print(f"  box {b}: {counts[b]} polygons, median {m * 1000:.1f} ms, 50 ms / median = {0.05 / m:.1f}")
    import cartopy

    roots = [cartopy.config.get(k) for k in ("pre_existing_data_dir", "data_dir", "repo_data_dir")]
    roots.append("/usr/share/cartopy/data")
    have = [r for r in roots if r and os.path.exists(os.path.join(r, "shapefiles", "gshhs", "i", "GSHHS_i_L1.shp"))]
    if not have:
        print("  cartopy's GSHHS feature: its intermediate-resolution files (shapefiles/gshhs/i/GSHHS_i_L1.shp) are "
              f"in none of {[r for r in roots if r]}; not compared (nothing is downloaded)")
        return
    import cartopy.feature

    cartopy.config["downloaders"] = {}  # never fetch
    cartopy.config["pre_existing_data_dir"] = have[0]
    peer = {b: [] for b in boxes}
    ours = {b: [] for b in boxes}
    for _ in range(repeats):
        for b in boxes:
            feature = cartopy.feature.GSHHSFeature(scale="i", levels=[1])
            start = time.perf_counter()
            list(feature.intersecting_geometries((b[0], b[2], b[1], b[3])))
            peer[b].append(time.perf_counter() - start)
            start = time.perf_counter()
            vorpix.coast(res="i", box=b, kinds="f:1")
            ours[b].append(time.perf_counter() - start)
    for b in boxes:
        print(f"  box {b}: ratio cartopy GSHHSFeature / vorpix.coast = "
              f"{statistics.median(peer[b]) / statistics.median(ours[b]):.1f}")


def main():
    quick = "--quick" in sys.argv[1:]
    files = [(generated(200_000), 3 if quick else 5)]
    if not quick:
        files.append((generated(1_000_000), 3))
    w = world()
    if w:
        files.append((w, 9 if quick else 21))
    else:
        print("(no spData world.shp: tests/fixtures/esri/fetch_corpus.sh fetches it)")
    print(f"python {sys.version.split()[0]}, one run; medians of interleaved repetitions\n")
    rates = []
    status = read_files(files, rates)
    print()
    geometry_routes(files[0][0], 3)
    print()
    print("read_arrays (one thread)")
    for path, rate in rates:
        print(f"  {os.path.relpath(path, TOP)}: {rate / 1e6:.2f} M features per second")
    print()
    cases = [("vorpix", files[0][0]), ("fiona", files[0][0])]
    if not quick:
        cases.append(("vorpix", files[1][0]))
    memory(cases)
    print()
    coast(9 if quick else 31)
    return status


if __name__ == "__main__":
    sys.exit(main())
