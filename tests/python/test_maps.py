"""vorpix.coast, borders and rivers against the GeoJSON that the tool
writes for the same box: the same features in the same order, the same
properties, and every position within the tool's rounding (a billionth of a
degree)."""
import json
import subprocess

import numpy as np
import pytest
import shapely.geometry

import vorpix
from geometry_checks import runs

# Boxes as (west, south, east, north) and as the tool's W/E/S/N: one inland
# and sea, one across 180 (the Bering Strait), one round Antarctica.
BOXES = [(-10.0, 30.0, 35.0, 60.0), (160.0, 50.0, -160.0, 75.0), (-80.0, -90.0, -50.0, -60.0)]


def tool_features(tool, *args):
    run = subprocess.run([tool, *args], capture_output=True, check=True, env={"VORPIX_DATA_PATH": ""})
    return json.loads(run.stdout)["features"]


def same_features(frame, features, fields):
    assert len(frame) == len(features)
    assert list(frame.columns) == fields + ["geometry"]
    for row, feature in zip(frame.itertuples(index=False), features):
        assert {k: getattr(row, k) for k in fields} == feature["properties"]
        ours, theirs = row.geometry, shapely.geometry.shape(feature["geometry"])
        assert ours.geom_type == theirs.geom_type
        a, b = runs(ours), runs(theirs)
        assert len(a) == len(b)
        for ra, rb in zip(a, b):
            # The tool writes degrees rounded to a billionth, and a degree
            # that is a float (the binned files store floats) as the float's
            # shortest text.
            assert ra.shape == rb.shape
            near = np.abs(ra - rb) <= 1e-9
            same_float = ra.astype(np.float32) == rb.astype(np.float32)
            assert np.all(near | same_float), (ra[:3], rb[:3])
    assert frame.crs.to_string() == "OGC:CRS84"


@pytest.mark.parametrize("box", BOXES)
@pytest.mark.parametrize("kinds", ["f:0", "c:0", "f:1 c:2"])
def test_coast_is_what_the_tool_writes(tool, box, kinds):
    west, south, east, north = box
    ours = vorpix.coast(res="l", box=box, kinds=kinds)
    theirs = tool_features(tool, "coast", "--res", "l", "--kinds", kinds, "--box", f"{west}/{east}/{south}/{north}")
    assert len(ours) > 0
    same_features(ours, theirs, ["id", "kind", "level", "type", "antipode"])


def test_coast_options(tool):
    box = (-80.0, -75.0, -50.0, -60.0)
    for antarctica in ("ice-front", "grounding-line"):
        ours = vorpix.coast(res="c", box=box, kinds="f", antarctica=antarctica)
        theirs = tool_features(tool, "coast", "--res", "c", "--kinds", "f:0", "--box", "-80/-50/-75/-60",
                               "--antarctica", antarctica)
        same_features(ours, theirs, ["id", "kind", "level", "type", "antipode"])
    whole = vorpix.coast(res="crude", kinds="f")
    assert set(whole["level"]) == {1, 2, 3, 4} or set(whole["level"]) >= {1, 2}
    # Polygons are valid, exteriors counter-clockwise, within +-180.
    assert all(g.is_valid for g in whole.geometry)
    bounds = whole.total_bounds
    assert bounds[0] >= -180 and bounds[2] <= 180


@pytest.mark.parametrize("box", BOXES[:2])
def test_borders_and_rivers_are_what_the_tool_writes(tool, box):
    west, south, east, north = box
    text = f"{west}/{east}/{south}/{north}"
    same_features(vorpix.borders(res="l", box=box), tool_features(tool, "borders", "--res", "l", "--box", text),
                  ["kind", "level", "type"])
    same_features(vorpix.rivers(res="l", box=box),
                  tool_features(tool, "borders", "--rivers", "--res", "l", "--box", text), ["kind", "level", "type"])
    same_features(vorpix.borders(res="c", box=box, kinds="p:1"),
                  tool_features(tool, "borders", "--res", "c", "--kinds", "p:1", "--box", text),
                  ["kind", "level", "type"])


def test_missing_resolutions_and_bad_kinds_are_errors(tmp_path, monkeypatch):
    monkeypatch.setenv("VORPIX_DATA_PATH", str(tmp_path))
    with pytest.raises(ValueError):
        vorpix.coast(res="x")
    with pytest.raises(ValueError):
        vorpix.coast(kinds="q:1")
    with pytest.raises(ValueError):
        vorpix.coast(antarctica="somewhere")
    with pytest.raises(ValueError):
        vorpix.borders(kinds="r:1")
    with pytest.raises(ValueError):
        vorpix.coast(box=(0, 10, 10, 5))
