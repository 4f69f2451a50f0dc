"""The native part of vorpix. Its functions return dicts of numpy arrays;
the package's functions make frames of them. shapes (from
vorpix._frames.native_shapes) has geometries made in GEOS as they are read,
given as shapely 1.8 objects, instead of WKB."""
from typing import Any, Optional, Sequence, TypedDict

import numpy as np
import numpy.typing as npt

class Table(TypedDict, total=False):
    fids: npt.NDArray[np.int64]
    geometry_type: npt.NDArray[np.uint8]  # the layer's: 0 none, Point, MultiPoint, LineString, MultiLineString, Polygon, MultiPolygon
    coords: npt.NDArray[np.float64]  # (points, 2) or (points, 3)
    geom_offsets: npt.NDArray[np.int64]
    part_offsets: npt.NDArray[np.int64]
    ring_offsets: npt.NDArray[np.int64]
    fields: list[str]
    columns: list[np.ndarray]
    wkb: list[Optional[bytes]]  # without shapes
    geometries: npt.NDArray[np.object_]  # with shapes: shapely 1.8 geometries, None where a feature has none
    crs_wkt: Optional[str]
    warnings: list[str]

def read_shapefile(path: str, columns: Optional[Sequence[str]] = ..., bbox: Optional[Sequence[float]] = ...,
                   skip_features: int = ..., max_features: Optional[int] = ..., encoding: Optional[str] = ...,
                   read_geometry: bool = ..., wkb: bool = ..., shapes: Optional[tuple[int, tuple]] = ...) -> Table: ...
def read_records(path: str, start: int, stop: int, columns: Optional[Sequence[str]] = ...,
                 encoding: Optional[str] = ..., read_geometry: bool = ..., wkb: bool = ...,
                 shapes: Optional[tuple[int, tuple]] = ...) -> Table: ...
def read_info(path: str, encoding: Optional[str] = ...) -> dict[str, Any]: ...
def read_shorelines(resolution: str, box: Optional[Sequence[float]], kinds: str, antarctica: str,
                    rfc7946: bool = ..., wkb: bool = ..., shapes: Optional[tuple[int, tuple]] = ...) -> Table: ...
def read_lines(resolution: str, box: Optional[Sequence[float]], kinds: str, rfc7946: bool = ...,
               wkb: bool = ..., shapes: Optional[tuple[int, tuple]] = ...) -> Table: ...
def read_texture(path: str, level: int = ...) -> npt.NDArray[np.uint8]: ...
def netcdf_header(path: str) -> dict[str, Any]: ...
