#!/usr/bin/python3
"""Writes the shapefile that bench/shapes_bench.cpp reads: 200,000 small
polygons (about 91 MB of .shp) with five fields (about 27 MB of .dbf), the
same bytes on every run.

usage: bench/make_polygons.py [OUT_DIR [COUNT]]

OUT_DIR defaults to build-data/bench under the source tree, which git
ignores; the files are OUT_DIR/polygons.{shp,shx,dbf,prj,cpg}. COUNT
(200,000 unless given) writes that many polygons on a grid fine enough for
them instead, into OUT_DIR/polygons_COUNT.*; the 200,000 keep their bytes.
Runs with Debian's python3-pyshp (/usr/bin/python3).

The polygons lie on a grid over the globe between 80 degrees south and
north, each a ring of 15 to 31 points (closed: the first point repeated)
round its grid cell's centre at radii that vary by point, clockwise as the
format wants exteriors; every tenth has a counter-clockwise hole of 8
points. Coordinates are full doubles, as projected data turned into degrees
give them. The fields: ID (N 9), NAME (C 96, one in ten with letters beyond
ASCII, in UTF-8, which the .cpg names), AREA (N 19.8), SURVEYED (D, one in
fifty blank) and ACTIVE (L, one in thirteen unknown). The .prj names
geographic coordinates on WGS 84, which neither reader transforms.
"""

import datetime
import math
import os
import random
import sys

import shapefile

COUNT = 200_000
WEST, EAST, SOUTH, NORTH = -179.5, 179.5, -80.0, 80.0

PRJ = ('GEOGCS["GCS_WGS_1984",DATUM["D_WGS_1984",SPHEROID["WGS_1984",6378137.0,298.257223563]],'
       'PRIMEM["Greenwich",0.0],UNIT["Degree",0.0174532925199433]]')

WORDS = ['North', 'South', 'East', 'West', 'Upper', 'Lower', 'Old', 'New', 'Great', 'Little', 'Saint', 'Lake',
         'Hill', 'Field', 'Marsh', 'Harbour', 'Bridge', 'Forest', 'Valley', 'Island', 'Creek', 'Meadow']
# Names beyond ASCII, in UTF-8 once written.
PLACES = ['Tromsø', 'Zürich', 'Škofja Loka', 'Łódź', 'Ærøskøbing', 'Göteborg', 'Kraków', 'Besançon', 'Ålesund',
          'Ilulissat Kangerlua']


def ring(rng, cx, cy, radius, n, clockwise):
    """n points round (cx, cy), closed, in the direction asked."""
    points = []
    for k in range(n):
        a = 2 * math.pi * (k + rng.uniform(-0.3, 0.3)) / n
        r = radius * rng.uniform(0.7, 1.0)
        points.append([cx + r * math.cos(a), cy + r * math.sin(a)])
    if clockwise:
        points.reverse()
    points.append(list(points[0]))
    return points


def signed_area(points):
    return sum(p[0] * q[1] - q[0] * p[1] for p, q in zip(points, points[1:])) / 2


def main():
    top = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    out_dir = sys.argv[1] if len(sys.argv) > 1 else os.path.join(top, 'build-data', 'bench')
    count = int(sys.argv[2]) if len(sys.argv) > 2 else COUNT
    if count < 1:
        sys.exit('COUNT is a whole number of polygons, 1 or more')
    os.makedirs(out_dir, exist_ok=True)
    base = os.path.join(out_dir, 'polygons' if count == COUNT else f'polygons_{count}')
    rng = random.Random(20261207)
    # A grid of about five columns to four rows with room for every polygon:
    # 500 by 400 for 200,000.
    columns = math.ceil(math.sqrt(count * 5 / 4))
    rows = math.ceil(count / columns)
    cell_x = (EAST - WEST) / columns
    cell_y = (NORTH - SOUTH) / rows
    w = shapefile.Writer(base, shapeType=shapefile.POLYGON, encoding='utf-8')
    w.field('ID', 'N', 9, 0)
    w.field('NAME', 'C', 96)
    w.field('AREA', 'N', 19, 8)
    w.field('SURVEYED', 'D')
    w.field('ACTIVE', 'L')
    first_day = datetime.date(1990, 1, 1)
    for i in range(count):
        row, column = divmod(i, columns)
        cx = WEST + (column + 0.5) * cell_x
        cy = SOUTH + (row + 0.5) * cell_y
        radius = 0.45 * min(cell_x, cell_y)
        exterior = ring(rng, cx, cy, radius, 15 + (i * 7) % 17, True)
        rings = [exterior]
        if i % 10 == 0:
            rings.append(ring(rng, cx, cy, radius * 0.3, 8, False))
        w.poly(rings)
        area = -sum(signed_area(r) for r in rings)
        if i % 10 == 3:
            name = PLACES[i // 10 % len(PLACES)] + ' ' + str(i)
        else:
            name = ' '.join(rng.choice(WORDS) for _ in range(1 + i % 4)) + ' ' + str(i)
        surveyed = None if i % 50 == 7 else first_day + datetime.timedelta(days=rng.randrange(12000))
        active = None if i % 13 == 5 else rng.random() < 0.5
        w.record(i, name, round(area, 8), surveyed, active)
    w.close()
    # The table's header holds the day it was written; a fixed one keeps the bytes the same on every day.
    with open(base + '.dbf', 'r+b') as f:
        f.seek(1)
        f.write(bytes([2000 - 1900, 1, 1]))
    with open(base + '.prj', 'w') as f:
        f.write(PRJ)
    with open(base + '.cpg', 'w') as f:
        f.write('UTF-8')
    for ext in ('shp', 'dbf'):
        print(f'{base}.{ext}: {os.path.getsize(base + "." + ext)} bytes')


if __name__ == '__main__':
    main()
