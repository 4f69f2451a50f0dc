"""vorpix.read_dataframe, read_info and read_arrays against GeoPandas'
read_file through Fiona (GDAL), shapely and pyshp, on the real shapefiles
that Debian packages ship and on the project's fixtures."""
import glob
import os
import threading
import sys
import warnings

import numpy as np
import pandas as pd
import pytest
import shapefile  # pyshp
import shapely.geometry
import shapely.wkb

import geopandas
import vorpix
from conftest import esri, FIXTURES
from geometry_checks import runs, same_geometry

ESRI = os.path.join(FIXTURES, "esri")

# Fixtures whose geometries Fiona gives with coordinates that are not
# finite: vorpix leaves such a geometry out (None, with a DataWarning), since
# a point at NaN is nowhere and GEOS's operations on it are undefined.
NONFINITE = {"nonfinite_areas.shp", "nonfinite_lines.shp", "nonfinite_points.shp"}

# The .prj names ESRI's Orthographic, which ESRI defines on the sphere: PROJ
# reads it as "Orthographic (Spherical)", GDAL's ESRI morphing as the
# ellipsoidal EPSG method 9840, which is a different projection.
SPHERICAL_ESRI = {"unprojectable.shp"}


def read_both(path):
    with warnings.catch_warnings():
        warnings.simplefilter("ignore")
        ours = vorpix.read_dataframe(path)
        theirs = geopandas.read_file(path)
    return ours, theirs


# Tables whose text GDAL reads as ISO-8859-1 where vorpix reads what the
# bytes are: enc_system's .cpg says "System", which names no code page, over a
# language driver that names CP1251 (vorpix follows the driver; GDAL
# falls back to ISO-8859-1); enc_utf8_none names no encoding and holds valid
# UTF-8, which vorpix reads as such (a Latin-1 reading of UTF-8 bytes gives
# "VÃ¤nern" for "Vänern"). Fiona's text is then ours in those bytes read as
# ISO-8859-1.
MISREAD_BY_GDAL = {"enc_system.dbf": "cp1251", "enc_utf8_none.dbf": "utf-8"}


def fiona_value(value, dbase_type):
    """Fiona's value as vorpix types it: GDAL reads a logical (L) field as
    text "T", "F", "Y", "N" and a date (D) as text "YYYY-MM-DD", where vorpix
    gives bool and datetime64, the types the table declares."""
    if value is None or (isinstance(value, float) and np.isnan(value)):
        return None
    if dbase_type == "L" and isinstance(value, str):
        return {"T": True, "Y": True, "F": False, "N": False}.get(value.upper())
    if dbase_type == "D" and isinstance(value, str):
        return pd.Timestamp(value.replace("/", "-"))
    return value


def our_value(value):
    if value is None or value is pd.NaT or (isinstance(value, float) and np.isnan(value)):
        return None
    if isinstance(value, np.generic):
        return value.item()
    return value


def paired_columns(ours, theirs, info):
    """Our columns and Fiona's, paired by name. A table may repeat a name
    (names are cut to 10 bytes): vorpix gives every field, while Fiona's
    records are dicts, which keep one column per name at its first place
    holding the last such field's values."""
    names = list(ours.columns[:-1]) if "geometry" in ours.columns else list(ours.columns)
    assert list(dict.fromkeys(names)) + ["geometry"] == list(theirs.columns)
    last = {name: position for position, name in enumerate(names)}
    for name, position in last.items():
        yield name, info["field_types"][position][0], ours.iloc[:, position], theirs[name]


def same_column(name, dbase_type, a, b):
    if a.dtype.kind in "if" and b.dtype.kind in "if":
        # Numbers: the same dtype, each value the same double.
        assert a.dtype == b.dtype, name
        assert np.array_equal(a.to_numpy(float), b.to_numpy(float), equal_nan=True), name
        return
    for i, (x, y) in enumerate(zip(a, b)):
        assert our_value(x) == fiona_value(y, dbase_type), (name, i, x, y)


def compare(path):
    ours, theirs = read_both(path)
    name = os.path.basename(path)
    assert len(ours) == len(theirs)
    info = vorpix.read_info(path)
    for field, dbase_type, a, b in paired_columns(ours, theirs, info):
        same_column(field, dbase_type, a, b)
    for i, (a, b) in enumerate(zip(ours.geometry, theirs.geometry)):
        if name in NONFINITE and b is not None and not all(np.all(np.isfinite(r)) for r in runs(b) or []):
            assert a is None, i
            continue
        assert same_geometry(a, b, 1e-9), (i, a, b)
    if name in SPHERICAL_ESRI:
        assert "Orthographic (Spherical)" in ours.crs.to_wkt() and "Spherical" not in theirs.crs.to_wkt()
    elif theirs.crs is None:
        assert ours.crs is None
    else:
        assert ours.crs == theirs.crs


