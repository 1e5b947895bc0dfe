"""The cloud-free composite as a user writes it with GDAL and numpy, for clouds-test.sh.

cloudfree-reference.py OUTPUT CLASSES PRODUCT-DIR...
Reads every date's B04, B03, B02 and its 20 m scene classification warped onto the bands' grid
(nearest, from full resolution), takes per pixel and band the lower median of the dates whose
pixel is clear and has all three bands, and compares every sample of OUTPUT (a 48-bit TIFF).
Prints the number of differing samples and how many pixels had each count of clear dates.
"""
import glob
import os
import sys

import numpy as np
from osgeo import gdal

gdal.UseExceptions()
output, classes, products = sys.argv[1], [int(c) for c in sys.argv[2].split(",")], sys.argv[3:]
stack, clear = [], []
for product in products:
    band_dir = glob.glob(os.path.join(product, "GRANULE", "*", "IMG_DATA", "R60m"))[0]
    red = glob.glob(os.path.join(band_dir, "*_B04_60m.jp2"))[0]
    ds = gdal.Open(red)
    gt, cols, rows = ds.GetGeoTransform(), ds.RasterXSize, ds.RasterYSize
    rgb = np.stack([gdal.Open(red.replace("_B04_", f"_{b}_")).ReadAsArray() for b in ("B04", "B03", "B02")], -1)
    scl_file = glob.glob(os.path.join(product, "GRANULE", "*", "IMG_DATA", "R20m", "*_SCL_20m.jp2"))[0]
    scl = gdal.Warp("", scl_file, format="MEM", resampleAlg="near", overviewLevel="NONE",
                    outputBounds=(gt[0], gt[3] + rows * gt[5], gt[0] + cols * gt[1], gt[3]),
                    xRes=gt[1], yRes=-gt[5]).ReadAsArray()
    stack.append(rgb)
    clear.append(~np.isin(scl, classes) & np.all(rgb != 0, axis=-1))
stack, clear = np.stack(stack), np.stack(clear)
ranked = np.sort(np.where(clear[..., None], stack.astype(np.int32), 1 << 17), axis=0)
count = clear.sum(axis=0)
median = np.take_along_axis(ranked, (np.maximum(count - 1, 0) // 2)[None, ..., None].repeat(3, -1), axis=0)[0]
median[count == 0] = 0
ours = np.moveaxis(gdal.Open(output).ReadAsArray(), 0, -1)
print("differing samples:", int(np.count_nonzero(ours != median)))
print("clear dates:", " ".join(f"{k}:{int(np.count_nonzero(count == k))}" for k in range(len(products) + 1)))
