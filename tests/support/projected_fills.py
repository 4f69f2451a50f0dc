#!/usr/bin/python3
"""Checks the land of a projected map that vorpix draws against a picture
made by another route: the shoreline file read with struct, its land clipped
to the map's box by GEOS (shapely), projected by pyproj and filled by Pillow.

usage: projected_fills.py TOOL SHORELINE_FILE PROJECTION WIDTH

Runs "TOOL render --proj PROJECTION" with the file's land alone
(Antarctica by its grounding line), no graticule and no legend, and compares
the two pictures pixel by pixel: land, sea and the page beyond the map's
edge must agree everywhere but within two pixels of an edge (outlines and
antialiasing), and a line where there is no edge (a seam) is a difference.
Prints "PROJECTION: N pixels compared, M differ (K allowed), S on the seam",
names the first differing pixels, and exits 1 when more than one in 5,000
differ or any pixel of a polar map's seam is not the land's own colour.
"""
import math
import os
import subprocess
import sys
import tempfile

import pyproj
from PIL import Image, ImageChops, ImageDraw, ImageFilter
from shapely.geometry import Polygon, box

from shoreline_outlines import continuous, polygons

MARGIN = 36  # the pixels vorpix keeps round a projected map
STEP = 0.5  # degrees between the points of a long edge

# Each projection as PROJ states it, centred on longitude 0, the box of the
# globe its map shows, and its central longitude.
def projection(name):
    words = name.split("/")
    if words[0] == "south-polar":
        reach = float(words[1]) if len(words) > 1 else 50
        return "+proj=stere +lat_0=-90 +lat_ts=-71 +ellps=WGS84", (-180, 180, -90, -reach), 0
    if words[0] == "north-polar":
        reach = float(words[1]) if len(words) > 1 else 50
        return "+proj=stere +lat_0=90 +lat_ts=70 +ellps=WGS84", (-180, 180, reach, 90), 0
    if words[0] == "laea":
        lon, lat = float(words[1]), float(words[2])
        return (f"+proj=laea +lat_0={lat} +ellps=WGS84", (lon - 45, lon + 45, max(lat - 35, -90), min(lat + 35, 90)),
                lon)
    lon = float(words[1]) if len(words) > 1 else 0
    if words[0] == "utm":
        zone = int(words[1].rstrip("ns"))
        lon = -183 + 6 * zone
        return "+proj=tmerc +k=0.9996 +x_0=500000 +ellps=WGS84", (lon - 6, lon + 6, 0, 84), lon
    world = {"mollweide": "+proj=moll +R=6371008.8", "robinson": "+proj=robin +R=6371008.8",
             "equal-earth": "+proj=eqearth +ellps=WGS84", "mercator": "+proj=merc +ellps=WGS84"}[words[0]]
    limit = 85.0511287798066 if words[0] == "mercator" else 90
    return world, (lon - 180, lon + 180, -limit, limit), lon


def land(data):
    """Land as lists of (lon, lat), longitudes made continuous: level 1, and
    level 6, Antarctica's grounding line and the islands within its ice."""
    for _, level, points in polygons(data, with_level=True):
        if level in (1, 6) and len(points) >= 3:
            yield continuous(points)


def pieces(points, frame):
    """The polygon clipped to the frame by GEOS, with copies a turn away; a
    ring that goes round a pole is unrolled over three turns and closed
    along the pole first."""
    west, east, south, north = frame
    window = box(west, south, east, north)
    lons = [p[0] for p in points]
    turns = round((points[-1][0] - points[0][0] + ((points[0][0] - points[-1][0] + 180) % 360 - 180)) / 360)
    if turns != 0:
        pole = -90 if sum(p[1] for p in points) < 0 else 90
        ring = [(lon + 360 * k * turns, lat) for k in (-2, -1, 0, 1) for lon, lat in points]
        ring += [(ring[-1][0], pole), (ring[0][0], pole)]
        shapes = [Polygon(ring).buffer(0)]
    else:
        base = Polygon(points).buffer(0)
        shapes = []
        for k in (-2, -1, 0, 1, 2):
            if min(lons) + 360 * k <= east and max(lons) + 360 * k >= west:
                shapes.append(Polygon([(x + 360 * k, y) for x, y in base.exterior.coords]))
    for shape in shapes:
        cut = shape.intersection(window)
        for part in getattr(cut, "geoms", [cut]):
            if part.geom_type == "Polygon" and not part.is_empty:
                yield part


def densified(coords):
    out = [coords[0]]
    for (x0, y0), (x1, y1) in zip(coords, coords[1:]):
        steps = max(1, math.ceil(max(abs(x1 - x0), abs(y1 - y0)) / STEP))
        out += [(x0 + (x1 - x0) * i / steps, y0 + (y1 - y0) * i / steps) for i in range(1, steps + 1)]
    return out


