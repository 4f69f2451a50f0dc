#!/usr/bin/python3
"""Compares a GeoJSON file written by "vorpix coast --kinds KIND:LEVELS"
with an exact clip made here by GEOS (shapely): filled polygons for kind f,
outlines as lines for kind c.

    exact_clip_oracle.py SHORELINE.b WEST/EAST/SOUTH/NORTH OUT.geojson [KIND:LEVELS [OUTLINE]]

The shoreline file is read by its own reader below. Antarctica is land at
its ice front (level 5), leaving out its grounding line (level 6), unless
OUTLINE is grounding-line, which takes level 6 and leaves out level 5. Every polygon is made
continuous (each edge the short way round); one that goes once round a pole
is closed along that pole. The expected land of a polygon is the union, over
whole turns k, of the polygon moved by 360k and intersected with the box,
where the box runs from WEST eastward to EAST (EAST at or below WEST adds
whole turns). GeoJSON longitudes lie in -180..180, so the box is cut at
every antimeridian and each piece is moved into that range before the
comparison, which is made per polygon id: the symmetric difference must be
below 1e-9 of the polygon's expected area plus 1e-9 square degrees. An
outline is the polygon's boundary without the edges that close it along a
pole; its clip must have the same length and lie within 1e-7 degrees of
the expected one (Hausdorff distance).

Prints "polygons N area A" (for outlines "lines N length L") and exits 0 when all agree; otherwise prints one
line per disagreement and exits 1; a source polygon that GEOS finds invalid
is one.
"""
import json
import math
import struct
import sys

from shapely.affinity import translate
from shapely.geometry import LineString, Polygon, box, shape
from shapely import wkt
from shapely.ops import unary_union
from shapely.validation import explain_validity


def read_shorelines(path):
    data = open(path, "rb").read()
    pos = 0
    while pos < len(data):
        pid, n, flag = struct.unpack(">iiI", data[pos:pos + 12])
        version, level = (flag >> 8) & 255, flag & 255
        head = 44 if version > 3 else 36
        values = struct.unpack(">%di" % (2 * n), data[pos + head:pos + head + 8 * n])
        pos += head + 8 * n
        yield pid, level, [(values[2 * i] / 1e6, values[2 * i + 1] / 1e6) for i in range(n)]


def unwrap(points):
    out = []
    for lon, lat in points:
        if out:
            while lon - out[-1][0] > 180:
                lon -= 360
            while lon - out[-1][0] < -180:
                lon += 360
        out.append((lon, lat))
    return out


def plane_shapes(points, west, east):
    """The polygon and its outline in plane longitude-latitude; for one that
    goes round a pole, long enough to cover the longitudes west..east."""
    ring = unwrap(points)
    lons = [p[0] for p in ring]
    if max(lons) - min(lons) >= 360:
        # Closed along a pole in the file: that closure is rebuilt below.
        ring = unwrap([p for p in ring if abs(p[1]) < 90])
    if len(ring) < 3:
        return None, None
    closing = ring[0][0] - ring[-1][0]
    closing -= 360 * round(closing / 360)
    travel = ring[-1][0] + closing - ring[0][0]
    if abs(travel) < 1:
        return Polygon(ring), LineString(ring + [ring[0]])
    if travel < 0:
        ring = ring[::-1]
    lats = [p[1] for p in ring]
    pole = -90 if min(lats) + max(lats) < 0 else 90
    first = math.floor((west - max(p[0] for p in ring)) / 360) - 1
    last = math.ceil((east - min(p[0] for p in ring)) / 360) + 1
    chain = [(lon + 360 * k, lat) for k in range(first, last + 1) for lon, lat in ring]
    chain.append((ring[0][0] + 360 * (last + 1), ring[0][1]))
    return Polygon(chain + [(chain[-1][0], pole), (chain[0][0], pole)]), LineString(chain)


def expected_clip(poly, west, east, south, north):
    """The exact clip as GeoJSON has it: pieces in -180..180."""
    lo, _, hi, _ = poly.bounds
    pieces = []
    if east - west >= 360:
        frames = [(-180.0, 180.0, 0)]
    else:
        frames, a = [], west
        while a < east:
            k = math.floor((a + 180) / 360)
            b = min(east, 180 + 360 * k)
            frames.append((a - 360 * k, b - 360 * k, k))
            a = b
    for a, b, _ in frames:
        clip = box(a, south, b, north)
        for k in range(math.floor((a - hi) / 360) - 1, math.ceil((b - lo) / 360) + 2):
            part = translate(poly, 360 * k).intersection(clip)
            if not part.is_empty and (part.area > 0 or part.length > 0):
                # A line round a pole is drawn over several turns, so copies a
                # turn apart meet in the box; rounded alike, the union keeps one.
                pieces.append(part if part.area > 0 else wkt.loads(wkt.dumps(part, rounding_precision=9)))
    return unary_union(pieces) if pieces else None


def main(args):
    path, frame, geojson = args[:3]
    kind, _, levels = (args[3] if len(args) > 3 else "f:0").partition(":")
    levels = int(levels or 0)
    dropped = 6 if (args[4] if len(args) > 4 else "ice-front") == "ice-front" else 5
    lines = kind == "c"
    west, east, south, north = (float(v) for v in frame.split("/"))
    if east <= west:
        east += 360 * (math.floor((west - east) / 360) + 1)
    east = min(east, west + 360)
    got = {}
    for f in json.load(open(geojson))["features"]:
        if f["properties"].get("kind") == kind:
            got.setdefault(f["properties"]["id"], []).append(shape(f["geometry"]))
    problems, count, total = [], 0, 0.0
    measure = (lambda g: g.length) if lines else (lambda g: g.area)
    for pid, level, points in read_shorelines(path):
        if level == dropped:
            continue
        level = 1 if level in (5, 6) else level
        if levels and not (levels >> (level - 1)) & 1:
            continue
        poly, outline = plane_shapes(points, west, east)
        if poly is None:
            continue
        if not lines and not poly.is_valid:
            problems.append("polygon %d: not valid in the source: %s" % (pid, explain_validity(poly)))
            got.pop(pid, None)
            continue
        want = expected_clip(outline if lines else poly, west, east, south, north)
        have = got.pop(pid, None)
        if want is not None and measure(want) == 0:
            want = None
        if want is None:
            if have is not None and measure(unary_union(have)) > 1e-9:
                problems.append("polygon %d: nothing expected, got %g" % (pid, measure(unary_union(have))))
            continue
        count += 1
        total += measure(want)
        if have is None:
            problems.append("polygon %d: expected %g, got nothing" % (pid, measure(want)))
            continue
        have = unary_union(have)
        if lines:
            # Lines that agree to rounding do not overlay exactly: compare
            # their lengths and how far apart they come.
            difference = abs(have.length - want.length) + have.hausdorff_distance(want)
        else:
            difference = have.symmetric_difference(want).area
        if difference > (1e-7 if lines else 1e-9 * want.area + 1e-9):
            problems.append("polygon %d: %.12g expected %.12g, symmetric difference %g" %
                            (pid, measure(have), measure(want), difference))
    for pid in got:
        problems.append("polygon %d: in the GeoJSON but not expected" % pid)
    for p in problems[:40]:
        print(p)
    print("%s %d %s %.12g" % ("lines" if lines else "polygons", count, "length" if lines else "area", total))
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
