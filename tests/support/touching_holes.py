#!/usr/bin/python3
"""Random polygons whose holes touch their exterior or each other, and boxes
to clip them to, for the differential test of geo::clip_polygon.

    touching_holes.py SEED POLYGONS [tenths]

Every polygon is valid by GEOS and has a hole that touches the exterior or
another hole at one point: a vertex of the hole at a vertex of the other
ring or in the middle of one of its edges, or a vertex of the other ring in
the middle of an edge of the hole. Coordinates are multiples of 1/16, so
that such points lie exactly on both rings, and stay exact when moved by
whole turns. With "tenths" they are multiples of a tenth of a degree (and
touch points a quarter of the way between them), as data written in
decimal degrees has them: a touch is then exact in decimal but seldom in
binary, where the point lies a hair off the other ring. Such polygons are
valid both as GEOS reads them and in exact arithmetic (scaled to whole
numbers). Some polygons lie across 180, some of them over more than a
third of the globe. The boxes run through touch points, have a corner at
one, or are drawn at random over the polygon.

Prints one line per case, "MODE;WEST SOUTH EAST NORTH;SOURCE;INPUT". MODE
is "plain" (clip with clip_polygon) or "rfc7946" (clip_polygon_rfc7946);
EAST may exceed 180. SOURCE is the polygon as GEOS sees it, INPUT the rings
handed to the clip: the same with longitudes moved into -180..180, rings
given either way round, starting anywhere (often at a touch point), some
with their first point repeated at the end as files store them. Rings are
separated by "|", a ring is "x y x y ...", SOURCE's without a closing point.
"""
import math
import random
import sys

from shapely.geometry import LinearRing, Polygon


GRID = 16  # coordinates are multiples of 1 / GRID


def snap(v):
    return round(v * GRID) / GRID


def valid(shell, holes):
    """Valid as GEOS reads the coordinates, and in exact arithmetic."""
    if not Polygon(shell, holes).is_valid:
        return False
    if GRID == 16:
        return True
    exact = lambda ring: [(round(x * 256 * GRID), round(y * 256 * GRID)) for x, y in ring]
    return Polygon(exact(shell), [exact(h) for h in holes]).is_valid


def star(rng, cx, cy, count, rmin, rmax, stretch=1.0):
    angles = sorted(rng.uniform(0, 2 * math.pi) for _ in range(count))
    return [(snap(cx + stretch * r * math.cos(a)), snap(cy + r * math.sin(a)))
            for a, r in ((a, rng.uniform(rmin, rmax)) for a in angles)]


def on_edge(rng, ring):
    """A point in the middle of an edge of ring, exactly on it."""
    i = rng.randrange(len(ring))
    (ax, ay), (bx, by) = ring[i], ring[(i + 1) % len(ring)]
    t = rng.choice((0.25, 0.5, 0.75))
    return (ax + (bx - ax) * t, ay + (by - ay) * t)


def hole_at(rng, p, through):
    """A small ring with p as a vertex, or (through) in the middle of an edge."""
    angle = rng.uniform(0, 2 * math.pi)
    distance = rng.uniform(0.4, 2.0)
    cx, cy = p[0] + distance * math.cos(angle), p[1] + distance * math.sin(angle)
    towards = math.atan2(p[1] - cy, p[0] - cx)
    others = [towards + rng.uniform(0.5, 2 * math.pi - 0.5) for _ in range(rng.randint(2, 4))]
    points = [(a, (snap(cx + r * math.cos(a)), snap(cy + r * math.sin(a))))
              for a, r in ((a, rng.uniform(0.3, 1.6)) for a in others)]
    if through:
        # p + u and p - u, with u across the line from the centre to p.
        size = rng.uniform(0.1, 0.6)
        u = (snap(-size * math.sin(towards)), snap(size * math.cos(towards)))
        if u == (0.0, 0.0):
            return None
        points.append((towards + 0.01, (p[0] + u[0], p[1] + u[1])))
        points.append((towards - 0.01, (p[0] - u[0], p[1] - u[1])))
    else:
        points.append((towards, p))
    points.sort()
    ring = [q for _, q in points]
    return ring if len(set(ring)) == len(ring) else None


