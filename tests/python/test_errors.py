"""Bad files through every function of vorpix: each one raises a
vorpix.Error naming the file (or reads), and none crashes the interpreter
or takes memory beyond the file's size. Every file is tried in a child
interpreter whose address space is capped, so that a crash or a runaway
allocation shows as that file's failure instead of ending the test run."""
import glob
import json
import os
import subprocess
import sys

import pytest

import vorpix
from conftest import FIXTURES, esri

# Run in the child: every path given, through every function that takes a
# file; prints one JSON line per (path, function): "ok", or the exception's
# class names and its file attribute.
CHILD = r"""
import json, sys, warnings
warnings.simplefilter("ignore")
import vorpix
calls = {
    "read_dataframe": lambda p: vorpix.read_dataframe(p),
    "read_dataframe_bbox": lambda p: vorpix.read_dataframe(p, bbox=(-1e300, -1e300, 1e300, 1e300), skip_features=1),
    "read_info": lambda p: vorpix.read_info(p),
    "read_arrays": lambda p: vorpix.read_arrays(p),
    "read_texture": lambda p: vorpix.read_texture(p),
    "read_texture_level_3": lambda p: vorpix.read_texture(p, 3),
    "netcdf_header": lambda p: vorpix.netcdf_header(p),
    "dask_read_file": lambda p: __import__("vorpix.dask").dask.read_file(p, chunksize=7).compute(
        scheduler="synchronous"),
}
# Only the functions the package has.
import importlib.util
have = {name for name in ("read_texture", "netcdf_header") if hasattr(vorpix, name)}
if importlib.util.find_spec("vorpix.dask") is not None:
    have.add("dask")
calls = {k: v for k, v in calls.items() if k.startswith(("read_dataframe", "read_info", "read_arrays"))
         or k.split("_level")[0] in have or (k.startswith("dask") and "dask" in have)}
for path in sys.argv[1:]:
    for name, call in calls.items():
        try:
            call(path)
            out = {"outcome": "ok"}
        except BaseException as e:
            out = {"outcome": [c.__name__ for c in type(e).__mro__], "file": getattr(e, "file", None),
                   "message": str(e)}
        out.update(path=path, call=name)
        print(json.dumps(out), flush=True)
"""


def run_child(paths, megabytes=1500):
    env = dict(os.environ, OPENBLAS_NUM_THREADS="1", OMP_NUM_THREADS="1")
    command = [sys.executable, "-c", CHILD] + list(paths)
    if os.path.exists("/usr/bin/prlimit"):
        command = ["prlimit", f"--as={megabytes * 1000000}"] + command
    run = subprocess.run(command, capture_output=True, text=True, env=env, timeout=600)
    assert run.returncode == 0, f"the interpreter ended with {run.returncode}: {run.stderr[-2000:]}"
    results = [json.loads(line) for line in run.stdout.splitlines()]
    calls = {r["call"] for r in results}
    assert len(calls) >= 4 and len(results) == len(calls) * len(paths)
    return results


def check(results):
    for r in results:
        if r["outcome"] == "ok":
            continue
        assert "Error" in r["outcome"] and "vorpix" not in r["outcome"], r
        # The class is one of vorpix's, and it names the file at fault.
        assert r["outcome"][0] in {"InvalidDataError", "ReadError", "UnsupportedError", "OutOfMemoryError"}, r
        assert r["file"], r


def test_hostile_files(hostile_dir):
    """Files that parse but ask for gigabytes (make_hostile.py)."""
    paths = sorted(glob.glob(os.path.join(hostile_dir, "*")))
    assert paths
    results = run_child(paths)
    check(results)
    # Each is refused by the function for its kind.
    by = {(os.path.basename(r["path"]), r["call"]): r for r in results}
    for name in ("many_levels.dds", "huge_dxt5.dds"):
        if (name, "read_texture") in by:
            assert by[(name, "read_texture")]["outcome"] != "ok"
    for name in os.listdir(hostile_dir):
        if name.endswith(".dbf"):
            assert by[(name, "read_dataframe")]["outcome"] != "ok"


