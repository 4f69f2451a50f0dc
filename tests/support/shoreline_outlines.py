#!/usr/bin/python3
"""Asks GEOS (shapely) whether the outlines of a shoreline file are simple.

usage: shoreline_outlines.py FILE.b

Reads the file with struct alone (big-endian headers of 36 or 44 bytes by
version, points in micro-degrees), makes each polygon's longitudes
continuous, and prints one line per polygon that GEOS finds invalid (its id
and why), then "checked N invalid M". A polygon that goes round a pole is
judged as stored: its longitudes run a whole turn and it closes along the pole.
"""
import struct
import sys

from shapely.geometry import Polygon
from shapely.validation import explain_validity


def polygons(data, with_level=False):
    """Each polygon's id (and level, with_level) and points in degrees."""
    pos = 0
    while pos < len(data):
        pid, n, flag = struct.unpack(">iiI", data[pos:pos + 12])
        pos += 44 if (flag >> 8) & 255 > 3 else 36
        xy = struct.unpack(f">{2 * n}i", data[pos:pos + 8 * n])
        pos += 8 * n
        points = [(xy[2 * i] * 1e-6, xy[2 * i + 1] * 1e-6) for i in range(n)]
        yield (pid, flag & 255, points) if with_level else (pid, points)


def continuous(points):
    out = [points[0]]
    for x, y in points[1:]:
        x += 360 * round((out[-1][0] - x) / 360)
        out.append((x, y))
    return out


def main():
    checked = invalid = 0
    for pid, points in polygons(open(sys.argv[1], "rb").read()):
        checked += 1
        if len(points) < 3:
            why = "fewer than three points"
        else:
            shape = Polygon(continuous(points))
            if shape.is_valid:
                continue
            why = explain_validity(shape)
        invalid += 1
        print(pid, why)
    print("checked", checked, "invalid", invalid)


if __name__ == "__main__":
    main()
