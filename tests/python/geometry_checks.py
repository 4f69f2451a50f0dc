"""Geometries compared run by run, whatever order of rings and start point
each reader uses: the oracle's and ours as sorted lists of runs."""
import numpy as np
from shapely.geometry.polygon import orient


def runs(geometry):
    """Every run of a geometry as an array of positions: polygon rings
    oriented (exteriors counter-clockwise), as a polygon or a list of them.
    None for no geometry."""
    if geometry is None or geometry.is_empty:
        return None
    kind = geometry.geom_type
    if kind.startswith("Multi") or kind == "GeometryCollection":
        out = []
        for part in geometry.geoms:
            out.extend(runs(part) or [])
        return out
    if kind == "Polygon":
        p = orient(geometry)
        return [np.asarray(p.exterior.coords)] + [np.asarray(r.coords) for r in p.interiors]
    return [np.asarray(geometry.coords)]


def _key(run):
    return (len(run), tuple(np.round(run[0], 6)), tuple(np.round(run.mean(axis=0), 6)))


def same_geometry(ours, theirs, tolerance=1e-9):
    """Whether two geometries hold the same runs within tolerance (relative
    to the coordinates' magnitude), with the same dimensions. Rings may
    start at different points."""
    a, b = runs(ours), runs(theirs)
    if a is None or b is None:
        return a is None and b is None
    if len(a) != len(b) or ours.has_z != theirs.has_z:
        return False
    a, b = sorted(a, key=_key), sorted(b, key=_key)
    for ra, rb in zip(a, b):
        if ra.shape != rb.shape:
            return False
        if not _close_run(ra, rb, tolerance):
            return False
    return True


def _close_run(ra, rb, tolerance):
    scale = max(1.0, float(np.max(np.abs(rb)))) if rb.size else 1.0
    if np.allclose(ra, rb, rtol=0, atol=tolerance * scale):
        return True
    # A closed ring started elsewhere: rotate ours to the oracle's first point.
    if len(ra) > 2 and np.array_equal(ra[0], ra[-1]) and np.array_equal(rb[0], rb[-1]):
        body = ra[:-1]
        hits = np.nonzero(np.all(np.abs(body - rb[0]) <= tolerance * scale, axis=1))[0]
        for h in hits:
            turned = np.vstack([body[h:], body[:h], body[h:h + 1]])
            if np.allclose(turned, rb, rtol=0, atol=tolerance * scale):
                return True
    return False
