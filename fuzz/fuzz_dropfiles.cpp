// CF_HDROP blocks as a drag source might send them.
#include <cstdint>
#include <cstdlib>

#include "DropParsers.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  auto files = dropparsers::ParseDropFiles(data, size);
  if (!files) {
    if (size > dropparsers::kDropFilesHeaderSize) abort();
    return 0;
  }
  // Every name plus its terminator came out of the block.
  size_t used = 0;
  for (const auto& n : files->wideNames) used += 2 * (n.size() + 1);
  for (const auto& n : files->narrowNames) used += n.size() + 1;
  if (used > size) abort();
  return 0;
}
