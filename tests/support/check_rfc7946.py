#!/usr/bin/python3
"""A strict check of GeoJSON files against RFC 7946.

    check_rfc7946.py [--no-geos] FILE...

Prints one line per problem and exits 1 when there is any; prints nothing
and exits 0 when every file passes. Checked: the object types and members;
positions of two or three finite numbers, longitude within -180..180 and
latitude within -90..90; line strings of two or more positions; polygon
rings closed, of four or more positions, exteriors counter-clockwise and
holes clockwise; no segment that spans half a turn of longitude or more (a
feature that crosses the antimeridian must be cut there); a bbox on every
feature and on the collection, equal to the smallest box, across the
antimeridian when that is smaller, holding every position; every geometry
valid by GEOS (shapely), unless --no-geos is given (for copies of files
whose own shapes may be invalid).
"""
import json
import math
import sys

from shapely.geometry import shape

TOLERANCE = 1e-9
EDGE = 1e-5  # degrees from the antimeridian that still count as the map's edge


class Checker:
    def __init__(self, name, geos=True):
        self.name = name
        self.geos = geos
        self.problems = []

    def fail(self, where, what):
        self.problems.append("%s: %s: %s" % (self.name, where, what))

    def position(self, where, p):
        if not isinstance(p, list) or len(p) not in (2, 3):
            self.fail(where, "a position is two or three numbers, not %r" % (p,))
            return False
        for v in p:
            if isinstance(v, bool) or not isinstance(v, (int, float)) or not math.isfinite(v):
                self.fail(where, "position %r holds a value that is not a finite number" % (p,))
                return False
        if not -180 <= p[0] <= 180:
            self.fail(where, "longitude %r outside -180..180" % p[0])
        if not -90 <= p[1] <= 90:
            self.fail(where, "latitude %r outside -90..90" % p[1])
        return True

    def run(self, where, run, minimum):
        if not isinstance(run, list) or len(run) < minimum:
            self.fail(where, "needs %d or more positions" % minimum)
            return False
        if not all(self.position(where, p) for p in run):
            return False
        for a, b in zip(run, run[1:]):
            # A side that runs along a parallel from one edge of the map to
            # the other (a cap round a pole) crosses nothing.
            edge_to_edge = abs(a[0]) >= 180 - EDGE and abs(b[0]) >= 180 - EDGE and a[1] == b[1]
            if abs(b[0] - a[0]) >= 180 and not edge_to_edge:
                self.fail(where, "segment %r to %r spans half a turn or more of longitude" % (a, b))
        return True

    def ring(self, where, ring, exterior):
        if not self.run(where, ring, 4):
            return
        if ring[0][:2] != ring[-1][:2]:
            self.fail(where, "ring not closed: %r .. %r" % (ring[0], ring[-1]))
            return
        area2 = sum(a[0] * b[1] - b[0] * a[1] for a, b in zip(ring, ring[1:]))
        if area2 == 0:
            return  # a ring that bounds no area has no orientation (a wall of a patch seen from above)
        if exterior and not area2 > 0:
            self.fail(where, "exterior ring is not counter-clockwise (twice the area %g)" % area2)
        if not exterior and not area2 < 0:
            self.fail(where, "hole is not clockwise (twice the area %g)" % area2)

    def geometry(self, where, g):
        """The runs of the geometry (lists of positions), for the bbox."""
        if not isinstance(g, dict) or "type" not in g:
            self.fail(where, "geometry is not an object with a type")
            return []
        kind, c = g["type"], g.get("coordinates")
        runs = []
        if kind == "Point":
            if self.position(where, c):
                runs = [[c]]
        elif kind == "MultiPoint":
            runs = [[p] for p in c if self.position(where, p)]
        elif kind == "LineString":
            if self.run(where, c, 2):
                runs = [c]
        elif kind == "MultiLineString":
            runs = [r for i, r in enumerate(c) if self.run("%s line %d" % (where, i), r, 2)]
        elif kind in ("Polygon", "MultiPolygon"):
            polygons = [c] if kind == "Polygon" else c
            for i, rings in enumerate(polygons):
                if not isinstance(rings, list) or not rings:
                    self.fail(where, "polygon %d has no rings" % i)
                    continue
                for j, r in enumerate(rings):
                    self.ring("%s polygon %d ring %d" % (where, i, j), r, j == 0)
                runs.append(rings[0])
        elif kind == "GeometryCollection":
            for i, member in enumerate(g.get("geometries", [])):
                runs += self.geometry("%s member %d" % (where, i), member)
            return runs
        else:
            self.fail(where, "unknown geometry type %r" % kind)
            return []
        if kind != "Point" and self.geos and not self.problems_in(where):
            geometry = shape(g)
            if not geometry.is_valid:
                from shapely.validation import explain_validity
                self.fail(where, "not valid: " + explain_validity(geometry))
        return runs

    def problems_in(self, where):
        return any((": %s" % where) in p for p in self.problems)

    def bbox(self, where, box, runs):
        if not runs:
            return
        if not isinstance(box, list) or len(box) != 4:
            self.fail(where, "no bbox of four numbers")
            return
        expected = smallest_box(runs)
        if any(abs(a - b) > TOLERANCE for a, b in zip(box, expected)):
            self.fail(where, "bbox %r, the smallest box is %r" % (box, expected))

    def collection(self, data):
        if not isinstance(data, dict) or data.get("type") != "FeatureCollection":
            self.fail("top", "not a FeatureCollection")
            return
        features = data.get("features")
        if not isinstance(features, list):
            self.fail("top", "features is not an array")
            return
        everything = []
        for i, f in enumerate(features):
            where = "feature %d" % i
            if not isinstance(f, dict) or f.get("type") != "Feature":
                self.fail(where, "not a Feature")
                continue
            if not isinstance(f.get("properties"), dict) and f.get("properties") is not None:
                self.fail(where, "properties is neither an object nor null")
            if f.get("geometry") is None:
                continue
            runs = self.geometry(where, f["geometry"])
            self.bbox(where, f.get("bbox"), runs)
            everything += runs
        self.bbox("collection", data.get("bbox"), everything)


def smallest_box(runs):
    """West, south, east, north of the smallest box holding every run (each
    run taken as the longitudes between its own extremes); west > east when
    the box is smaller across the antimeridian."""
    spans = sorted((min(p[0] for p in r), max(p[0] for p in r)) for r in runs)
    south = min(p[1] for r in runs for p in r)
    north = max(p[1] for r in runs for p in r)
    merged = []
    for lo, hi in spans:
        if merged and lo <= merged[-1][1]:
            merged[-1][1] = max(merged[-1][1], hi)
        else:
            merged.append([lo, hi])
    # The box leaves out the widest empty stretch of longitude.
    best = (merged[0][0] + 360 - merged[-1][1], merged[0][0], merged[-1][1])
    for a, b in zip(merged, merged[1:]):
        if b[0] - a[1] > best[0]:
            best = (b[0] - a[1], b[0], a[1])
    return [best[1], south, best[2], north]


def main(args):
    paths, geos = list(args), True
    if paths and paths[0] == "--no-geos":
        geos, paths = False, paths[1:]
    problems = []
    for path in paths:
        checker = Checker(path, geos)
        try:
            with open(path) as f:
                data = json.load(f)
        except (OSError, ValueError) as e:
            problems.append("%s: not JSON: %s" % (path, e))
            continue
        checker.collection(data)
        problems += checker.problems
    for p in problems[:50]:
        print(p)
    if len(problems) > 50:
        print("... and %d more" % (len(problems) - 50))
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
