"""Reading a shapefile into Python: vorpix.read_dataframe and read_arrays
against GeoPandas' read_file (Fiona) and pyshp, on the polygons that
bench/make_polygons.py writes (build-data/bench/polygons.shp, made when
missing). Each reader runs REPEATS times, interleaved (one of each in turn),
in this process; the medians are compared as ratios, peer time over vorpix
time (above 1: vorpix is faster).

Usage: PYTHONPATH=<build>/python /usr/bin/python3 bench/python_read_bench.py [SHAPEFILE] [REPEATS]
"""
import os
import statistics
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
TOP = os.path.dirname(HERE)


def polygons():
    path = os.path.join(TOP, "build-data", "bench", "polygons.shp")
    if not os.path.exists(path):
        subprocess.run([sys.executable, os.path.join(HERE, "make_polygons.py"), os.path.dirname(path)], check=True)
    return path


def main():
    path = sys.argv[1] if len(sys.argv) > 1 else polygons()
    repeats = int(sys.argv[2]) if len(sys.argv) > 2 else 5
    import geopandas
    import shapefile  # pyshp
    import shapely.geometry

    import vorpix

    def pyshp_frame():
        # pyshp's records and shapes made into a GeoDataFrame, as a user of
        # pyshp would: shapely geometries from its __geo_interface__.
        with shapefile.Reader(path) as r:
            names = [f[0] for f in r.fields[1:]]
            rows, geoms = [], []
            for sr in r.iterShapeRecords():
                rows.append(list(sr.record))
                geoms.append(shapely.geometry.shape(sr.shape.__geo_interface__) if sr.shape.points else None)
        return geopandas.GeoDataFrame(rows, columns=names, geometry=geoms)

    readers = {
        "vorpix.read_dataframe": lambda: vorpix.read_dataframe(path),
        "vorpix.read_arrays": lambda: vorpix.read_arrays(path),
        "geopandas.read_file (Fiona)": lambda: geopandas.read_file(path),
        "pyshp into a GeoDataFrame": pyshp_frame,
    }
    times = {name: [] for name in readers}
    counts = {}
    for _ in range(repeats):
        for name, read in readers.items():
            start = time.perf_counter()
            result = read()
            times[name].append(time.perf_counter() - start)
            counts[name] = len(result) if not isinstance(result, tuple) else len(result.fids)
            del result
    medians = {name: statistics.median(t) for name, t in times.items()}
    print(f"{path}: {counts['vorpix.read_dataframe']} features, {repeats} interleaved runs, medians")
    for name, m in medians.items():
        print(f"  {name:30s} {m:8.3f} s  (min {min(times[name]):.3f}, max {max(times[name]):.3f})")
    base = medians["vorpix.read_dataframe"]
    for name in ("geopandas.read_file (Fiona)", "pyshp into a GeoDataFrame"):
        print(f"  ratio {name} / vorpix.read_dataframe: {medians[name] / base:.2f}")
    print(f"  ratio vorpix.read_dataframe / vorpix.read_arrays: {base / medians['vorpix.read_arrays']:.2f}")
    if len(set(counts.values())) != 1:
        print(f"  counts differ: {counts}")
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