def corpus_files(corpus, pattern):
    return sorted(glob.glob(os.path.join(corpus, "**", pattern), recursive=True))


class TestAgainstFiona:
    """Counts, typed attributes, geometries within 1e-9 and CRS as GeoPandas
    reads them through Fiona; where they differ, vorpix is right and the
    comparison says why."""

    @pytest.mark.parametrize("name", sorted(os.path.basename(p) for p in glob.glob(os.path.join(ESRI, "*.shp"))))
    def test_fixture_shapefiles(self, name):
        compare(esri(name))

    def test_corpus_shapefiles(self, corpus):
        files = corpus_files(corpus, "*.shp")
        assert len(files) >= 30
        for path in files:
            compare(path)

    def test_tables_alone(self, corpus):
        # A .dbf with no .shp beside it: rows without geometry. (Given a .dbf
        # that has a .shp, GDAL opens the shapefile; vorpix reads the table.)
        files = [p for p in corpus_files(corpus, "*.dbf") + sorted(glob.glob(os.path.join(ESRI, "enc_*.dbf")))
                 if not os.path.exists(p[:-4] + ".shp")]
        assert files
        for path in files:
            ours, theirs = read_both(path)
            assert len(ours) == len(theirs)
            assert ours.geometry.isna().all()
            misread = MISREAD_BY_GDAL.get(os.path.basename(path))
            for field, dbase_type, a, b in paired_columns(ours, theirs, vorpix.read_info(path)):
                if misread and a.dtype == object:
                    assert any(isinstance(x, str) and not x.isascii() for x in a)
                    a = a.map(lambda x: x.encode(misread).decode("latin-1") if isinstance(x, str) else x)
                same_column(field, dbase_type, a, b)

    def test_encodings(self):
        # The .cpg (cyrillic.shp: CP1251) and the table's language driver
        # decide, as for GDAL; the encoding argument overrides both.
        for name in ("cyrillic.shp", "latin_z.shp"):
            compare(esri(name))
        forced = vorpix.read_dataframe(esri("cyrillic.shp"), encoding="ISO-8859-1", read_geometry=False)
        natural = vorpix.read_dataframe(esri("cyrillic.shp"), read_geometry=False)
        text = [c for c in natural.columns if natural[c].dtype == object][0]
        cyrillic = [v for v in natural[text] if isinstance(v, str) and any("\u0400" <= ch <= "\u04ff" for ch in v)]
        assert cyrillic
        assert not any(isinstance(v, str) and any("\u0400" <= ch <= "\u04ff" for ch in v) for v in forced[text])
        assert vorpix.read_info(esri("cyrillic.shp"))["encoding"] != vorpix.read_info(
            esri("cyrillic.shp"), encoding="ISO-8859-1")["encoding"]


