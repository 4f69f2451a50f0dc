"""vorpix.cartopy.GSHHSFeature drawn by cartopy (matplotlib's Agg): cartopy
asks it for the extent it draws, it gives the polygons of that extent only,
and the picture shows land where the land is."""
import numpy as np
import pytest

matplotlib = pytest.importorskip("matplotlib")
matplotlib.use("Agg")
import matplotlib.pyplot as plt  # noqa: E402

ccrs = pytest.importorskip("cartopy.crs")

import vorpix  # noqa: E402
import vorpix.cartopy  # noqa: E402


class Spy(vorpix.cartopy.GSHHSFeature):
    """The feature, noting the extents that cartopy asks for."""

    def __init__(self, *args, **kwargs):
        super().__init__(*args, **kwargs)
        self.asked = []
        self.given = []

    def intersecting_geometries(self, extent):
        self.asked.append(extent)
        out = list(super().intersecting_geometries(extent))
        self.given.append(out)
        return iter(out)


def draw(projection, extent, feature):
    fig = plt.figure(figsize=(4, 3), dpi=100)
    ax = fig.add_axes([0, 0, 1, 1], projection=projection)
    ax.set_extent(extent, ccrs.PlateCarree())
    ax.add_feature(feature, facecolor="#ff0000", edgecolor="none")
    fig.canvas.draw()
    pixels = np.asarray(fig.canvas.buffer_rgba())[..., :3].copy()
    return fig, ax, pixels


def is_red(pixels, ax, lon, lat):
    x, y = ax.projection.transform_point(lon, lat, ccrs.PlateCarree())
    px, py = ax.transData.transform((x, y))
    h = pixels.shape[0]
    r, g, b = pixels[int(round(h - py)), int(round(px))]
    return r > 200 and g < 60 and b < 60


def test_drawn_from_the_polygons_of_the_extent():
    feature = Spy(scale="l", levels=(1,))
    fig, ax, pixels = draw(ccrs.PlateCarree(), [-10, 35, 30, 60], feature)
    try:
        assert feature.asked
        x0, x1, y0, y1 = feature.asked[-1]
        assert x0 == pytest.approx(-10, abs=0.5) and x1 == pytest.approx(35, abs=0.5)
        assert y0 == pytest.approx(30, abs=0.5) and y1 == pytest.approx(60, abs=0.5)
        # What it gave is vorpix.coast for that box: polygons within the box.
        given = feature.given[-1]
        expected = vorpix.coast(res="l", box=(x0, y0, x1, y1), kinds="f:1")
        assert len(given) == len(expected) > 0
        for g in given:
            minx, miny, maxx, maxy = g.bounds
            assert minx >= x0 - 1e-9 and maxx <= x1 + 1e-9 and miny >= y0 - 1e-9 and maxy <= y1 + 1e-9
        # Land is red, sea is not: Germany, Spain's interior, the Alps; the
        # Bay of Biscay, the Tyrrhenian Sea, the North Sea.
        for lon, lat in ((10, 51), (-4, 40), (10, 46.5)):
            assert is_red(pixels, ax, lon, lat), (lon, lat)
        for lon, lat in ((-5, 45.5), (11.5, 40), (3, 55)):
            assert not is_red(pixels, ax, lon, lat), (lon, lat)
    finally:
        plt.close(fig)


def test_levels_and_other_projections():
    # Lakes are level 2, polygons of their own over the land (level 1):
    # drawn alone, Lake Michigan is filled and Illinois is not.
    lakes = Spy(scale="auto", levels=(2,))
    fig, ax, pixels = draw(ccrs.Orthographic(-85, 45), [-95, -75, 40, 50], lakes)
    try:
        assert lakes.asked and all(e is not None for e in lakes.asked)
        assert is_red(pixels, ax, -87, 44)  # Lake Michigan
        assert not is_red(pixels, ax, -90, 42)  # Illinois
    finally:
        plt.close(fig)
    land = Spy(scale="i", levels=(1,))
    fig, ax, pixels = draw(ccrs.PlateCarree(), [-95, -75, 40, 50], land)
    try:
        assert is_red(pixels, ax, -90, 42) and is_red(pixels, ax, -87, 44)  # land holds the lakes
    finally:
        plt.close(fig)


def test_arguments():
    with pytest.raises(ValueError):
        vorpix.cartopy.GSHHSFeature(scale="x")
    with pytest.raises(ValueError):
        vorpix.cartopy.GSHHSFeature(levels=(5,))
    assert vorpix.cartopy.scale_for_extent((-180, 180, -90, 90)) == "c"
    assert vorpix.cartopy.scale_for_extent((0, 2, 0, 2)) == "h"
    world = list(vorpix.cartopy.GSHHSFeature(scale="c").geometries())
    assert len(world) == len(vorpix.coast(res="c", kinds="f:1"))
