"""The cloud-free composite as a user writes it with GDAL and numpy, for clouds-test.sh and, as a
module, for the references the cloud tests compare with.

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


def lower_median(samples, clear):
    """Per pixel and band, the lower median of the clear dates (a value that was observed); 0
    where no date is clear. samples: dates x rows x cols x 3; clear: dates x rows x cols."""
    # Dates that do not count sort after every real sample.
    ranked = np.sort(np.where(clear[..., None], samples.astype(np.int32), 1 << 17), axis=0)
    count = clear.sum(axis=0)
    lower = np.maximum(count - 1, 0) // 2
    median = np.take_along_axis(ranked, lower[None, ..., None].repeat(3, axis=-1), axis=0)[0]
    median[count == 0] = 0
    return median.astype(np.uint16), count


def expected(classes, products):
    """The cloud-free picture (rows x cols x 3, red first) of the products' 60 m bands, and the
    number of clear dates of each pixel."""
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
    return lower_median(np.stack(stack), np.stack(clear))


if __name__ == "__main__":
    output, classes, products = sys.argv[1], [int(c) for c in sys.argv[2].split(",")], sys.argv[3:]
    median, count = expected(classes, products)
    ours = np.moveaxis(gdal.Open(output).ReadAsArray(), 0, -1)
    print("differing samples:", int(np.count_nonzero(ours != median)))
    print("clear dates:", " ".join(f"{k}:{int(np.count_nonzero(count == k))}" for k in range(len(products) + 1)))
