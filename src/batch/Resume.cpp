#include "Resume.h"

#include <algorithm>
#include <climits>
#include <filesystem>
#include <system_error>

#include "BatchPlatform.h"
#include "SoftwareTag.h"
#include "TextCodec.h"

namespace fs = std::filesystem;

bool IsUpToDate(const TJobFiles& files, const std::string& software) {
  if (files.Composite.empty()) return false;
  std::error_code error;
  int64_t newestSource = INT64_MIN;
  for (const std::wstring& source : files.Sources) {
    const std::optional<int64_t> time = batchPlatform::LastWriteTime(source);
    if (!time) return false;  // a missing band: the job is to run and say so
    newestSource = std::max(newestSource, *time);
  }
  std::vector<std::wstring> outputs = files.SideFiles;
  outputs.push_back(files.Composite);
  for (const std::wstring& output : outputs) {
    const fs::path path = FsPath(output);
    if (!fs::is_regular_file(path, error)) return false;
    const std::optional<int64_t> time = batchPlatform::LastWriteTime(output);
    if (!time || *time <= newestSource) return false;
  }
  return ReadSoftwareTag(FsPath(files.Composite)) == software;
}
