// The composition layer's system needs, natively: paths are UTF-8 bytes.
#include <cstdio>
#include <cstdlib>

#include "CompositionPlatform.h"
#include "TextCodec.h"

namespace compositionPlatform {
std::wstring DecimalSeparator() { return L"."; }

bool MoveOver(const std::wstring& source, const std::wstring& target) {
  // rename() replaces a file atomically and refuses to replace a folder.
  return std::rename(ToUtf8(source).c_str(), ToUtf8(target).c_str()) == 0;
}

std::filesystem::path FsPath(const std::wstring& path) { return std::filesystem::path(ToUtf8(path)); }

void SetEnvironment(const char* name, const char* value) { setenv(name, value, 1); }
}  // namespace compositionPlatform
