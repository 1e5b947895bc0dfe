// Name lists ("FileNameMapW", "FileNameMap") and single names ("FileNameW", "FileName").
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "DropParsers.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<std::u16string> wide;
  const bool anyWide = dropparsers::ReadWideNameList(data, size, wide);
  std::vector<std::string> narrow;
  const bool anyNarrow = dropparsers::ReadNarrowNameList(data, size, narrow);
  if (anyWide != !wide.empty() || anyNarrow != !narrow.empty()) abort();
  for (const auto& n : wide)
    if (n.empty() || n.find(u'\0') != std::u16string::npos) abort();
  for (const auto& n : narrow)
    if (n.empty() || n.find('\0') != std::string::npos) abort();

  if (dropparsers::ParseUnicodeFilename(data, size).size() != size / 2) abort();
  if (dropparsers::ParseAnsiFilename(data, size, false).size() != size) abort();
  if (dropparsers::ParseAnsiFilename(data, size, true).find('\0') != std::string::npos) abort();
  return 0;
}
