"""vorpix: map data read into numpy, pandas and GeoPandas.

Shapefiles (read_dataframe, read_info, read_arrays), shorelines, borders and
rivers (coast, borders, rivers), DDS textures (read_texture) and netCDF
classic headers (netcdf_header), read by the vorpix library and its feature
layer. Decoding runs without the GIL; coordinates go from the decoder into
numpy arrays with no Python object per point. Every failure to read a file
raises a vorpix.Error naming the file and the place in it.

vorpix.dask reads a shapefile as a Dask DataFrame, a partition per range of
records; vorpix.cartopy draws shorelines as a cartopy feature.
"""
import os
import typing

import numpy as np

from . import _frames
from ._errors import DataWarning, Error, InvalidDataError, OutOfMemoryError, ReadError, UnsupportedError
from . import _vorpix

__all__ = [
    "Error", "DataWarning", "InvalidDataError", "ReadError", "UnsupportedError", "OutOfMemoryError", "ShapeArrays",
    "read_dataframe", "read_info", "read_arrays", "coast", "borders", "rivers", "read_texture", "netcdf_header",
]


def _path(path):
    path = os.fspath(path)
    if isinstance(path, bytes):
        path = os.fsdecode(path)
    return path


def _columns(columns):
    if columns is None:
        return None
    if isinstance(columns, str):
        raise TypeError("columns is a list of field names, not one string")
    return [str(c) for c in columns]


def _bbox(bbox):
    if bbox is None:
        return None
    box = [float(v) for v in bbox]
    if len(box) != 4:
        raise ValueError("bbox is (xmin, ymin, xmax, ymax)")
    if not all(np.isfinite(box)) or box[0] > box[2] or box[1] > box[3]:
        raise ValueError("bbox is (xmin, ymin, xmax, ymax) with finite edges, xmin <= xmax and ymin <= ymax")
    return box


def _count(name, value, allow_none=False):
    if value is None and allow_none:
        return None
    if isinstance(value, bool) or int(value) != value:
        raise TypeError(f"{name} is a whole number")
    if value < 0:
        raise ValueError(f"{name} must be 0 or more")
    return int(value)


def read_dataframe(path, columns=None, bbox=None, skip_features=0, max_features=None, encoding=None,
                   read_geometry=True, fid_as_index=False):
    """The features of a shapefile (or the rows of a .dbf alone) as a
    GeoDataFrame with the .prj's CRS, coordinates as stored.

    Args:
        path: the .shp (its .shx, .dbf, .prj and .cpg beside it) or a .dbf.
        columns: the fields to read, in this order; all when None, none when
            empty. A name the table lacks raises InvalidDataError.
        bbox: (xmin, ymin, xmax, ymax) in the file's coordinates: only the
            features whose geometry meets it.
        skip_features: features to skip from the start: records (deleted ones
            counted) without bbox, features that meet it with one.
        max_features: at most this many features.
        encoding: the table's text encoding, over what the .cpg and the
            table's language driver say.
        read_geometry: False gives a pandas DataFrame of the attributes.
        fid_as_index: index the rows by record number (from 0) instead of
            0 to n-1.

    Records marked deleted in the table are left out. Integer fields are
    int64 (float64 with NaN where a value is missing), reals float64, logical
    fields bool (objects with None where missing), dates datetime64[ns] with
    NaT, text str with None.
    """
    path = _path(path)
    table = _vorpix.read_shapefile(path, _columns(columns), _bbox(bbox), _count("skip_features", skip_features),
                                   _count("max_features", max_features, allow_none=True),
                                   None if encoding is None else str(encoding), bool(read_geometry),
                                   shapes=_frames.native_shapes())
    _frames.give_warnings(table)
    crs = _frames.crs_of(table["crs_wkt"]) if read_geometry else None
    index = None
    if fid_as_index:
        import pandas as pd

        index = pd.Index(table["fids"], name="fid")
    return _frames.dataframe(table, crs=crs, read_geometry=read_geometry, index=index)


