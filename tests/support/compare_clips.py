#!/usr/bin/python3
"""Checks clips of polygons to boxes against GEOS (shapely).

    compare_clips.py CASES

Each line of CASES is "WEST SOUTH EAST NORTH;INPUT;CLIP", INPUT a POLYGON and
CLIP a MULTIPOLYGON in WKT. The clip must be valid, have counter-clockwise
exteriors and clockwise holes, and cover the same ground as the input
intersected with the box (symmetric difference below 1e-12 square units).
Prints "N cases" and exits 0, or one line per failing case and exits 1.
"""
import sys

from shapely import wkt
from shapely.geometry import box
from shapely.validation import explain_validity


def area2(coords):
    return sum(a[0] * b[1] - b[0] * a[1] for a, b in zip(coords, coords[1:]))


def main(path):
    problems, count = [], 0
    for number, line in enumerate(open(path), 1):
        frame, source, clip = line.rstrip("\n").split(";")
        count += 1
        west, south, east, north = (float(v) for v in frame.split())
        want = wkt.loads(source).intersection(box(west, south, east, north))
        got = wkt.loads(clip)
        where = "case %d (box %s)" % (number, frame)
        if not got.is_valid:
            problems.append("%s: not valid: %s" % (where, explain_validity(got)))
            continue
        for part in getattr(got, "geoms", []):
            if area2(list(part.exterior.coords)) <= 0:
                problems.append("%s: an exterior is not counter-clockwise" % where)
            if any(area2(list(h.coords)) >= 0 for h in part.interiors):
                problems.append("%s: a hole is not clockwise" % where)
        difference = got.symmetric_difference(want).area
        if difference > 1e-12:
            problems.append("%s: area %g, expected %g, symmetric difference %g" % (where, got.area, want.area, difference))
    for p in problems:
        print(p)
    print("%d cases" % count)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1]))