def main():
    tool, shore, name, width = sys.argv[1], sys.argv[2], sys.argv[3], int(sys.argv[4])
    definition, frame, centre = projection(name)
    proj = pyproj.Proj(definition)
    west, east, south, north = frame

    # Longitudes are taken from the centre, so that both edges of a map cut
    # half a turn from it keep their sides.
    def project(coords):
        xs, ys = proj([c[0] - centre for c in coords], [c[1] for c in coords])
        return list(zip(xs, ys))

    edge = project(densified([(west, south), (east, south), (east, north), (west, north), (west, south)]))
    x0, x1 = min(p[0] for p in edge), max(p[0] for p in edge)
    y0, y1 = min(p[1] for p in edge), max(p[1] for p in edge)
    scale = (width - 2 * MARGIN) / (x1 - x0)
    height = round((y1 - y0) * scale + 2 * MARGIN)

    def pixels(coords):
        return [((x - x0) * scale + MARGIN, (y1 - y) * scale + MARGIN) for x, y in project(densified(coords))]

    # 0 the page, 1 the sea, 2 the land.
    want = Image.new("L", (width, height), 0)
    draw = ImageDraw.Draw(want)
    draw.polygon(pixels([(west, south), (east, south), (east, north), (west, north), (west, south)]), fill=1)
    with open(shore, "rb") as f:
        data = f.read()
    for points in land(data):
        for part in pieces(points, frame):
            draw.polygon(pixels(list(part.exterior.coords)), fill=2)
            for hole in part.interiors:
                draw.polygon(pixels(list(hole.coords)), fill=1)

    with tempfile.TemporaryDirectory() as scratch:
        out = os.path.join(scratch, "map.png")
        env = dict(os.environ, VORPIX_DATA_PATH=os.path.dirname(os.path.dirname(os.path.dirname(shore))))
        res = os.path.basename(shore)[len("gshhs_")]
        subprocess.run([tool, "render", "--proj", name, "--res", res, "--kinds", "f:1", "--antarctica",
                        "grounding-line", "--no-graticule", "--legend", "none", "--width", str(width), "-o", out],
                       check=True, env=env)
        got = Image.open(out).convert("RGB")
    if os.environ.get("PROJECTED_FILLS_KEEP"):
        keep = os.environ["PROJECTED_FILLS_KEEP"]
        want.point(lambda v: v * 120).save(keep + "-other.png")
        got.save(keep + "-vorpix.png")
    if got.size != want.size:
        print(f"{name}: vorpix drew {got.size[0]} x {got.size[1]} pixels, the other route {width} x {height}")
        return 1

    # vorpix's page is white, its sea blue, its land and the land's
    # outlines tan and brown.
    def kind(rgb):
        r, g, b = rgb
        if r > 250 and g > 250 and b > 250:
            return 0
        return 1 if b > r else 2

    # Pixels within two of a change of kind are edges.
    edges = want.filter(ImageFilter.MaxFilter(5)).point(lambda v: v * 64)
    edges = ImageChops.difference(edges, want.filter(ImageFilter.MinFilter(5)).point(lambda v: v * 64))
    compared = differ = 0
    shown = []
    wp, gp, ep = want.load(), got.load(), edges.load()
    for y in range(height):
        for x in range(width):
            if ep[x, y]:
                continue
            compared += 1
            if kind(gp[x, y]) != wp[x, y]:
                differ += 1
                shown.append(f"({x}, {y}): vorpix {gp[x, y]}, other route {'page sea land'.split()[wp[x, y]]}")
    # Where a polar map's edges meet along a meridian (its seam), the land
    # is its fill's own colour: no line is drawn there.
    seamed = 0
    if abs((east - west) - 360) < 1e-9 and (south == -90 or north == 90):
        seam = pixels([(west, south + (north - south) * i / 400) for i in range(401)])
        for x, y in {(int(x), int(y)) for x, y in seam}:
            if 0 <= x < width and 0 <= y < height and not ep[x, y] and wp[x, y] == 2:
                if sum(abs(a - b) for a, b in zip(gp[x, y], (242, 230, 196))) > 12:
                    seamed += 1
                    shown.insert(0, f"({x}, {y}) on the seam: vorpix {gp[x, y]}, other route land")
    # Islands a few pixels across are all edge: where their outlines meet,
    # a pixel or two of them may take the sea's colour.
    allowed = compared // 5000
    print(f"{name}: {compared} pixels compared, {differ} differ ({allowed} allowed), {seamed} on the seam")
    for line in shown[:5]:
        print("  " + line)
    return 1 if differ > allowed or seamed else 0


if __name__ == "__main__":
    sys.exit(main())