def read_info(path, encoding=None):
    """What a shapefile holds, from its headers, without reading records.

    Returns a dict: "count" (records in the file, deleted ones included),
    "fields" (names), "dtypes" (the numpy dtype each field reads as when no
    value is missing), "field_types" ((dBase type letter, width, decimals)
    per field), "geometry_type" ("Point", "LineString", "Polygon",
    "MultiPoint", or None for a table alone or null shapes), "has_z",
    "has_m", "crs" (a pyproj CRS, or None), "crs_wkt" (the .prj's text),
    "bounds" ((xmin, ymin, xmax, ymax) as the main file's header gives
    them, None for a table alone), "encoding" (the table's text encoding as
    read, None without a table).
    """
    info = _vorpix.read_info(_path(path), None if encoding is None else str(encoding))
    info["crs"] = _frames.crs_of(info["crs_wkt"])
    return info


class ShapeArrays(typing.NamedTuple):
    """A shapefile's features as numpy arrays.

    geometry_type: int8 per feature, shapely's numbering (Point 0, LineString
        1, Polygon 3, MultiPoint 4, MultiLineString 5, MultiPolygon 6), -1
        where a feature has no geometry.
    coords: float64 (points, 2), or (points, 3) with Z (NaN where a geometry
        has none).
    ring_offsets: int64, runs + 1: run r holds coords[ring_offsets[r]:
        ring_offsets[r+1]], a ring (closed, exteriors counter-clockwise and
        holes clockwise), a line, or the points of a (multi)point.
    part_offsets: int64, groups + 1: group g holds runs part_offsets[g] to
        part_offsets[g+1]-1; a polygon (exterior first) or the lines or
        points of one feature.
    geom_offsets: int64, features + 1: feature f holds groups
        geom_offsets[f] to geom_offsets[f+1]-1 (none without geometry).
    fids: int64 record numbers from 0.
    fields: attribute columns by name, each a numpy array as read_dataframe
        types them (dates as datetime64[ms]).
    crs_wkt: the .prj's text, or None.
    """

    geometry_type: np.ndarray
    coords: np.ndarray
    ring_offsets: np.ndarray
    part_offsets: np.ndarray
    geom_offsets: np.ndarray
    fids: np.ndarray
    fields: dict
    crs_wkt: typing.Optional[str]


def read_arrays(path, columns=None, bbox=None, skip_features=0, max_features=None, encoding=None,
                read_geometry=True):
    """The features of a shapefile as numpy arrays (a ShapeArrays), with the
    arguments of read_dataframe; no geometry objects are made."""
    path = _path(path)
    table = _vorpix.read_shapefile(path, _columns(columns), _bbox(bbox), _count("skip_features", skip_features),
                                   _count("max_features", max_features, allow_none=True),
                                   None if encoding is None else str(encoding), bool(read_geometry), wkb=False)
    _frames.give_warnings(table)
    fields = dict(zip(table["fields"], table["columns"]))
    return ShapeArrays(_frames.shapely_types(table["geometry_type"]), table["coords"], table["ring_offsets"],
                       table["part_offsets"], table["geom_offsets"], table["fids"], fields,
                       table["crs_wkt"])


# ---------------------------------------------------------------------------
# Shorelines, borders and rivers

_RESOLUTIONS = {"c": "c", "crude": "c", "l": "l", "low": "l", "i": "i", "intermediate": "i", "h": "h", "high": "h",
                "f": "f", "full": "f"}


def _resolution(res):
    try:
        return _RESOLUTIONS[str(res).lower()]
    except KeyError:
        raise ValueError(f"res is one of c, l, i, h, f (crude to full), not {res!r}") from None


