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

Every polygon comes out valid as GEOS judges it: where a simplified outline
crosses itself, the lobe beyond the crossing is turned round, and where a
full-resolution outline passes one point twice, the smaller loop goes (see
untwist); an islet that this resolution keeps as a bare line between two
points gets a third point beside it, enclosing the area the file gives
(sliver).

Levels: 1 land, 2 lake, 3 island in a lake, 4 pond. Antarctica comes twice,
as its ice front (level 5) and as its grounding line (level 6); readers take
one of them. The source flags every polygon of the Antarctic set, but only
those that hold grounding-line polygons are ice fronts: the islands off the
Peninsula and round the coast have no second outline and are plain land
(level 1) in either view. A grounding-line polygon names the ice front that
holds it as its container, which is how a reader that sees it as level 1 (as
level 6 is read) tells it from other land.

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
import math
import struct
import sys

import numpy as np
from scipy.io import netcdf_file
from shapely.affinity import translate
from shapely.geometry import Polygon
from shapely.prepared import prep

MICRO = 10**6
TURN = 360 * MICRO
VERSION = 12
AREA_SCALE = 1  # areas are stored in 10^-1 km^2 (flag bits 26-31)
LONG = 256  # grid cells an edge may cover (see candidate_pairs)
BATCH = 1 << 21  # edges, or pairs of edges, examined at once


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


