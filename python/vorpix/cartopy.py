"""Shorelines as a cartopy feature, read by vorpix for the extent drawn.

    import cartopy.crs as ccrs, matplotlib.pyplot as plt
    import vorpix.cartopy
    ax = plt.axes(projection=ccrs.PlateCarree())
    ax.set_extent([-10, 35, 30, 60])
    ax.add_feature(vorpix.cartopy.GSHHSFeature(scale="i", levels=(1, 2)))

cartopy asks the feature for the geometries of the extent it draws; vorpix
reads the shoreline polygons that meet that extent, clipped exactly to it,
and no others.
"""
import cartopy.crs
import cartopy.feature

import vorpix

from ._errors import Error

__all__ = ["GSHHSFeature"]

_SCALES = {"c": "c", "coarse": "c", "crude": "c", "l": "l", "low": "l", "i": "i", "intermediate": "i", "h": "h",
           "high": "h", "f": "f", "full": "f", "auto": "auto", "a": "auto"}


def scale_for_extent(extent):
    """The resolution for an extent (x0, x1, y0, y1) in degrees: the wider,
    the coarser (the largest side: 90 degrees or more crude, 20 low, 5
    intermediate, 1 high, less full)."""
    x0, x1, y0, y1 = extent
    side = max(abs(x1 - x0), abs(y1 - y0))
    for limit, scale in ((90, "c"), (20, "l"), (5, "i"), (1, "h")):
        if side >= limit:
            return scale
    return "f"


class GSHHSFeature(cartopy.feature.Feature):
    """Shoreline polygons (land, lakes, islands in lakes, ponds) read by
    vorpix, drawn by cartopy like its own features.

    Args:
        scale: c, l, i, h or f (coarse to full), or "auto" to choose by the
            extent drawn; resolutions that are not installed give way to
            the next coarser one.
        levels: the levels drawn: 1 land, 2 lakes, 3 islands in lakes, 4
            ponds.
        antarctica: "ice-front" (with the ice shelves) or "grounding-line".
        kwargs: matplotlib styles; land colour with a black edge unless
            given.
    """

    def __init__(self, scale="l", levels=(1,), antarctica="ice-front", **kwargs):
        for key, value in (("facecolor", cartopy.feature.COLORS["land"]), ("edgecolor", "black")):
            kwargs.setdefault(key, value)
        super().__init__(cartopy.crs.PlateCarree(), **kwargs)
        try:
            self._scale = _SCALES[str(scale).lower()]
        except KeyError:
            raise ValueError(f"scale is one of c, l, i, h, f or auto, not {scale!r}") from None
        levels = tuple(int(level) for level in levels)
        if not levels or any(level < 1 or level > 4 for level in levels):
            raise ValueError("levels are 1 to 4: land, lakes, islands in lakes, ponds")
        self._levels = levels
        self._kinds = "f:%d" % sum(1 << (level - 1) for level in set(levels))
        self._antarctica = antarctica

    @property
    def scale(self):
        return self._scale

    @property
    def levels(self):
        return self._levels

    def _read(self, box, scale):
        order = ["c", "l", "i", "h", "f"]
        for res in reversed(order[:order.index(scale) + 1]):
            try:
                return vorpix.coast(res=res, box=box, kinds=self._kinds, antarctica=self._antarctica).geometry
            except vorpix.ReadError:
                if res == "c":
                    raise
        raise Error("no shoreline file found")  # not reached

    def geometries(self):
        """Every polygon of the levels, the whole world."""
        scale = "c" if self._scale == "auto" else self._scale
        return iter(list(self._read(None, scale)))

    def intersecting_geometries(self, extent):
        """The polygons that meet the extent (x0, x1, y0, y1) in degrees,
        clipped to it; all of them for None."""
        if extent is None:
            return self.geometries()
        x0, x1, y0, y1 = (float(v) for v in extent)
        south, north = max(-90.0, min(y0, y1)), min(90.0, max(y0, y1))
        west, east = min(x0, x1), max(x0, x1)
        if east - west >= 360:
            west, east = -180.0, 180.0
        if not north > south or not east > west:
            return iter(())
        scale = scale_for_extent((west, east, south, north)) if self._scale == "auto" else self._scale
        return iter(list(self._read((west, south, east, north), scale)))
