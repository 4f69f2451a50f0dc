#!/usr/bin/python3
"""Rebuilds whole shoreline polygons from a binned shoreline file and writes
them as a GSHHS shoreline file (version 12 headers, big-endian).

usage: binned_to_shoreline.py IN.nc OUT.b

IN.nc is one of the binned_GSHHS_?.nc files of Debian's gmt-gshhg packages,
converted to netCDF classic (nccopy -k classic) so that scipy can read it.

The binned file cuts every polygon into pieces at the edges of square bins
and stores each piece's points relative to its bin. Every piece names its
polygon and the pieces of one polygon meet end to end at bin edges, so
following them from end point to start point gives back the polygon's ring.
A ring that winds once round the globe (Antarctica) is opened at longitude 0,
runs eastward to 360 and is closed along the South Pole.

Levels: 1 land, 2 lake, 3 island in a lake, 4 pond. Antarctica comes twice,
as its ice front (level 5: pieces flagged as Antarctic ice front) and as its
grounding line (level 6); readers take one of them.

Header fields: the flag word holds the level, the version (bits 8-15), where
the polygon crosses Greenwich or the 180th meridian (bits 16-17: 1, 2 or 3
for both), the source (bit 24: 1 for ocean shorelines, 0 for lakes and
Antarctica), the river bit (25: a lake that is part of a river) and the area
scale (bits 26-31: 1, areas in tenths of km^2). Extents are in micro-degrees,
west before east; a polygon across Greenwich has a negative west. Points are
stored at longitudes 0 to 360. The container is the enclosing polygon's id
(-1 for none); the ancestor is -1, since the binned files do not say which
full-resolution polygon each one comes from.
"""
import collections
import struct
import sys

import numpy as np
from scipy.io import netcdf_file

MICRO = 10**6
TURN = 360 * MICRO
VERSION = 12
AREA_SCALE = 1  # areas are stored in 10^-1 km^2 (flag bits 26-31)


