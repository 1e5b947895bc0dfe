// What the console tool writes besides the composite when asked: a world file and GDAL's
// .aux.xml beside a PNG, and a quicklook.
#pragma once
#include <string>

#include "ProductLayout.h"

struct TExtraOutputs {
  bool WorldFile = false;  // .pgw and .png.aux.xml beside each PNG written
  bool Quicklook = false;  // an 8-bit true-colour PNG beside the composite
  unsigned Reduce = 0;     // the quicklook at 1/2^Reduce resolution
};

// After the composite from path (a band file or a product, as the console tool was given it)
// was saved in saveFormat (0 PNG, 1 TIFF). Says on stderr what it wrote and why it wrote less;
// false when something asked for could not be written.
bool WriteExtraOutputs(const std::wstring& path, const TProductRequest& request, int saveFormat,
                       const TExtraOutputs& extras);