def sliver(ring, area_km2):
    """A triangle for an outline that has shrunk to a line between two points:
    the line and a third point beside its middle, as far out as makes the
    area this resolution gives for the polygon (at least one unit)."""
    a, b = unwrap(sorted(set(ring), key=ring.index))
    per_degree = 6371.0072 * math.pi / 180
    kx = per_degree * math.cos(math.radians((a[1] + b[1]) / 2e6))
    ux, uy = (b[0] - a[0]) * kx / MICRO, (b[1] - a[1]) * per_degree / MICRO
    out = 2 * area_km2 / (ux * ux + uy * uy)  # the height over the length
    mid = ((a[0] + b[0]) // 2, (a[1] + b[1]) // 2)
    apex = (mid[0] - round(uy * out / kx * MICRO), mid[1] + round(ux * out / per_degree * MICRO))
    if orientation(a, b, apex) <= 0:
        apex = (mid[0] - (uy > 0) + (uy < 0), mid[1] + (ux > 0) - (ux < 0))
    return [a, b, apex]


def orientation(a, b, c):
    v = (b[0] - a[0]) * (c[1] - a[1]) - (b[1] - a[1]) * (c[0] - a[0])
    return (v > 0) - (v < 0)


# The meeting tests work on arrays of micro-degrees as 64-bit integers: the
# products of two coordinate differences stay below 2^57, so they are exact.
def orient(ax, ay, bx, by, cx, cy):
    return np.sign((bx - ax) * (cy - ay) - (by - ay) * (cx - ax))


def within(px, py, qx, qy, rx, ry):
    return ((np.minimum(px, qx) <= rx) & (rx <= np.maximum(px, qx)) &
            (np.minimum(py, qy) <= ry) & (ry <= np.maximum(py, qy)))


def candidate_pairs(lo, hi, ring_of, first, sizes):
    """Pairs (i, j), i < j, of edges of one ring whose extents overlap: every
    pair that can meet. Edges go into square cells twice their ring's median
    edge extent on a side and are paired in the cell that holds the
    south-west corner of their common cells, so each pair comes once; an
    edge across more than LONG cells is tested against its whole ring."""
    extent = (hi - lo).max(axis=1)
    order = np.lexsort((extent, ring_of))
    cell = np.maximum(2 * extent[order[first + sizes // 2]], 1)[ring_of, None]
    g0, g1 = lo // cell, hi // cell
    span = g1 - g0 + 1
    cover = span[:, 0] * span[:, 1]
    short = np.flatnonzero(cover <= LONG)
    counts = cover[short]
    edge = np.repeat(short, counts)
    k = np.arange(edge.size) - np.repeat(np.cumsum(counts) - counts, counts)
    width = span[edge, 0]
    gx, gy, ring = g0[edge, 0] + k % width, g0[edge, 1] + k // width, ring_of[edge]
    order = np.lexsort((edge, gy, gx, ring))
    gx, gy, ring, edge = gx[order], gy[order], ring[order], edge[order]
    change = (np.diff(gx) != 0) | (np.diff(gy) != 0) | (np.diff(ring) != 0)
    ends = np.append(np.flatnonzero(change) + 1, edge.size)
    after = np.repeat(ends, np.diff(ends, prepend=0)) - np.arange(edge.size) - 1
    a = np.repeat(np.arange(edge.size), after)
    b = a + 1 + np.arange(a.size) - np.repeat(np.cumsum(after) - after, after)
    i, j = edge[a], edge[b]
    corner = (gx[a] == np.maximum(g0[i, 0], g0[j, 0])) & (gy[a] == np.maximum(g0[i, 1], g0[j, 1]))
    pairs_i, pairs_j = [i[corner]], [j[corner]]
    for e in np.flatnonzero(cover > LONG).tolist():
        r = ring_of[e]
        own = slice(first[r], first[r] + sizes[r])
        near = np.flatnonzero((lo[own, 0] <= hi[e, 0]) & (hi[own, 0] >= lo[e, 0]) &
                              (lo[own, 1] <= hi[e, 1]) & (hi[own, 1] >= lo[e, 1])) + first[r]
        near = near[near != e]
        pairs_i.append(np.minimum(near, e))
        pairs_j.append(np.maximum(near, e))
    i, j = np.concatenate(pairs_i), np.concatenate(pairs_j)
    overlap = (lo[i] <= hi[j]).all(axis=1) & (lo[j] <= hi[i]).all(axis=1)
    return i[overlap], j[overlap]


def first_meetings(rings):
    """For each closed ring, the first pair (i, j, how) of its edges i < j
    (edge i runs from point i to the next) that meet other than where
    neighbours join, or None. how is "cross" where they cross at a point
    inside both, else "touch"; neighbours touch where one doubles back along
    the other. Rings are taken together, about BATCH points at a time."""
    out = [None] * len(rings)
    begin = 0
    while begin < len(rings):
        stop, count = begin, 0
        while stop < len(rings) and (stop == begin or count + len(rings[stop]) <= BATCH):
            count += len(rings[stop])
            stop += 1
        out[begin:stop] = meetings_of_batch(rings[begin:stop])
        begin = stop
    return out


def meet(start, end, i, j):
    """Which of the edges i and j (arrays) cross at a point inside both, and
    which share any other point."""
    ax, ay, bx, by = start[i, 0], start[i, 1], end[i, 0], end[i, 1]
    cx, cy, dx, dy = start[j, 0], start[j, 1], end[j, 0], end[j, 1]
    o1, o2 = orient(ax, ay, bx, by, cx, cy), orient(ax, ay, bx, by, dx, dy)
    o3, o4 = orient(cx, cy, dx, dy, ax, ay), orient(cx, cy, dx, dy, bx, by)
    cross = (o1 * o2 < 0) & (o3 * o4 < 0)
    touch = ~cross & (((o1 == 0) & within(ax, ay, bx, by, cx, cy)) | ((o2 == 0) & within(ax, ay, bx, by, dx, dy)) |
                      ((o3 == 0) & within(cx, cy, dx, dy, ax, ay)) | ((o4 == 0) & within(cx, cy, dx, dy, bx, by)))
    return cross, touch


def meetings_of_batch(rings):
    # Points of all rings in one array; edge k runs from start[k] to end[k].
    sizes = np.array([len(r) for r in rings], dtype=np.int64)
    first = np.cumsum(sizes) - sizes
    ring_of = np.repeat(np.arange(len(rings)), sizes)
    local = np.arange(ring_of.size) - first[ring_of]
    start = np.array([p for r in rings for p in r], dtype=np.int64).reshape(-1, 2)
    following = np.arange(ring_of.size) + 1
    following[first + sizes - 1] = first
    end = start[following]
    i, j = candidate_pairs(np.minimum(start, end), np.maximum(start, end), ring_of, first, sizes)
    n = sizes[ring_of[i]]
    step = local[j] - local[i]
    keep = (step != 1) & (step != n - 1)
    i, j, n = i[keep], j[keep], n[keep]
    found_ring, found_key, found_cross = [], [], []
    for part in range(0, i.size, BATCH):
        pi, pj, pn = i[part:part + BATCH], j[part:part + BATCH], n[part:part + BATCH]
        cross, touch = meet(start, end, pi, pj)
        met = cross | touch
        found_ring.append(ring_of[pi[met]])
        found_key.append(local[pi[met]] * pn[met] + local[pj[met]])
        found_cross.append(cross[met])
    # Neighbouring edges meet only at their joint unless one doubles back along the other.
    before = np.arange(ring_of.size) - 1
    before[first] = first + sizes - 1
    u, v = start - start[before], end - start
    back = np.flatnonzero((u[:, 0] * v[:, 1] - u[:, 1] * v[:, 0] == 0) & ((u * v).sum(axis=1) <= 0))
    found_ring.append(ring_of[back])
    found_key.append(local[before[back]] * sizes[ring_of[back]] + local[back])
    found_cross.append(np.zeros(back.size, dtype=bool))
    found_ring, found_key, found_cross = map(np.concatenate, (found_ring, found_key, found_cross))
    out = [None] * len(rings)
    order = np.lexsort((found_key, found_ring))
    ring, key, crossing = found_ring[order], found_key[order], found_cross[order]
    lead = np.flatnonzero(np.diff(ring, prepend=-1))
    for r, best, how in zip(ring[lead].tolist(), key[lead].tolist(), crossing[lead].tolist()):
        n = len(rings[r])
        out[r] = (best // n, best % n, "cross" if how else "touch")
    return out


def untwist(ring, meeting):
    """Makes a ring simple where the source's outline crosses itself or
    passes one point twice; meeting is what first_meetings gives for it.

    Simplified outlines now and then cross themselves where a narrow neck was
    cut, leaving a lobe that winds the other way. Where edges i and j cross,
    the points between them are taken in reverse order (ring i, j, ..., i+1,
    j+1): the lobe winds as the rest again, every point stays, and the
    outline gets shorter. A few full-resolution outlines come back to a point
    they passed a few points before, pinching off a loop (up to some hundred
    metres across) that GEOS rejects; the side with fewer points goes, and
    the outline gets shorter again. So repeating this ends."""
    while meeting is not None:
        i, j, how = meeting
        n = len(ring)
        p, q = (i + 1) % n, (j + 1) % n
        if how == "cross":
            ring = ring[:i + 1] + ring[j:i:-1] + ring[j + 1:]
        elif ring[p] == ring[q] and p < q:
            ring = ring[:p + 1] + ring[q + 1:] if 2 * (q - p) <= n else ring[p:q]
        else:
            raise ValueError(f"outline touches itself at edges {i} and {j}")
        meeting = first_meetings([ring])[0]
    return ring


def unwrap(ring):
    """Longitudes made continuous: each within half a turn of the one before."""
    out = [ring[0]]
    p = ring[0][0]
    for x, y in ring[1:]:
        p = x + (p - x + TURN // 2) // TURN * TURN
        out.append((p, y))
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
    return head + np.array(points, dtype=">i4").tobytes()


def antarctic_levels(levels, rings):
    """Settles the levels of the Antarctic set in place: a flagged polygon
    (level 5 as read) that holds a grounding-line polygon is an ice front and
    stays 5; the others become land. Returns the container of each
    grounding-line polygon (the ice front that holds it) and the set of
    flagged polygons made land."""
    def plane(pid):
        return Polygon([(x / MICRO, y / MICRO) for x, y in rings[pid][0]]).buffer(0)
    # Each front also a turn east and west, so that any point meets it in its own frame.
    fronts = [(pid, prep(translate(shape, 360 * k)), translate(shape, 360 * k).bounds)
              for pid, level in levels.items() if level == 5 for shape in [plane(pid)] for k in (-1, 0, 1)]
    containers, holding, islands = {}, set(), set()
    for pid, level in levels.items():
        if level != 6:
            continue
        inside = plane(pid).representative_point()
        x, y = inside.x, inside.y  # each a call into GEOS
        around = [(f, shape) for f, shape, (w, s, e, n) in fronts if w <= x <= e and s <= y <= n]
        # A coarse ice front cuts the odd corner that holds a small ice rise;
        # the rise still belongs to the front whose extent holds it.
        front = next((f for f, shape in around if shape.contains(inside)), around[0][0] if around else None)
        if front is None:
            raise ValueError(f"grounding-line polygon {pid} lies in no ice front")
        containers[pid] = front
        holding.add(front)
    for pid in {f for f, _, _ in fronts}:
        if pid not in holding:
            levels[pid] = 1
            islands.add(pid)
    return containers, islands


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
    rings = {}
    for pid in range(len(area_km2)):
        # The file gives the full-resolution area and the share of it that
        # this resolution's polygon keeps, in millionths; a negative area
        # marks a lake that is part of a river.
        river = 1 if area_km2[pid] < 0 else 0
        area_full = int(round(abs(area_km2[pid]) * 10))
        area_here = abs(area_km2[pid]) * int(fraction[pid]) / MICRO
        area = int(round(area_here * 10))
        ring = chain(pieces[pid])
        cleaned = drop_spikes(ring)
        # A few tiny islands are a bare line at coarse resolutions.
        ring = cleaned if len(cleaned) >= 3 else sliver(ring, area_here)
        turns = winding(ring)
        if turns not in (0, 1, -1):
            raise ValueError(f"polygon {pid} winds {turns} times round the pole")
        rings[pid] = (close_round_pole(ring) if turns else unwrap(ring), bool(turns), area, area_full, river)
    meetings = first_meetings([ring for ring, *_ in rings.values()])
    for (pid, (ring, *rest)), meeting in zip(rings.items(), meetings):
        rings[pid] = (untwist(ring, meeting), *rest)
    containers, islands = antarctic_levels(levels, rings)
    out = bytearray()
    npoints = 0
    for pid, (ring, round_pole, area, area_full, river) in rings.items():
        wvs = 1 if levels[pid] == 1 and pid not in islands else 0
        container = containers.get(pid, int(parent[pid]))
        out += polygon_record(pid, levels[pid], ring, round_pole, area, area_full, container, wvs, river)
        npoints += len(ring)
    with open(target, "wb") as f:
        f.write(out)
    print(f"{target}: {len(area_km2)} polygons, {npoints} points")


if __name__ == "__main__":
    main()