def polygon(rng):
    style = rng.random()
    across, wide = style < 0.4, style < 0.15
    cx = 180.0 if wide else snap(180 + rng.uniform(-5, 5)) if across else snap(rng.uniform(-50, 50))
    cy = snap(rng.uniform(-40, 40))
    while True:
        shell = star(rng, cx, cy, rng.randint(8, 16) if wide else rng.randint(5, 12), 3, 9, 12 if wide else 1)
        # Edges shorter than half a turn, which the clip takes the short way as GEOS does.
        if Polygon(shell).is_valid and all(abs(a[0] - b[0]) < 90 for a, b in zip(shell, shell[1:] + shell[:1])):
            break
    holes, touches = [], []
    for _ in range(rng.randint(1, 4)):
        for _ in range(40):
            targets = [shell] + holes
            target = rng.choice(targets)
            kind = rng.random()
            if kind < 0.1:  # a hole that touches nothing
                c = (snap(cx + rng.uniform(-4, 4)), snap(cy + rng.uniform(-4, 4)))
                hole, p = star(rng, c[0], c[1], rng.randint(3, 6), 0.3, 1.2), None
            else:
                through = kind > 0.75
                p = rng.choice(target) if through or kind < 0.4 else on_edge(rng, target)
                hole = hole_at(rng, p, through)
            if hole is None or not Polygon(hole).is_valid:
                continue
            if valid(shell, holes + [hole]):
                holes.append(hole)
                if p is not None and LinearRing(hole).intersects(LinearRing(target)):
                    touches.append(p)
                break
    return across, shell, holes, touches


def ring_text(ring):
    return " ".join("%r %r" % q for q in ring)


def rings_text(rings):
    return "|".join(ring_text(r) for r in rings)


def wrapped(ring):
    return [(x - 360 if x > 180 else x, y) for x, y in ring]


def boxes(rng, shell, touches, across):
    xs, ys = [x for x, _ in shell], [y for _, y in shell]
    x0, x1, y0, y1 = min(xs), max(xs), min(ys), max(ys)

    def coordinate(lo, hi):
        v = rng.uniform(lo, hi)
        return snap(v) if rng.random() < 0.5 else v

    out = []
    for _ in range(rng.randint(3, 6)):
        w, e = sorted((coordinate(x0 - 1, x1 + 1), coordinate(x0 - 1, x1 + 1)))
        s, n = sorted((coordinate(y0 - 1, y1 + 1), coordinate(y0 - 1, y1 + 1)))
        style = rng.random()
        if touches and style < 0.6:
            px, py = rng.choice(touches)
            side = rng.randrange(6)
            if side == 0:
                w, e = px, max(e, px + 0.5)
            elif side == 1:
                w, e = min(w, px - 0.5), px
            elif side == 2:
                s, n = py, max(n, py + 0.5)
            elif side == 3:
                s, n = min(s, py - 0.5), py
            else:  # a corner at the touch point
                w, e = (px, max(e, px + 0.5)) if side == 4 else (min(w, px - 0.5), px)
                s, n = (py, max(n, py + 0.5)) if rng.random() < 0.5 else (min(s, py - 0.5), py)
        elif style < 0.7:
            w, e, s, n = x0 - 1, x1 + 1, y0 - 1, y1 + 1
        if across and rng.random() < 0.6:
            # Across 180, or with an edge on it.
            w, e = min(w, rng.choice((180.0, coordinate(x0 - 1, 180)))), max(e, coordinate(180, x1 + 1))
        if w < e and s < n:
            out.append((w, s, e, n))
    return out


def first(rng, ring, touches):
    """Where a ring starts: often at a point where it touches another."""
    at = [i for i, q in enumerate(ring) if q in touches]
    return rng.choice(at) if at and rng.random() < 0.5 else rng.randrange(len(ring))


def main(seed, count):
    rng = random.Random(seed)
    made = 0
    while made < count:
        across, shell, holes, touches = polygon(rng)
        if not touches:
            continue
        made += 1
        source = [shell] + holes
        given = [r[::-1] if rng.random() < 0.5 else r for r in source]
        given = [r[k:] + r[:k] for r, k in ((r, first(rng, r, touches)) for r in given)]
        if rng.random() < 0.3:
            given = [r + r[:1] for r in given]
        if across:
            given = [wrapped(r) for r in given]
        for w, s, e, n in boxes(rng, shell, touches, across):
            mode = "rfc7946" if across and w < 180 < e and rng.random() < 0.5 else "plain"
            print("%s;%r %r %r %r;%s;%s" % (mode, w, s, e, n, rings_text(source), rings_text(given)))


if __name__ == "__main__":
    if sys.argv[3:] == ["tenths"]:
        GRID = 10
    main(int(sys.argv[1]), int(sys.argv[2]))
