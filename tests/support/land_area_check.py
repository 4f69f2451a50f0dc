#!/usr/bin/python3
"""Checks the land area that "vorpix coast" fills in boxes round Antarctica
and in the whole world against the source of the shorelines.

    land_area_check.py TOOL RES SHORELINE.b SOURCE.json

SOURCE.json holds what tests/fixtures/gshhs/make_source_areas.py read from
the source's binned file: each southern polygon's level, Antarctic flag, area
and extent, and the areas of the rest by level. The land a box should hold is
the sum of the areas of the polygons that lie wholly inside it (lakes and
ponds taken away), as the source gives them; a polygon that the box cuts is
clipped by GEOS from SHORELINE.b and measured. Which polygons count follows
the outline asked for: the ice front takes every polygon of the Antarctic set
and leaves out the grounding line (level 6); the grounding line takes level 6
and the Antarctic set's islands, and leaves out the ice fronts, the flagged
polygons whose extent holds grounding-line polygons. Areas are measured on
the WGS84 ellipsoid by pyproj with geodesic edges, as the source's areas are,
except edges along a parallel (the box's edges among them), which are cut
into quarter degrees first.

Prints one line per box and outline and exits 1 when any is off by more than
its tolerance.
"""
import json
import os
import subprocess
import sys
import tempfile

from pyproj import Geod
from shapely.affinity import translate
from shapely.geometry import Polygon, box

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from exact_clip_oracle import read_shorelines, unwrap  # noqa: E402

GEOD = Geod(ellps="WGS84")

# Off by at most this share of the expected area.
TOLERANCE = 0.001
BOXES = [
    ("South Shetlands", (-63.0, -53.5, -63.05, -60.8)),
    ("South Orkneys", (-47.0, -44.0, -61.2, -60.2)),
    ("Peninsula", (-80.0, -53.0, -70.0, -60.0)),
    ("Antarctica", (-180.0, 180.0, -90.0, -60.0)),
    ("world", (-180.0, 180.0, -90.0, 90.0)),
]


def ring_area(coords):
    lons, lats = [], []
    for (x0, y0), (x1, y1) in zip(coords, coords[1:] + coords[:1]):
        n = max(1, int(abs(x1 - x0) / 0.25)) if y0 == y1 else 1
        lons.extend(x0 + (x1 - x0) * k / n for k in range(n))
        lats.extend(y0 + (y1 - y0) * k / n for k in range(n))
    return abs(GEOD.polygon_area_perimeter(lons, lats)[0]) / 1e6


def shape_area(shape):
    parts = getattr(shape, "geoms", [shape])
    return sum(ring_area(list(p.exterior.coords)[:-1]) - sum(ring_area(list(h.coords)[:-1]) for h in p.interiors)
               for p in parts if p.geom_type == "Polygon")


def output_area(path):
    total = 0.0
    for feature in json.load(open(path))["features"]:
        sign = 1 if feature["properties"]["level"] % 2 else -1
        geometry = feature["geometry"]
        polygons = geometry["coordinates"] if geometry["type"] == "MultiPolygon" else [geometry["coordinates"]]
        for rings in polygons:
            total += sign * (ring_area(rings[0][:-1]) - sum(ring_area(r[:-1]) for r in rings[1:]))
    return total


def plane(points):
    points = unwrap(points)
    if abs(points[-1][0] - points[0][0]) > 180:  # round the pole: close along it
        points = points + [(points[-1][0], -90.0), (points[0][0], -90.0)]
    return Polygon(points).buffer(0)


def relation(extent, frame):
    """'inside', 'outside' or 'cut': where an extent lies, moved by whole turns, against the box."""
    west, east, south, north = extent
    fw, fe, fs, fn = frame
    if south >= fs and north <= fn and (east - west >= 360 and fe - fw >= 360 or
                                        any(west + k >= fw and east + k <= fe for k in (-720, -360, 0, 360))):
        return "inside"
    if south > fn or north < fs or not any(west + k < fe and east + k > fw for k in (-720, -360, 0, 360)):
        return "outside"
    return "cut"


def counted(source, outline):
    """(id, sign, area, extent) of each southern polygon that the outline shows as land or water."""
    southern = source["southern"]
    grounding = [p["extent"] for p in southern if p["level"] == 6]

    def holds(outer, inner):
        return outer[0] <= inner[0] and inner[1] <= outer[1] and outer[2] <= inner[2] and inner[3] <= outer[3]

    out = []
    for p in southern:
        front = p["antarctic"] and any(holds(p["extent"], g) for g in grounding)
        if outline == "ice-front" and p["level"] == 6 or outline == "grounding-line" and front:
            continue
        level = 1 if p["level"] == 6 else p["level"]
        out.append((p["id"], 1 if level % 2 else -1, p["area"], p["extent"]))
    return out


def expected(source, outline, frame, polygons):
    fw, fe, fs, fn = frame
    total = 0.0
    if fs <= -90 and fn >= 90:
        total += sum((1 if int(level) % 2 else -1) * area for level, area in source["world_north_of_50s"].items())
    for pid, sign, area, extent in counted(source, outline):
        where = relation(extent, frame)
        if where == "inside":
            total += sign * area
        elif where == "cut":
            shape = plane(polygons[pid])
            total += sign * sum(shape_area(translate(shape, k).intersection(box(fw, fs, fe, fn)))
                                for k in (-720, -360, 0, 360))
    return total


def main():
    tool, res, shorelines, source_path = sys.argv[1:5]
    source = json.load(open(source_path))
    polygons = {pid: points for pid, level, points in read_shorelines(shorelines)}
    failed = False
    with tempfile.TemporaryDirectory() as tmp:
        out = os.path.join(tmp, "out.geojson")
        for name, frame in BOXES:
            for outline in ("ice-front", "grounding-line"):
                subprocess.run([tool, "coast", "--res", res, "--kinds", "f:0", "--antarctica", outline, "--box",
                                "/".join(str(v) for v in frame), "-o", out], check=True)
                got, want = output_area(out), expected(source, outline, frame, polygons)
                off = abs(got - want) / want if want else (0 if got < 1e-3 else float("inf"))
                bad = off > TOLERANCE
                failed |= bad
                print(f"{'FAIL' if bad else 'ok'} {res} {name} {outline}: {got:.1f} km2, source {want:.1f} km2, "
                      f"off {100 * off:.4f}% (within {100 * TOLERANCE:g}%)")
    sys.exit(1 if failed else 0)


if __name__ == "__main__":
    main()
