// "Shell IDList Array" (CIDA) blocks and the item ID lists inside them.
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "DropParsers.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<dropparsers::IdListSpan> spans;
  const bool ok = dropparsers::ParseCida(data, size, spans);
  if (ok != (spans.size() > 1)) abort();
  for (const auto& s : spans) {
    if (s.size < 2 || s.offset >= size || s.size > size - s.offset) abort();
    // What the block says is a whole list must measure the same on its own.
    if (dropparsers::IdListSize(data + s.offset, s.size) != s.size) abort();
  }
  for (size_t i = 1; i < spans.size(); ++i) {
    auto joined = dropparsers::JoinIdLists(data + spans[0].offset, spans[0].size,
                                           data + spans[i].offset, spans[i].size);
    if (dropparsers::IdListSize(joined.data(), joined.size()) != joined.size()) abort();
  }
  // Any byte string also goes through the list walk directly.
  if (dropparsers::IdListSize(data, size) > size) abort();
  return 0;
}
