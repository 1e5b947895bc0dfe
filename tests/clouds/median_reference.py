"""The cloud-free median as a user would write it with numpy, for DateMedianTest.

median_reference.py DATES HEIGHT WIDTH SAMPLES MASKS OUT
SAMPLES: uint16 dates x height x width x 3; MASKS: uint8 dates x height x width (1 masked);
OUT: uint16 height x width x 3, the lower median of the clear, valid dates, 0 where none.
"""
import sys

import numpy as np

dates, height, width = (int(v) for v in sys.argv[1:4])
samples = np.fromfile(sys.argv[4], dtype=np.uint16).reshape(dates, height, width, 3)
masks = np.fromfile(sys.argv[5], dtype=np.uint8).reshape(dates, height, width)

clear = (masks == 0) & np.all(samples != 0, axis=-1)
# Dates that do not count sort after every real sample.
ranked = np.sort(np.where(clear[..., None], samples.astype(np.int32), 1 << 17), axis=0)
count = clear.sum(axis=0)
lower = np.maximum(count - 1, 0) // 2
median = np.take_along_axis(ranked, lower[None, ..., None].repeat(3, axis=-1), axis=0)[0]
median[count == 0] = 0
median.astype(np.uint16).tofile(sys.argv[6])
