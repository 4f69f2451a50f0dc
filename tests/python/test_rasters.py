"""vorpix.read_texture against Pillow's decoding of the DDS fixtures, and
vorpix.netcdf_header against scipy's netCDF reader."""
import glob
import os
import struct

import numpy as np
import pytest
from scipy.io import netcdf_file

import vorpix
from conftest import FIXTURES

DDS = os.path.join(FIXTURES, "dds")
NETCDF = os.path.join(FIXTURES, "netcdf")


def pillow_levels(path):
    """The levels that pillow_decode.py wrote: width, height, RGBA bytes."""
    data = open(path, "rb").read()
    levels, at = [], 0
    while at < len(data):
        w, h = struct.unpack_from("<2I", data, at)
        at += 8
        levels.append(np.frombuffer(data, np.uint8, w * h * 4, at).reshape(h, w, 4))
        at += w * h * 4
    return levels


@pytest.mark.parametrize("name", sorted(os.path.basename(p) for p in glob.glob(os.path.join(DDS, "*.dds"))))
def test_texture_levels_are_pillows(name):
    """Every level as Pillow decodes it, but where the library's rules say
    otherwise: DXT1's three-colour blocks give their fourth colour as opaque
    black where Pillow makes it transparent, and 5:6:5 endpoints expand by
    shifting and adding, one apart from Pillow's bit replication for a few
    component values."""
    levels = pillow_levels(os.path.join(DDS, name[:-4] + ".pillow"))
    height, width = levels[0].shape[:2]
    for k, theirs in enumerate(levels):
        if (width >> k) == 0 or (height >> k) == 0:
            # The library halves a side of 1 to 0, as the chain's sizes
            # say; Pillow's decoder keeps 1. A level of no pixels is refused.
            with pytest.raises(vorpix.InvalidDataError):
                vorpix.read_texture(os.path.join(DDS, name), level=k)
            continue
        ours = vorpix.read_texture(os.path.join(DDS, name), level=k)
        assert ours.dtype == np.uint8 and ours.shape == theirs.shape
        exact = np.all(ours == theirs, axis=2)
        black = np.all(ours == [0, 0, 0, 255], axis=2) & np.all(theirs == [0, 0, 0, 0], axis=2)
        near = (ours[..., 3] == theirs[..., 3]) & np.all(np.abs(ours[..., :3].astype(int) - theirs[..., :3]) <= 1,
                                                         axis=2)
        assert np.all(exact | black | near), (name, k)
    with pytest.raises(vorpix.InvalidDataError) as caught:
        vorpix.read_texture(os.path.join(DDS, name), level=len(levels) + 20)
    assert caught.value.place.startswith("level")


def test_textures_that_are_not_are_errors(tmp_path):
    with pytest.raises(vorpix.InvalidDataError):
        vorpix.read_texture(os.path.join(NETCDF, "types.nc"))
    data = bytearray(open(os.path.join(DDS, "dxt1_64x32.dds"), "rb").read())
    data[84:88] = b"ATI2"
    other = tmp_path / "ati2.dds"
    other.write_bytes(bytes(data))
    with pytest.raises(vorpix.UnsupportedError):
        vorpix.read_texture(str(other))
    with pytest.raises(ValueError):
        vorpix.read_texture(os.path.join(DDS, "dxt1_64x32.dds"), level=-1)


def scipy_value(value):
    if isinstance(value, bytes):
        return value.decode("latin-1").rstrip("\0")
    return np.atleast_1d(np.asarray(value))


def same_attributes(ours, theirs):
    assert list(ours) == list(theirs)
    for name, value in theirs.items():
        expected = scipy_value(value)
        if isinstance(expected, str):
            assert ours[name] == expected, name
        else:
            assert ours[name].dtype == expected.dtype.newbyteorder("=") and np.array_equal(ours[name], expected), name


NETCDF_FILES = sorted(p for p in glob.glob(os.path.join(NETCDF, "*.nc")) if "64bit" not in p and "nc4" not in p)


@pytest.mark.parametrize("path", NETCDF_FILES, ids=os.path.basename)
def test_netcdf_headers_are_scipys(path):
    header = vorpix.netcdf_header(path)
    with netcdf_file(path, "r", mmap=False) as nc:
        dims = {name: (None if size is None else int(size)) for name, size in nc.dimensions.items()}
        assert header["dimensions"] == dims
        same_attributes(header["attributes"], nc._attributes)
        assert list(header["variables"]) == list(nc.variables)
        for name, var in nc.variables.items():
            ours = header["variables"][name]
            assert ours["dimensions"] == var.dimensions
            kinds = {"b": "byte", "c": "char", "h": "short", "i": "int", "f": "float", "d": "double"}
            assert ours["type"] == kinds[var.typecode()]
            same_attributes(ours["attributes"], var._attributes)
        assert header["numrecs"] == nc._recs


def test_netcdf_files_not_classic_are_unsupported():
    for name in ("types_64bit.nc", "types_nc4.nc"):
        with pytest.raises(vorpix.UnsupportedError) as caught:
            vorpix.netcdf_header(os.path.join(NETCDF, name))
        assert caught.value.file.endswith(name)
    with pytest.raises(vorpix.InvalidDataError):
        vorpix.netcdf_header(os.path.join(DDS, "dxt1_64x32.dds"))
