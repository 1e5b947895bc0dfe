// --preview: only the 8-bit quicklook, decoded straight at the resolution asked for, with no
// 48-bit composite made or written.
#pragma once
#include <string>

#include "ProductLayout.h"

struct TPreviewRequest {
  int SaveFormat = 1;      // names the preview as the composite of this format would be named
  unsigned Reduce = 0;     // at 1/2^Reduce of the full resolution
  bool WorldFile = false;  // with its world file and .png.aux.xml
};

// For path as the console tool was given it (a band file or a product). Says on stderr what it
// wrote, or why not, and on stdout the preview's name. Returns the tool's exit status: 0
// written, 1 not written, 2 no such file or not JPEG 2000.
int WritePreviewOnly(const std::wstring& path, const TProductRequest& product, const TPreviewRequest& request);