def test_fixture_files():
    """Every file of the shapefile fixtures (bad headers, records running
    past the end, non-finite coordinates, unreadable .prj, ...) and the DDS
    and netCDF fixtures, through every function."""
    paths = sorted(p for d in ("esri", "dds", "netcdf") for p in glob.glob(os.path.join(FIXTURES, d, "*"))
                   if os.path.splitext(p)[1] in (".shp", ".shx", ".dbf", ".prj", ".cpg", ".dds", ".nc"))
    results = run_child(paths)
    check(results)
    by = {(os.path.basename(r["path"]), r["call"]): r for r in results}
    for name in ("dbf_header_zero.dbf", "dbf_records_run_past.dbf", "dbf_record_length_zero.dbf"):
        assert by[(name, "read_dataframe")]["outcome"] != "ok", name


def test_truncated_and_corrupted_files(tmp_path):
    """A shapefile, a texture and a netCDF header cut short at many places,
    and with bytes overwritten: errors or readings, never a crash."""
    made = []
    sources = [esri("nc.shp"), esri("multipatch.shp"), os.path.join(FIXTURES, "dds", "dxt5_64x64.dds"),
               os.path.join(FIXTURES, "dds", "dxt1_64x32.dds"), os.path.join(FIXTURES, "netcdf", "types.nc")]
    for source in sources:
        data = open(source, "rb").read()
        stem, ext = os.path.splitext(os.path.basename(source))
        companions = {e: open(source[:-4] + e, "rb").read() for e in (".shx", ".dbf") if os.path.exists(source[:-4] + e)}
        cuts = sorted(set([0, 1, 4, 50, 99, 100, 108, 128, 200] + [len(data) * k // 13 for k in range(1, 13)]))
        for i, cut in enumerate(c for c in cuts if c < len(data)):
            variants = [("cut", data[:cut])]
            if cut + 8 <= len(data):
                variants.append(("flip", data[:cut] + bytes(b ^ 0xA5 for b in data[cut:cut + 8]) + data[cut + 8:]))
            for kind, bytes_ in variants:
                path = tmp_path / f"{stem}_{kind}{i}{ext}"
                path.write_bytes(bytes_)
                for e, c in companions.items():
                    (tmp_path / f"{stem}_{kind}{i}{e}").write_bytes(c)
                made.append(str(path))
    check(run_child(made))


def test_errors_carry_code_file_and_place(tmp_path):
    with pytest.raises(vorpix.ReadError) as caught:
        vorpix.read_dataframe(str(tmp_path / "absent.shp"))
    assert isinstance(caught.value, OSError) and isinstance(caught.value, vorpix.Error)
    assert caught.value.code == "io" and caught.value.file.endswith("absent.shp")
    bad = tmp_path / "bad.shp"
    data = bytearray(open(esri("nc.shp"), "rb").read())
    # A header that frames a file of 128 bytes, whose first record says it
    # holds more.
    cut = data[:128]
    cut[24:28] = (len(cut) // 2).to_bytes(4, "big")
    bad.write_bytes(bytes(cut))
    (tmp_path / "bad.shx").write_bytes(open(esri("nc.shx"), "rb").read())
    with pytest.raises(vorpix.InvalidDataError) as caught:
        vorpix.read_dataframe(str(bad))
    e = caught.value
    assert e.code == "invalid" and e.file == str(bad) and e.place.startswith("record 0")
    assert e.reason and str(e).startswith(str(bad))


def test_bad_arguments_are_python_errors():
    with pytest.raises(ValueError):
        vorpix.read_dataframe(esri("nc.shp"), bbox=(1, 2, 3))
    with pytest.raises(TypeError):
        vorpix.read_dataframe(esri("nc.shp"), columns="NAME")
    with pytest.raises(ValueError):
        vorpix.read_dataframe(esri("nc.shp"), bbox=(3, 0, 1, 1))
    with pytest.raises(TypeError):
        vorpix.read_dataframe(esri("nc.shp"), max_features=1.5)