def _kinds(kinds, letters, default_levels):
    """Words LETTER:LEVELS; a bare letter takes default_levels."""
    words = []
    for word in str(kinds).split():
        letter, _, levels = word.partition(":")
        if letter not in letters:
            raise ValueError(f"kinds are words {' or '.join(k + ':LEVELS' for k in letters)}, not {word!r}")
        if not levels:
            levels = default_levels
        if not levels.isdigit():
            raise ValueError(f"the levels of {word!r} are a bitmap, a whole number")
        words.append(f"{letter}:{int(levels)}")
    if not words:
        raise ValueError("kinds names no kind")
    return " ".join(words)


def _box(box):
    if box is None:
        return None
    b = [float(v) for v in box]
    if len(b) != 4:
        raise ValueError("box is (west, south, east, north) in degrees")
    return b


_WGS84 = "OGC:CRS84"


def _map_frame(table):
    import pyproj

    return _frames.dataframe(table, crs=pyproj.CRS.from_user_input(_WGS84))


def coast(res="l", box=None, kinds="f", antarctica="ice-front"):
    """Shorelines, lakes and islands of a box as a GeoDataFrame in longitude
    and latitude (OGC:CRS84), one row per polygon, as `vorpix coast` writes
    them as GeoJSON.

    Args:
        res: c, l, i, h or f (crude, low, intermediate, high, full).
        box: (west, south, east, north) in degrees; the whole world when
            None. An east edge at or below the west one runs east across 180.
        kinds: words f:LEVELS (filled areas, as polygons) and c:LEVELS
            (outlines, as lines); LEVELS is a bitmap, bit k selecting level
            k+1 (1 land, 2 lake, 3 island in a lake, 4 pond), 0 every level;
            a bare "f" or "c" is every level.
        antarctica: "ice-front" (with the ice shelves) or "grounding-line".

    Columns: id, kind ("f", "c"), level, type ("l" land, "w" water, "c"
    outline), antipode (1 when the antipode of 0/0 lies inside the polygon).
    Each polygon is clipped exactly to the box and cut at the antimeridian.
    """
    table = _vorpix.read_shorelines(_resolution(res), _box(box), _kinds(kinds, ("f", "c"), "0"), str(antarctica),
                                     shapes=_frames.native_shapes())
    return _map_frame(table)


def borders(res="l", box=None, kinds="p:7"):
    """National, internal and maritime borders of a box as a GeoDataFrame
    in longitude and latitude, one row per segment, as `vorpix borders`
    writes them: kind ("border"), level (1 national, 2 internal, 3
    maritime), type ("p"). kinds: words p:LEVELS, a bitmap of levels."""
    table = _vorpix.read_lines(_resolution(res), _box(box), _kinds(kinds, ("p",), "7"), shapes=_frames.native_shapes())
    return _map_frame(table)


def rivers(res="l", box=None, kinds="r:4095"):
    """Rivers and canals of a box as a GeoDataFrame in longitude and
    latitude, one row per segment, as `vorpix borders --rivers` writes
    them: kind ("river"), level (1-4 permanent, 5-7 intermittent, 8-10
    canals, 0 double-lined rivers and river-lakes when every level from 1 to
    10 is asked for), type ("r"). kinds: words r:LEVELS, a bitmap."""
    table = _vorpix.read_lines(_resolution(res), _box(box), _kinds(kinds, ("r",), "4095"),
                               shapes=_frames.native_shapes())
    return _map_frame(table)


# ---------------------------------------------------------------------------
# Textures and netCDF headers


def read_texture(path, level=0):
    """One mipmap level of a DXT1 or DXT5 DDS texture as a numpy uint8
    array of shape (height, width, 4): red, green, blue, alpha, rows from
    the top. Level 0 is the largest; each halves the sides of the one before."""
    return _vorpix.read_texture(_path(path), _count("level", level))


def netcdf_header(path):
    """The header of a netCDF classic file as a dict: "numrecs",
    "dimensions" (name to length, None for the record dimension),
    "attributes" (global: name to a numpy array, or str for text) and
    "variables" (name to a dict of "dimensions" (names), "type" ("byte",
    "char", "short", "int", "float", "double"), "attributes", "vsize" and
    "begin")."""
    return _vorpix.netcdf_header(_path(path))