class TestOptions:
    """columns, bbox, skip_features, max_features and read_geometry as pyogrio
    names them, checked against the whole file read without them."""

    def test_columns_choose_and_order(self):
        whole = vorpix.read_dataframe(esri("nc.shp"))
        some = vorpix.read_dataframe(esri("nc.shp"), columns=["NAME", "AREA"])
        assert list(some.columns) == ["NAME", "AREA", "geometry"]
        assert some["NAME"].tolist() == whole["NAME"].tolist()
        none = vorpix.read_dataframe(esri("nc.shp"), columns=[])
        assert list(none.columns) == ["geometry"] and len(none) == len(whole)
        with pytest.raises(vorpix.InvalidDataError) as caught:
            vorpix.read_dataframe(esri("nc.shp"), columns=["NOPE"])
        assert "NOPE" in str(caught.value) and caught.value.file.endswith("nc.dbf")

    def test_bbox_is_in_the_files_coordinates(self):
        # utm.shp is in metres: the box is too, and a feature is kept when
        # its geometry meets it (shapely's intersects is the oracle).
        whole = vorpix.read_dataframe(esri("utm.shp"))
        box = (600000.0, 3850000.0, 700000.0, 3950000.0)
        some = vorpix.read_dataframe(esri("utm.shp"), bbox=box)
        expected = [i for i, g in enumerate(whole.geometry) if g is not None and g.intersects(shapely.geometry.box(*box))]
        assert 0 < len(expected) < len(whole)
        assert some["NAME"].tolist() == whole["NAME"].iloc[expected].tolist()
        theirs = geopandas.read_file(esri("utm.shp"), bbox=box)
        assert sorted(some["NAME"]) == sorted(theirs["NAME"])

    def test_skip_and_max(self):
        whole = vorpix.read_dataframe(esri("nc.shp"))
        part = vorpix.read_dataframe(esri("nc.shp"), skip_features=10, max_features=5)
        assert part["NAME"].tolist() == whole["NAME"].iloc[10:15].tolist()
        assert all(same_geometry(a, b, 0) for a, b in zip(part.geometry, whole.geometry.iloc[10:15]))
        assert len(vorpix.read_dataframe(esri("nc.shp"), skip_features=1000)) == 0
        assert len(vorpix.read_dataframe(esri("nc.shp"), max_features=0)) == 0
        by_fid = vorpix.read_dataframe(esri("nc.shp"), skip_features=98, fid_as_index=True)
        assert by_fid.index.tolist() == [98, 99]
        with pytest.raises(ValueError):
            vorpix.read_dataframe(esri("nc.shp"), skip_features=-1)

    def test_skip_counts_matches_when_a_bbox_filters(self):
        box = (600000.0, 3850000.0, 700000.0, 3950000.0)
        some = vorpix.read_dataframe(esri("utm.shp"), bbox=box)
        later = vorpix.read_dataframe(esri("utm.shp"), bbox=box, skip_features=1)
        assert later["NAME"].tolist() == some["NAME"].tolist()[1:]

    def test_without_geometry(self):
        df = vorpix.read_dataframe(esri("nc.shp"), read_geometry=False)
        assert type(df) is pd.DataFrame and "geometry" not in df.columns and len(df) == 100

    def test_deleted_records_are_left_out(self):
        # pyshp writes the oracle: which records the table marks deleted.
        table = shapefile.Reader(esri("nulls.shp"))
        deleted = [i for i in range(len(table)) if table.record(i) is None]
        df = vorpix.read_dataframe(esri("nulls.shp"), fid_as_index=True)
        assert set(df.index).isdisjoint(deleted)


class TestInfo:
    def test_info_from_the_headers(self, corpus):
        for path in corpus_files(corpus, "*.shp") + [esri("utm.shp"), esri("pointz.shp")]:
            info = vorpix.read_info(path)
            sf = shapefile.Reader(path)
            assert info["count"] == len(sf)
            assert info["fields"] == [f[0] for f in sf.fields[1:]]
            assert [t for t, _, _ in info["field_types"]] == [f[1] for f in sf.fields[1:]]
            assert np.allclose(info["bounds"], sf.bbox)
            kinds = {1: "Point", 3: "LineString", 5: "Polygon", 8: "MultiPoint", 31: "Polygon"}
            assert info["geometry_type"] == (kinds.get(sf.shapeType % 10 if sf.shapeType != 31 else 31)
                                             if sf.shapeType else None)
            assert info["has_z"] == (sf.shapeType in (11, 13, 15, 18, 31))
            df = vorpix.read_dataframe(path)
            assert info["crs"] == df.crs
            if info["encoding"]:
                assert "".join(info["encoding"].lower().split("-")) != ""

    def test_dtypes_are_what_reading_gives(self):
        info = vorpix.read_info(esri("fieldtypes.shp"))
        df = vorpix.read_dataframe(esri("fieldtypes.shp"))
        for name, dtype in zip(info["fields"], info["dtypes"]):
            if not df[name].isna().any():
                assert str(df[name].dtype).split("[")[0] == dtype.split("[")[0], name


def shapes_of(arrays):
    """shapely geometries built from read_arrays' arrays alone."""
    out = []
    for f in range(len(arrays.geometry_type)):
        kind = int(arrays.geometry_type[f])
        groups = range(arrays.geom_offsets[f], arrays.geom_offsets[f + 1])

        def run(r):
            return arrays.coords[arrays.ring_offsets[r]:arrays.ring_offsets[r + 1]]

        def group_runs(g):
            return [run(r) for r in range(arrays.part_offsets[g], arrays.part_offsets[g + 1])]

        if kind == -1:
            out.append(None)
        elif kind == 0:
            out.append(shapely.geometry.Point(run(arrays.part_offsets[groups[0]])[0]))
        elif kind == 4:
            out.append(shapely.geometry.MultiPoint(run(arrays.part_offsets[groups[0]])))
        elif kind == 1:
            out.append(shapely.geometry.LineString(group_runs(groups[0])[0]))
        elif kind == 5:
            out.append(shapely.geometry.MultiLineString(group_runs(groups[0])))
        else:
            polygons = [shapely.geometry.Polygon(rs[0], rs[1:]) for rs in map(group_runs, groups)]
            out.append(polygons[0] if kind == 3 else shapely.geometry.MultiPolygon(polygons))
    return out


