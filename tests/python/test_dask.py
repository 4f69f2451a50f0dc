"""vorpix.dask.read_file on a dask.distributed LocalCluster of two worker
processes, against vorpix.read_dataframe of the whole file."""
import os
import shutil
import struct

import pandas as pd
import pytest

import vorpix
import vorpix.dask
from conftest import esri
from geometry_checks import same_geometry

distributed = pytest.importorskip("distributed")


@pytest.fixture(scope="module")
def client():
    cluster = distributed.LocalCluster(n_workers=2, threads_per_worker=1, processes=True, dashboard_address=None)
    with distributed.Client(cluster) as c:
        yield c
    cluster.close()


def same_frames(ours, whole):
    assert list(ours.columns) == list(whole.columns)
    assert len(ours) == len(whole)
    ours = ours.reset_index(drop=True)
    for column in whole.columns:
        if column == "geometry":
            assert all(same_geometry(a, b, 0) for a, b in zip(ours.geometry, whole.geometry))
        else:
            pd.testing.assert_series_equal(ours[column], whole[column], check_names=False)
    assert ours.crs == whole.crs


@pytest.mark.parametrize("name", ["nc.shp", "utm.shp", "nulls.shp", "pointz.shp", "fieldtypes.shp"])
def test_partitions_read_on_two_worker_processes_are_the_whole_file(client, name):
    assert len(set(client.run(os.getpid).values())) == 2
    whole = vorpix.read_dataframe(esri(name))
    ddf = vorpix.dask.read_file(esri(name), npartitions=3)
    assert ddf.known_divisions
    count = vorpix.read_info(esri(name))["count"]
    assert ddf.divisions[0] == 0 and ddf.divisions[-1] == count - 1
    result = client.compute(ddf).result()
    assert type(result).__name__ == "GeoDataFrame"
    same_frames(result, whole)
    # Each partition holds the records of its bounds, by number.
    for k in range(ddf.npartitions):
        part = client.compute(ddf.get_partition(k)).result()
        low, high = ddf.divisions[k], ddf.divisions[k + 1]
        assert part.index.min() >= low and part.index.max() <= high
        assert type(part).__name__ == "GeoDataFrame"


def test_chunksize_and_columns(client):
    ddf = vorpix.dask.read_file(esri("nc.shp"), chunksize=30, columns=["NAME", "BIR74"])
    assert ddf.npartitions == 4 and ddf.divisions == (0, 30, 60, 90, 99)
    result = client.compute(ddf).result()
    whole = vorpix.read_dataframe(esri("nc.shp"), columns=["NAME", "BIR74"])
    same_frames(result, whole)
    assert list(ddf._meta.columns) == ["NAME", "BIR74", "geometry"]
    # Work on the partitions where they are.
    areas = client.compute(ddf.map_partitions(lambda df: df.geometry.area, meta=("area", "f8"))).result()
    assert areas.tolist() == pytest.approx(whole.geometry.area.tolist())
    with pytest.raises(ValueError):
        vorpix.dask.read_file(esri("nc.shp"), chunksize=10, npartitions=2)


def test_a_partition_reads_no_record_before_its_own(client, tmp_path):
    """With record 5 broken, the partitions that do not hold it still read:
    each one goes to its records through the .shx, none through the
    records before them."""
    for ext in (".shp", ".shx", ".dbf"):
        shutil.copy(esri("nc" + ext), tmp_path / ("nc" + ext))
    shx = open(tmp_path / "nc.shx", "rb").read()
    offset = 2 * struct.unpack_from(">i", shx, 100 + 8 * 5)[0]
    with open(tmp_path / "nc.shp", "r+b") as shp:
        shp.seek(offset + 8 + 36)
        shp.write(struct.pack("<i", 1 << 30))  # the record's part count
    path = str(tmp_path / "nc.shp")
    ddf = vorpix.dask.read_file(path, chunksize=25)
    for k in (1, 2, 3):
        part = client.compute(ddf.get_partition(k)).result()
        assert part.index.tolist() == list(range(25 * k, 25 * k + 25))
    with pytest.raises(vorpix.InvalidDataError) as caught:
        client.compute(ddf.get_partition(0)).result()
    assert "record 5" in caught.value.place
