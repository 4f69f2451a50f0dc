"""From what the native part collects to numpy arrays, shapely geometries
and (Geo)DataFrames; shared by the readers of vorpix and vorpix.dask."""
import warnings

import numpy as np

# The feature layer's geometry types (features::GeometryType) as shapely's
# type numbers; -1 for a feature without geometry.
_SHAPELY_TYPE = np.array([-1, 0, 4, 1, 5, 3, 6], dtype=np.int8)
GEOMETRY_NAMES = {0: "Point", 1: "LineString", 3: "Polygon", 4: "MultiPoint", 5: "MultiLineString", 6: "MultiPolygon"}


def shapely_types(layer_types):
    """shapely's type numbers (Point 0, LineString 1, Polygon 3, MultiPoint
    4, MultiLineString 5, MultiPolygon 6, none -1) of the layer's."""
    return _SHAPELY_TYPE[np.asarray(layer_types, dtype=np.intp)]


def _wkb_reader():
    """One function from WKB bytes to a shapely geometry, reused for every
    feature: shapely 1.8's reader object, made once."""
    try:
        from shapely.geos import WKBReader, lgeos

        return WKBReader(lgeos).read
    except ImportError:  # shapely 2
        import shapely.wkb

        return shapely.wkb.loads


_SHAPES = []


def native_shapes():
    """What the native part needs to make shapely 1.8 geometries itself:
    the handle of the GEOS library shapely has loaded and shapely's classes
    by type number. None with another shapely, whose geometries come from
    WKB."""
    if not _SHAPES:
        found = None
        try:
            import shapely

            if shapely.__version__.startswith("1."):
                from shapely import geometry as g
                from shapely.geos import lgeos

                library = lgeos._lgeos._handle
                if isinstance(library, int) and library:
                    found = (library, (g.Point, g.LineString, None, g.Polygon, g.MultiPoint, g.MultiLineString,
                                       g.MultiPolygon))
        except (ImportError, AttributeError):
            found = None
        _SHAPES.append(found)
    return _SHAPES[0]


def geometries(wkb):
    """An object array of shapely geometries (None where a feature has none)
    from a list of WKB bytes, without a Python object for any point."""
    n = len(wkb)
    out = np.empty(n, dtype=object)
    try:
        import shapely

        from_wkb = getattr(shapely, "from_wkb", None)
    except ImportError:
        from_wkb = None
    if from_wkb is not None:  # shapely 2: one vectorised call
        data = np.empty(n, dtype=object)
        data[:] = wkb
        return from_wkb(data)
    read = _wkb_reader()
    for i, b in enumerate(wkb):
        if b is not None:
            out[i] = read(b)
    return out


def crs_of(wkt):
    """The pyproj CRS of a .prj's WKT text; None without one, or (with a
    warning) when PROJ cannot read it."""
    if not wkt:
        return None
    import pyproj

    try:
        crs = pyproj.CRS.from_user_input(wkt)
    except pyproj.exceptions.CRSError as error:
        warnings.warn(f"the .prj's coordinate system cannot be read ({error}); the data have no CRS", stacklevel=3)
        return None
    # A system that is an EPSG one to the letter is named by its code: the
    # .prj's ESRI names and axis order give way to the registry's.
    code = crs.to_epsg(min_confidence=100)
    return pyproj.CRS.from_epsg(code) if code is not None else crs


def give_warnings(table):
    """The warnings of the feature layer as DataWarnings."""
    from ._errors import DataWarning

    for line in table.get("warnings", ()):
        warnings.warn(line, DataWarning, stacklevel=3)


_NS_FIRST, _NS_LAST = np.datetime64("1677-09-22", "ms"), np.datetime64("2262-04-11", "ms")


def _column(values):
    """A pandas Series of a column; dates beyond what pandas holds in
    nanoseconds (1677 to 2262) as datetime objects."""
    import pandas as pd

    if values.dtype.kind == "M":
        valid = values[~np.isnat(values)]
        if valid.size == 0 or (valid.min() >= _NS_FIRST and valid.max() <= _NS_LAST):
            return pd.Series(values.astype("datetime64[ns]"))
        return pd.Series(values.astype(object))
    return pd.Series(values, copy=False)


def dataframe(table, crs=None, read_geometry=True, index=None):
    """A GeoDataFrame (a DataFrame without geometry) of collected features."""
    import pandas as pd

    n = len(table["fids"])
    if index is None:
        index = pd.RangeIndex(n)
    data = {}
    names = list(table["fields"])
    for i, values in enumerate(table["columns"]):
        series = _column(values)
        series.index = index
        data[i] = series
    df = pd.DataFrame(data, index=index)
    df.columns = names
    if not read_geometry:
        return df
    import geopandas
    from geopandas.array import GeometryArray

    geoms = table["geometries"] if "geometries" in table else geometries(table["wkb"])
    try:
        array = GeometryArray(geoms, crs=crs)
    except TypeError:
        array = geopandas.array.from_shapely(geoms, crs=crs)
    return geopandas.GeoDataFrame(df, geometry=geopandas.GeoSeries(array, index=index, crs=crs), crs=crs)


def empty_frame(info, columns=None, read_geometry=True, crs=None):
    """A frame of no rows with the columns and dtypes that reading gives
    when nothing is missing (dask's meta)."""
    import pandas as pd

    names, dtypes = list(info["fields"]), list(info["dtypes"])
    if columns is not None:
        pairs = dict(zip(names, dtypes))
        names = list(columns)
        dtypes = [pairs[c] for c in names]
    data = {}
    for i, dtype in enumerate(dtypes):
        data[i] = pd.Series([], dtype="datetime64[ns]" if dtype.startswith("datetime64") else dtype)
    df = pd.DataFrame(data)
    df.columns = names
    if not read_geometry:
        return df
    import geopandas

    return geopandas.GeoDataFrame(df, geometry=geopandas.GeoSeries([], crs=crs), crs=crs)