class TestArrays:
    @pytest.mark.parametrize("name", ["nc.shp", "areas.shp", "arcz.shp", "multipointz.shp", "pointz.shp",
                                      "nulls.shp", "multipatch.shp", "polygonm.shp"])
    def test_round_trip_through_shapely(self, name):
        arrays = vorpix.read_arrays(esri(name))
        df = vorpix.read_dataframe(esri(name))
        built = shapes_of(arrays)
        assert len(built) == len(df)
        for a, b in zip(built, df.geometry):
            assert same_geometry(a, b, 0)
            if a is not None:
                # And through WKB, as GEOS writes it.
                assert shapely.wkb.loads(a.wkb).equals_exact(b, 0)
        assert list(arrays.fields) == [c for c in df.columns if c != "geometry"]
        for name_, values in arrays.fields.items():
            assert len(values) == len(df)
        assert arrays.fids.tolist() == vorpix.read_dataframe(esri(name), fid_as_index=True).index.tolist()

    def test_arrays_are_flat_numbers(self):
        arrays = vorpix.read_arrays(esri("nc.shp"))
        assert arrays.coords.dtype == np.float64 and arrays.coords.shape[1] == 2
        assert arrays.ring_offsets[0] == 0 and arrays.ring_offsets[-1] == len(arrays.coords)
        assert np.all(np.diff(arrays.ring_offsets) >= 4)  # closed rings
        assert arrays.geom_offsets[-1] == len(arrays.part_offsets) - 1
        assert arrays.part_offsets[-1] == len(arrays.ring_offsets) - 1
        assert set(np.unique(arrays.geometry_type)) <= {3, 6}
        z = vorpix.read_arrays(esri("arcz.shp"))
        assert z.coords.shape[1] == 3


class TestShapelyObjects:
    """With shapely 1.8 the native part builds each geometry in GEOS itself
    and hands shapely objects over; they are what shapely makes of the same
    feature's WKB, and shapely owns and frees them."""

    @pytest.mark.parametrize("name", sorted(os.path.basename(p) for p in glob.glob(os.path.join(ESRI, "*.shp"))))
    def test_as_shapely_reads_the_wkb(self, name):
        path = esri(name)
        with warnings.catch_warnings():
            warnings.simplefilter("ignore")
            try:
                frame = vorpix.read_dataframe(path)
            except vorpix.Error:
                pytest.skip("a bad file")
            wkb = vorpix._vorpix.read_shapefile(path)["wkb"]
        assert len(wkb) == len(frame)
        for i, (g, b) in enumerate(zip(frame.geometry, wkb)):
            if b is None:
                assert g is None, i
                continue
            w = shapely.wkb.loads(b)
            assert type(g) is type(w) and g.has_z == w.has_z, (i, g.geom_type, w.geom_type)
            assert g.wkb == w.wkb, i

    def test_shapely_owns_them(self):
        import gc

        kept = []
        for _ in range(20):
            frame = vorpix.read_dataframe(esri("nc.shp"))
            kept.append(frame.geometry.iloc[3])
            assert frame.geometry.iloc[0].is_valid and frame.geometry.area.sum() > 0
            parts = list(frame.geometry.iloc[3].geoms) if frame.geometry.iloc[3].geom_type.startswith("Multi") else []
            del frame
            gc.collect()
            # Parts and a geometry outlive the frame that held them.
            assert all(p.area > 0 for p in parts)
        assert len({g.wkb for g in kept}) == 1


def test_decoding_lets_other_threads_run(tmp_path):
    """While the native part decodes, the GIL is free: with a switch interval
    longer than the whole read, the main thread still runs before the reading
    thread is done, which it could not if the decoder held the GIL. (A table
    of numbers read without geometry: nothing after the decoding lets the
    GIL go, as numpy does when it fills an array of objects.)"""
    path = str(tmp_path / "rows.dbf")
    with shapefile.Writer(dbf=path) as w:
        w.field("VALUE", "N", 10, 0)
        w.field("SHARE", "N", 12, 4)
        for i in range(30000):
            w.record(i, i / 7)

    def ran_while_decoding():
        state = {"done": False}
        started = threading.Event()

        def read():
            started.set()
            vorpix._vorpix.read_shapefile(path, read_geometry=False, wkb=False)
            state["done"] = True

        reader = threading.Thread(target=read)
        reader.start()
        started.wait()
        ran = not state["done"]
        reader.join()
        return ran

    # On a busy machine the main thread may not be scheduled before a read
    # ends; a decoder that held the GIL would never let it run at all, so
    # one read in several that it runs beside is enough.
    previous = sys.getswitchinterval()
    sys.setswitchinterval(30.0)
    try:
        assert any(ran_while_decoding() for _ in range(10))
    finally:
        sys.setswitchinterval(previous)

