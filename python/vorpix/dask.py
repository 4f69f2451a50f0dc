"""A shapefile as a Dask DataFrame: one partition per range of records, each
a GeoDataFrame read straight from its records through the .shx offsets, so
that partitions read in parallel, on any worker, without going through the
records before theirs.

    import vorpix.dask
    ddf = vorpix.dask.read_file("counties.shp", npartitions=8)
    ddf.map_partitions(lambda df: df.area).compute()
"""
import math

import dask.dataframe as dd

from . import _frames, _vorpix, read_info

__all__ = ["read_file"]

# Records per partition when neither npartitions nor chunksize is given.
DEFAULT_CHUNKSIZE = 100_000


def _read_range(bounds, path, columns, encoding, crs_wkt):
    """Records bounds[0] to bounds[1]-1 of the file (those marked deleted
    left out), indexed by record number."""
    import pandas as pd

    start, stop = bounds
    table = _vorpix.read_records(path, start, stop, columns, encoding, shapes=_frames.native_shapes())
    _frames.give_warnings(table)
    index = pd.Index(table["fids"], name="fid")
    return _frames.dataframe(table, crs=_frames.crs_of(crs_wkt), index=index)


def read_file(path, npartitions=None, chunksize=None, columns=None, encoding=None):
    """A Dask DataFrame of a shapefile's features, whose partitions are
    GeoDataFrames with the file's CRS, indexed by record number ("fid").

    Args:
        path: the .shp (with its .shx, .dbf, .prj and .cpg beside it).
        npartitions: how many partitions, of as many records each as can be.
        chunksize: records per partition (give this or npartitions; with
            neither, 100,000).
        columns, encoding: as vorpix.read_dataframe takes them.

    Partition k holds records k*chunksize to (k+1)*chunksize-1, read by
    number (records marked deleted are left out, as read_dataframe leaves
    them out), so the DataFrame's divisions are known: each partition knows
    the bounds of its records. The meta has each field's dtype as
    vorpix.read_info gives it; a partition whose integers miss a value holds
    them as float64 with NaN, as read_dataframe does.
    """
    import os

    path = os.fspath(path)
    if npartitions is not None and chunksize is not None:
        raise ValueError("give npartitions or chunksize, not both")
    info = read_info(path, encoding)
    count = int(info["count"])
    if chunksize is None:
        if npartitions is None:
            chunksize = DEFAULT_CHUNKSIZE
        else:
            if int(npartitions) < 1:
                raise ValueError("npartitions must be 1 or more")
            chunksize = max(1, math.ceil(count / int(npartitions)))
    chunksize = int(chunksize)
    if chunksize < 1:
        raise ValueError("chunksize must be 1 or more")
    if columns is not None:
        columns = [str(c) for c in columns]
        missing = [c for c in columns if c not in info["fields"]]
        if missing:
            raise ValueError(f"no field named {missing[0]!r}")
    ranges = [(start, min(start + chunksize, count)) for start in range(0, count, chunksize)]
    if ranges:
        divisions = [start for start, _ in ranges] + [ranges[-1][1] - 1]
    else:
        ranges, divisions = [(0, 0)], [None, None]
    meta = _frames.empty_frame(info, columns, crs=info["crs"])
    import pandas as pd

    meta.index = pd.Index([], dtype="int64", name="fid")
    return dd.from_map(_read_range, ranges, args=[path, columns, encoding, info["crs_wkt"]], meta=meta,
                       divisions=divisions, label="vorpix-read-file", enforce_metadata=False)
