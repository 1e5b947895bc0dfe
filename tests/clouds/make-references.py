"""What the cloud tests compare with, made by GDAL and numpy natively before the tests run, so
that the Windows build under Wine checks against the very same files as the native build.

make-references.py OUT REAL-DATA CLI-TESTS-DIR
  OUT/mask/       with the real data: the L2A scene's 20 m classification and its MSK_CLASSI_B00
                  as `gdalwarp -r near -ovr NONE` puts them on a band's grid (raw bytes, one
                  band after the other), and each grid as GDAL reads it from the band
  OUT/median/     random dates: samples, masks and numpy's lower median of the clear ones
  OUT/cloudfree/  generated L2A products (four dates, one date, two tiles) and numpy's
                  cloud-free picture of them with its count of pixels by number of clear dates
"""
import os
import shutil
import subprocess
import sys
import types

import numpy as np
from osgeo import gdal

gdal.UseExceptions()
out, real, cli_tests = sys.argv[1:4]
# The reference composite of clouds-test.sh (its name has a hyphen: loaded from its file).
reference_file = os.path.join(cli_tests, "cloudfree-reference.py")
reference = types.ModuleType("cloudfree_reference")
with open(reference_file) as source:
    exec(compile(source.read(), reference_file, "exec"), reference.__dict__)
shutil.rmtree(out, ignore_errors=True)


def write_grid(path, band):
    ds = gdal.Open(band)
    gt = ds.GetGeoTransform()
    with open(path, "w") as f:
        # repr: the shortest text that reads back as the same double.
        f.write(f"{gt[0]!r} {gt[3]!r} {gt[1]!r} {-gt[5]!r} {ds.RasterXSize} {ds.RasterYSize}\n")
    return gt, ds.RasterXSize


def warp(source, gt, width, first, count, path):
    top = gt[3] + first * gt[5]
    warped = gdal.Warp("", source, format="MEM", resampleAlg="near", overviewLevel="NONE",
                       outputBounds=(gt[0], top + count * gt[5], gt[0] + width * gt[1], top),
                       xRes=gt[1], yRes=-gt[5])
    array = warped.ReadAsArray().astype(np.uint8)
    assert array.shape[-2:] == (count, width), array.shape
    array.tofile(path)


# The masks on the real scene.
scene = os.path.join(real, "l2a_T29UNU_20221005_unmodified")
if os.path.exists(os.path.join(scene, "MSK_CLASSI_B00.jp2")):
    mask = os.path.join(out, "mask")
    os.makedirs(mask)
    stem = os.path.join(scene, "T29UNU_20221005T115411_")
    gt, width = write_grid(os.path.join(mask, "grid-60m.txt"), stem + "B04_60m.jp2")
    warp(stem + "SCL_20m.jp2", gt, width, 0, width, os.path.join(mask, "scl-60m.u8"))
    warp(os.path.join(scene, "MSK_CLASSI_B00.jp2"), gt, width, 0, width, os.path.join(mask, "classi-60m.u8"))
    # The 10 m grid (the aerosol layer lies on it): the fifth row of 1024-pixel tiles and the last.
    gt, width = write_grid(os.path.join(mask, "grid-10m.txt"), stem + "AOT_10m.jp2")
    for first, count in ((4096, 1024), (10240, 740)):
        warp(stem + "SCL_20m.jp2", gt, width, first, count, os.path.join(mask, f"scl-10m-{first}.u8"))

# The median on random dates: values over the whole 16-bit range, about one pixel in three
# masked on a date and one sample in twenty without data, so that every count of clear dates
# from none to all occurs.
median = os.path.join(out, "median")
os.makedirs(median)
rng = np.random.default_rng(21)
height, width = 61, 97
for dates in (1, 2, 3, 4, 5, 8):
    samples = rng.integers(0, 1 << 16, size=(dates, height, width, 3), dtype=np.uint16)
    samples[rng.random(samples.shape) < 0.05] = 0
    masks = (rng.random((dates, height, width)) < 1 / 3).astype(np.uint8)
    clear = (masks == 0) & np.all(samples != 0, axis=-1)
    samples.tofile(os.path.join(median, f"{dates}.samples"))
    masks.tofile(os.path.join(median, f"{dates}.masks"))
    reference.lower_median(samples, clear)[0].tofile(os.path.join(median, f"{dates}.median"))

# The cloud-free picture of generated products.
free = os.path.join(out, "cloudfree")
make_dates = os.path.join(cli_tests, "make-dates.py")
for folder, tile, days in (("four", "T29UNU", "20220905 20221005 20220915 20221015"), ("one", "T29UNU", "20220905"),
                           ("mixed", "T29UNU", "20220905 20221005"), ("mixed", "T30UUU", "20220915")):
    subprocess.run([sys.executable, make_dates, os.path.join(free, folder), tile, "300"] + days.split(), check=True)
for folder, classes in (("four", "0,1,3,8,9,10"), ("four", "3,8,9,10,11"), ("one", "0,1,3,8,9,10")):
    products = sorted(os.path.join(free, folder, p) for p in os.listdir(os.path.join(free, folder)))
    picture, count = reference.expected([int(c) for c in classes.split(",")], products)
    name = os.path.join(free, f"{folder}-{classes.replace(',', '-')}")
    picture.tofile(name + ".u16")
    with open(name + ".counts", "w") as f:
        f.write(" ".join(str(int(np.count_nonzero(count == k))) for k in range(len(products) + 1)) + "\n")
