import os
from typing import Any, NamedTuple, Optional, Sequence, Union

import numpy as np
import numpy.typing as npt
import pandas
import geopandas

from ._errors import (DataWarning as DataWarning, Error as Error, InvalidDataError as InvalidDataError,
                      OutOfMemoryError as OutOfMemoryError, ReadError as ReadError,
                      UnsupportedError as UnsupportedError)

_Path = Union[str, bytes, os.PathLike]
_Box = Sequence[float]

def read_dataframe(path: _Path, columns: Optional[Sequence[str]] = ..., bbox: Optional[_Box] = ...,
                   skip_features: int = ..., max_features: Optional[int] = ..., encoding: Optional[str] = ...,
                   read_geometry: bool = ..., fid_as_index: bool = ...) -> Union[geopandas.GeoDataFrame, pandas.DataFrame]: ...
def read_info(path: _Path, encoding: Optional[str] = ...) -> dict[str, Any]: ...

class ShapeArrays(NamedTuple):
    geometry_type: npt.NDArray[np.int8]
    coords: npt.NDArray[np.float64]
    ring_offsets: npt.NDArray[np.int64]
    part_offsets: npt.NDArray[np.int64]
    geom_offsets: npt.NDArray[np.int64]
    fids: npt.NDArray[np.int64]
    fields: dict[str, np.ndarray]
    crs_wkt: Optional[str]

def read_arrays(path: _Path, columns: Optional[Sequence[str]] = ..., bbox: Optional[_Box] = ...,
                skip_features: int = ..., max_features: Optional[int] = ..., encoding: Optional[str] = ...,
                read_geometry: bool = ...) -> ShapeArrays: ...
def coast(res: str = ..., box: Optional[_Box] = ..., kinds: str = ..., antarctica: str = ...) -> geopandas.GeoDataFrame: ...
def borders(res: str = ..., box: Optional[_Box] = ..., kinds: str = ...) -> geopandas.GeoDataFrame: ...
def rivers(res: str = ..., box: Optional[_Box] = ..., kinds: str = ...) -> geopandas.GeoDataFrame: ...
def read_texture(path: _Path, level: int = ...) -> npt.NDArray[np.uint8]: ...
def netcdf_header(path: _Path) -> dict[str, Any]: ...
