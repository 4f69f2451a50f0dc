#!/usr/bin/python3
"""Writes the polygons of a shapefile as a GSHHS shoreline file.

usage: shapes_to_shoreline.py IN.shp OUT.b STEP
Each ring becomes one polygon: clockwise rings (outer boundaries in shapefile
order) as level 1 land, counter-clockwise ones (holes) as level 2 lakes. STEP
keeps every STEP-th point (and always the first and last) to make a coarser
resolution.
"""
import os
import sys

import shapefile  # python3-pyshp

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "fixtures", "gshhs"))
import gshhs_writer  # noqa: E402


def signed_area(points):
    return 0.5 * sum(x1 * y2 - x2 * y1 for (x1, y1), (x2, y2) in zip(points, points[1:] + points[:1]))


def main():
    source, target, step = sys.argv[1], sys.argv[2], int(sys.argv[3])
    polygons = []
    reader = shapefile.Reader(source)
    for shape in reader.shapes():
        parts = list(shape.parts) + [len(shape.points)]
        for start, end in zip(parts, parts[1:]):
            ring = [tuple(p[:2]) for p in shape.points[start:end]]
            if len(ring) > 1 and ring[0] == ring[-1]:
                ring = ring[:-1]
            kept = ring[::step]
            if ring and kept[-1] != ring[-1]:
                kept.append(ring[-1])
            if len(kept) < 3:
                continue
            area = signed_area(ring)
            level = 1 if area < 0 else 2
            polygons.append(dict(id=len(polygons), level=level, version=7, points=kept,
                                 area=int(abs(area) * 12364 * 10)))  # about 1/10 km^2 at 36N
    os.makedirs(os.path.dirname(os.path.abspath(target)), exist_ok=True)
    gshhs_writer.write(target, polygons)
    print(f"{target}: {len(polygons)} polygons, {sum(len(p['points']) for p in polygons)} points")


if __name__ == "__main__":
    main()