def read_pieces(path):
    """Yields (polygon id, level, ice-front flag, [(x, y) micro-degrees]) per piece."""
    nc = netcdf_file(path, "r", mmap=False)
    var = {name: v.data.copy() for name, v in nc.variables.items()}
    nc.close()
    bin_size = int(var["Bin_size_in_minutes"][0]) * MICRO // 60
    nlon = int(var["N_bins_in_360_longitude_range"][0])
    packed = var["Embedded_npts_levels_exit_entry_for_a_segment"].astype(np.int64)
    first_point = var["Id_of_first_point_in_a_segment"].astype(np.int64)
    owner = var["Id_of_GSHHS_ID"]
    ice_front = var["Embedded_ANT_flag"]
    # Offsets are fractions 0..65535 of the bin side, stored in signed shorts.
    dx = var["Relative_longitude_from_SW_corner_of_bin"].astype(np.int64) & 0xFFFF
    dy = var["Relative_latitude_from_SW_corner_of_bin"].astype(np.int64) & 0xFFFF
    dx = (dx * bin_size * 2 + 65535) // (2 * 65535)
    dy = (dy * bin_size * 2 + 65535) // (2 * 65535)
    first_seg = var["Id_of_first_segment_in_a_bin"]
    nseg = var["N_segments_in_a_bin"]
    for b in range(len(first_seg)):
        # Bins run eastward from longitude 0 and southward from the North Pole.
        west = (b % nlon) * bin_size
        south = 90 * MICRO - (b // nlon + 1) * bin_size
        for s in range(int(first_seg[b]), int(first_seg[b]) + int(nseg[b])):
            n = int(packed[s] >> 9)
            start = int(first_point[s])
            xs = (west + dx[start:start + n]).tolist()
            ys = (south + dy[start:start + n]).tolist()
            yield int(owner[s]), int((packed[s] >> 6) & 7), int(ice_front[s]), list(zip(xs, ys))


def key(point):
    return point[0] % TURN, point[1]


def chain(pieces):
    """Joins one polygon's pieces end to start into one ring of points.

    Where the outline passes one bin-edge point twice, following pieces from
    end to start may close a loop early; such loops are spliced back into
    the ring at the point they share with it."""
    starts = collections.defaultdict(list)
    for i, piece in enumerate(pieces):
        starts[key(piece[0])].append(i)
    used = [False] * len(pieces)
    loops = []
    for first in range(len(pieces)):
        if used[first]:
            continue
        loop = []
        current = first
        while current is not None:
            used[current] = True
            loop.extend(pieces[current][1:] if loop else pieces[current])
            current = next((i for i in starts[key(loop[-1])] if not used[i]), None)
        if key(loop[0]) != key(loop[-1]) or (len(loop) == 1 and len(pieces[first]) > 1):
            raise ValueError("pieces do not close")
        loops.append(loop[:-1] if len(loop) > 1 else loop)
    ring = loops.pop(0)
    while loops:
        where = {key(p): i for i, p in enumerate(ring)}
        for n, loop in enumerate(loops):
            shared = next((j for j, p in enumerate(loop) if key(p) in where), None)
            if shared is not None:
                break
        else:
            raise ValueError("pieces do not form one ring")
        loop = loops.pop(n)
        i = where[key(loop[shared])]
        ring = ring[:i + 1] + loop[shared + 1:] + loop[:shared] + ring[i:]
    return ring


def drop_spikes(ring):
    """Drops repeated points and out-and-back spikes (a, b, a becomes a).

    Pieces cut at a bin edge sometimes step one unit across it and back;
    joined up, such steps would make the outline touch itself."""
    out = []
    for point in ring:
        if out and key(out[-1]) == key(point):
            continue
        if len(out) >= 2 and key(out[-2]) == key(point):
            out.pop()
            continue
        out.append(point)
    # The same where the ring closes: last point to first.
    while len(out) > 2:
        if key(out[-1]) == key(out[0]):
            out.pop()
        elif key(out[-2]) == key(out[0]):
            del out[-2:]
        elif key(out[-1]) == key(out[1]):
            del out[:2]
        else:
            break
    return out


def unwrap(ring):
    """Longitudes made continuous: each within half a turn of the one before."""
    out = [ring[0]]
    for x, y in ring[1:]:
        p = out[-1][0]
        x += (p - x + TURN // 2) // TURN * TURN
        out.append((x, y))
    return out


def close_round_pole(ring):
    """A ring that winds once round the South Pole, as points from longitude 0
    eastward to 360 followed by the pole edge back to 0."""
    starts = [i for i, (x, _) in enumerate(ring) if x % TURN == 0]
    if not starts:
        raise ValueError("ring round the pole never meets longitude 0")
    ring = ring[starts[0]:] + ring[:starts[0]]
    run = unwrap(ring + ring[:1])
    if run[-1][0] < run[0][0]:
        ring = ring[:1] + ring[:0:-1]
        run = unwrap(ring + ring[:1])
    run = [(x - run[0][0], y) for x, y in run]
    pole = -90 * MICRO
    return run + [(TURN * k // 4, pole) for k in range(4, -1, -1)]


def winding(ring):
    """Whole turns of longitude that a ring makes on its way round."""
    cont = unwrap(ring + ring[:1])
    return (cont[-1][0] - cont[0][0]) // TURN


def crosses(west, east, meridian):
    """Whether the longitudes strictly between west and east include meridian (mod 360)."""
    first_after = meridian + ((west - meridian) // TURN + 1) * TURN
    return first_after < east or east - west >= TURN


def polygon_record(pid, level, points, round_pole, area, area_full, container, source, river):
    if round_pole:
        cont = points
    else:
        cont = unwrap(points)
    xs = [x for x, _ in cont]
    ys = [y for _, y in cont]
    west, east = min(xs), max(xs)
    shift = -(west // TURN) * TURN
    west, east = west + shift, east + shift
    if east > TURN and not round_pole:
        # Extents of a polygon across Greenwich run from a negative west.
        west, east = west - TURN, east - TURN
    greenwich = (1 if crosses(west, east, 0) else 0) | (2 if crosses(west, east, 180 * MICRO) else 0)
    flag = level | VERSION << 8 | greenwich << 16 | source << 24 | river << 25 | AREA_SCALE << 26
    if not round_pole:
        points = [(x % TURN, y) for x, y in points]
    head = struct.pack(">iiIiiiiiiii", pid, len(points), flag, west, east, min(ys), max(ys),
                       area, area_full, container, -1)
    return head + b"".join(struct.pack(">ii", x, y) for x, y in points)


def main():
    source, target = sys.argv[1], sys.argv[2]
    pieces = collections.defaultdict(list)
    levels = {}
    for pid, level, ice, points in read_pieces(source):
        pieces[pid].append(points)
        level = 5 if ice else level
        if levels.setdefault(pid, level) != level:
            raise ValueError(f"polygon {pid} has pieces of levels {levels[pid]} and {level}")
    nc = netcdf_file(source, "r", mmap=False)
    area_km2 = nc.variables["The_km_squared_area_of_polygons"].data.copy()
    fraction = nc.variables["Micro_fraction_of_full_resolution_area"].data.copy()
    parent = nc.variables["Id_of_parent_polygons"].data.copy()
    nc.close()
    out = bytearray()
    npoints = 0
    for pid in range(len(area_km2)):
        ring = chain(pieces[pid])
        cleaned = drop_spikes(ring)
        # A few tiny islands are a bare line at coarse resolutions: they stay as they come.
        ring = cleaned if len(cleaned) >= 3 else ring
        turns = winding(ring)
        if turns not in (0, 1, -1):
            raise ValueError(f"polygon {pid} winds {turns} times round the pole")
        if turns:
            ring = close_round_pole(ring)
        # The file gives the full-resolution area and the share of it that
        # this resolution's polygon keeps, in millionths; a negative area
        # marks a lake that is part of a river.
        river = 1 if area_km2[pid] < 0 else 0
        area_full = int(round(abs(area_km2[pid]) * 10))
        area = int(round(abs(area_km2[pid]) * 10 * int(fraction[pid]) / MICRO))
        wvs = 1 if levels[pid] == 1 else 0
        out += polygon_record(pid, levels[pid], ring, bool(turns), area, area_full, int(parent[pid]), wvs, river)
        npoints += len(ring)
    with open(target, "wb") as f:
        f.write(out)
    print(f"{target}: {len(area_km2)} polygons, {npoints} points")


if __name__ == "__main__":
    main()
