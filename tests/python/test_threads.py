"""vorpix read from several Python threads at once: each call gives what it
gives alone, its own features and its own error, whatever the others are
reading meanwhile."""
import concurrent.futures
import hashlib
import os
import random
import warnings

import numpy as np
import pytest

import vorpix
from conftest import FIXTURES, esri

GOOD_SHAPEFILES = ["nc.shp", "areas.shp", "arcz.shp", "cyrillic.shp", "multipointz.shp", "latin_z.shp"]
BAD_TABLES = ["dbf_header_65535.dbf", "dbf_header_zero.dbf", "dbf_record_length_zero.dbf",
              "dbf_record_too_narrow.dbf", "dbf_records_run_past.dbf"]


def digest(frame):
    """The features of a (Geo)DataFrame as one hash: every value and every
    geometry's WKB."""
    h = hashlib.sha256()
    h.update(repr(list(frame.columns)).encode())
    for name in frame.columns:
        if name == "geometry":
            for g in frame.geometry:
                h.update(b"-" if g is None else g.wkb)
        else:
            h.update(repr(frame[name].tolist()).encode())
    return h.hexdigest()


def arrays_digest(arrays):
    h = hashlib.sha256()
    for a in (arrays.geometry_type, arrays.coords, arrays.ring_offsets, arrays.part_offsets, arrays.geom_offsets,
              arrays.fids):
        h.update(np.ascontiguousarray(a).tobytes())
    for name, values in arrays.fields.items():
        h.update(name.encode() + repr(values.tolist()).encode())
    return h.hexdigest()


def outcome(call, path):
    """What a call gives: a digest of its result, or its error's class and
    message (which names the file and what is wrong in it)."""
    try:
        with warnings.catch_warnings():
            warnings.simplefilter("ignore")
            if call == "netcdf_header":
                return "ok", repr(vorpix.netcdf_header(path))
            if call == "read_arrays":
                return "ok", arrays_digest(vorpix.read_arrays(path))
            return "ok", digest(vorpix.read_dataframe(path))
    except vorpix.Error as e:
        return type(e).__name__, str(e)


@pytest.fixture(scope="module")
def cut_netcdf(tmp_path_factory):
    """A netCDF file cut short at several lengths: each a different error."""
    out = tmp_path_factory.mktemp("cut")
    with open(os.path.join(FIXTURES, "netcdf", "types.nc"), "rb") as f:
        data = f.read()
    paths = []
    for n in (3, 10, 40, 100, 300):
        path = str(out / f"cut{n}.nc")
        with open(path, "wb") as f:
            f.write(data[:n])
        paths.append(path)
    return paths


def test_threads_read_what_one_thread_reads(cut_netcdf):
    """Good shapefiles, bad tables and netCDF headers, good and cut short,
    read in shuffled order by eight threads: every result and every error message is the one
    that the same call gives alone. A decoder whose log or state another
    thread's decode reached would give another file's error, or none."""
    calls = [("read_dataframe", esri(n)) for n in GOOD_SHAPEFILES + BAD_TABLES]
    calls += [("read_arrays", esri(n)) for n in GOOD_SHAPEFILES]
    headers = [("netcdf_header", p) for p in cut_netcdf + [os.path.join(FIXTURES, "netcdf", "example.nc")]]
    calls += headers
    alone = {c: outcome(*c) for c in calls}
    assert sum(1 for o in alone.values() if o[0] != "ok") == len(BAD_TABLES) + len(cut_netcdf)
    assert len({o for o in alone.values() if o[0] != "ok"}) == len(BAD_TABLES) + len(cut_netcdf)
    # Headers are decoded in microseconds: many of them, for the decodes
    # of different threads to overlap often.
    work = calls * 20 + headers * 4000
    random.Random(27).shuffle(work)
    with concurrent.futures.ThreadPoolExecutor(max_workers=8) as pool:
        results = list(pool.map(lambda c: (c, outcome(*c)), work))
    wrong = [(c, got, alone[c]) for c, got in results if got != alone[c]]
    assert not wrong, wrong[:3]
