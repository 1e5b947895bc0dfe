#include "Resume.h"

#include <filesystem>
#include <system_error>

#include "ProductFiles.h"
#include "SoftwareTag.h"

namespace fs = std::filesystem;

bool IsUpToDate(const TJobFiles& files, const std::string& software) {
  if (files.Composite.empty()) return false;
  std::error_code error;
  fs::file_time_type newestSource = fs::file_time_type::min();
  for (const std::wstring& source : files.Sources) {
    const fs::file_time_type time = fs::last_write_time(ProductFsPath(source), error);
    if (error) return false;  // a missing band: the job is to run and say so
    newestSource = std::max(newestSource, time);
  }
  std::vector<std::wstring> outputs = files.SideFiles;
  outputs.push_back(files.Composite);
  for (const std::wstring& output : outputs) {
    const fs::path path = ProductFsPath(output);
    if (!fs::is_regular_file(path, error)) return false;
    const fs::file_time_type time = fs::last_write_time(path, error);
    if (error || time <= newestSource) return false;
  }
  return ReadSoftwareTag(ProductFsPath(files.Composite)) == software;
}
