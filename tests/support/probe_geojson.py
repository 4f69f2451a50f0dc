#!/usr/bin/python3
"""Tells what lies at points of a map in GeoJSON, by GEOS (shapely).

    probe_geojson.py FILE LON,LAT...

Prints, per point, the highest "level" property among the features of kind
"f" whose geometry holds the point (0 when none does), separated by blanks:
1 is land, 2 a lake, 3 an island in a lake, 4 a pond on such an island.
"""
import json
import sys

from shapely.geometry import Point, shape
from shapely.prepared import prep


def main(path, points):
    features = [(f["properties"]["level"], prep(shape(f["geometry"])))
                for f in json.load(open(path))["features"] if f["properties"].get("kind") == "f"]
    levels = []
    for text in points:
        lon, lat = (float(v) for v in text.split(","))
        p = Point(lon, lat)
        levels.append(max([level for level, g in features if g.contains(p)], default=0))
    print(" ".join(str(v) for v in levels))


if __name__ == "__main__":
    main(sys.argv[1], sys.argv[2:])
