"""The same world map drawn by `vorpix render` and by cartopy with matplotlib,
in one run.

The map: the whole world 1800 pixels wide, shorelines at the intermediate
resolution (every level), borders and rivers at the low one, a graticule
with its labels; as PNG and as SVG, on the plain longitude/latitude grid
and in Equal Earth. cartopy draws the very polygons and lines that vorpix
reads (vorpix.cartopy.GSHHSFeature, vorpix.borders, vorpix.rivers), so its
time is its own projecting and clipping and matplotlib's drawing, with
reading at vorpix's speed; cartopy's own shoreline files are not used.

Each map is drawn REPEATS times by each, interleaved (one of each in turn);
the times are CPU seconds (the tool's as a child process, cartopy's in this
one), and each ratio is cartopy's median over vorpix's, from this run
(above 1: vorpix is faster), with the least and greatest repetition.

Usage: PYTHONPATH=<build>/python /usr/bin/python3 bench/cartopy_render_bench.py [TOOL] [--quick]
TOOL is the vorpix program (default build/vorpix); --quick repeats each
map 3 times instead of 7.
"""
import os
import resource
import statistics
import subprocess
import sys
import tempfile
import time

import matplotlib

matplotlib.use("Agg")
import cartopy.crs as ccrs  # noqa: E402
import matplotlib.pyplot as plt  # noqa: E402

import vorpix  # noqa: E402
import vorpix.cartopy  # noqa: E402

TOP = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
WIDTH = 1800


def child_cpu():
    usage = resource.getrusage(resource.RUSAGE_CHILDREN)
    return usage.ru_utime + usage.ru_stime


def own_cpu():
    return time.process_time()


def draw_vorpix(tool, proj, out):
    command = [tool, "render", "--res", "i", "--line-res", "l", "--borders", "--rivers", "--width", str(WIDTH),
               "-o", out]
    if proj:
        command[2:2] = ["--proj", proj]
    before = child_cpu()
    subprocess.run(command, check=True, env=dict(os.environ, VORPIX_DATA_PATH=TOP))
    return child_cpu() - before


def draw_cartopy(crs, out):
    before = own_cpu()
    plain = isinstance(crs, ccrs.PlateCarree)
    fig = plt.figure(figsize=(WIDTH / 100, WIDTH / 100 / 2 if plain else WIDTH / 100 / 2.05), dpi=100)
    ax = fig.add_axes([0.02, 0.04, 0.96, 0.92], projection=crs)
    ax.set_global()
    ax.add_feature(vorpix.cartopy.GSHHSFeature(scale="i", levels=(1, 2, 3, 4)), linewidth=0.6)
    lonlat = ccrs.PlateCarree()
    ax.add_geometries(vorpix.rivers(res="l").geometry, crs=lonlat, facecolor="none", edgecolor="#2a6fbb",
                      linewidth=0.7)
    ax.add_geometries(vorpix.borders(res="l").geometry, crs=lonlat, facecolor="none", edgecolor="#a3262a",
                      linewidth=0.8)
    ax.gridlines(draw_labels=True, linewidth=0.5, color="gray")
    fig.savefig(out)
    plt.close(fig)
    return own_cpu() - before


def main():
    args = [a for a in sys.argv[1:] if a != "--quick"]
    tool = os.path.abspath(args[0]) if args else os.path.join(TOP, "build", "vorpix")
    repeats = 3 if "--quick" in sys.argv[1:] else 7
    maps = [("plain grid", None, ccrs.PlateCarree()), ("Equal Earth", "equal-earth", ccrs.EqualEarth())]
    print(f"The world {WIDTH} px wide: shorelines i, borders and rivers l, graticule; "
          f"{repeats} interleaved repetitions, CPU seconds, one run\n")
    with tempfile.TemporaryDirectory() as scratch:
        for name, proj, crs in maps:
            for fmt in ("png", "svg"):
                ours, theirs = [], []
                for _ in range(repeats):
                    ours.append(draw_vorpix(tool, proj, os.path.join(scratch, "v." + fmt)))
                    theirs.append(draw_cartopy(crs, os.path.join(scratch, "c." + fmt)))
                mine, peer = statistics.median(ours), statistics.median(theirs)
                print(f"{name:11} {fmt.upper()}: vorpix {mine:.3f} s ({min(ours):.3f}-{max(ours):.3f}), "
                      f"cartopy {peer:.2f} s ({min(theirs):.2f}-{max(theirs):.2f}); "
                      f"ratio cartopy / vorpix = {peer / mine:.1f}")


if __name__ == "__main__":
    main()
