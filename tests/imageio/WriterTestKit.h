// Pictures for the writer tests and the calls that write and read them back.
#pragma once
#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "ImageMetadata.h"
#include "PngWriter.h"
#include "RowView.h"
#include "TempFile.h"
#include "TempFileTesting.h"
#include "TempFolder.h"
#include "TiffWriter.h"
#include "WorkCallbacks.h"

namespace writertest {
namespace fs = std::filesystem;

// A picture held top row first, its samples spread over the whole 16-bit range with smooth
// stretches between, so that every filter and predictor path is taken.
struct TPicture {
  uint32_t Width = 0, Height = 0;
  std::vector<uint16_t> Samples;  // Width * 3 per row

  TPicture(uint32_t width, uint32_t height) : Width(width), Height(height), Samples(size_t(width) * height * 3) {
    uint32_t state = width * 2654435761u ^ height;
    for (size_t i = 0; i < Samples.size(); ++i) {
      state = state * 1664525u + 1013904223u;
      const size_t pixel = i / 3;
      const uint32_t x = static_cast<uint32_t>(pixel % width), y = static_cast<uint32_t>(pixel / width);
      Samples[i] = ((x / 16 + y / 16) % 3 == 0) ? static_cast<uint16_t>(state >> 16)
                                                : static_cast<uint16_t>((x * 37 + y * 11 + i % 3 * 5000) & 0xffff);
    }
    if (!Samples.empty()) {
      Samples.front() = 0;
      Samples.back() = 0xffff;
    }
  }
  uint16_t At(uint32_t x, uint32_t y, int channel) const { return Samples[(size_t(y) * Width + x) * 3 + channel]; }
};

// The writers' view of it; bottomUp stores the rows in reverse, as FreeImage does, and hands
// the writers a negative stride.
struct THeldPicture {
  std::vector<uint16_t> Storage;
  TRowView View;
};
inline THeldPicture Hold(const TPicture& picture, bool bottomUp) {
  THeldPicture held;
  held.Storage = picture.Samples;
  const ptrdiff_t rowBytes = ptrdiff_t(picture.Width) * 6;
  const auto* base = reinterpret_cast<const uint8_t*>(held.Storage.data());
  if (bottomUp) {
    for (uint32_t y = 0; y < picture.Height; ++y)
      std::copy_n(picture.Samples.begin() + ptrdiff_t(y) * picture.Width * 3, size_t(picture.Width) * 3,
                  held.Storage.begin() + ptrdiff_t(picture.Height - 1 - y) * picture.Width * 3);
    held.View = {base + rowBytes * (picture.Height - 1), -rowBytes, picture.Width, picture.Height};
  } else {
    held.View = {base, rowBytes, picture.Width, picture.Height};
  }
  return held;
}

enum class TFormat { Tiff, Png };
inline const char* Extension(TFormat format) { return format == TFormat::Tiff ? "tif" : "png"; }

// Writes through a temporary file beside path and commits it; false when any step fails.
// The commit is asked for even after a failed write: the temporary file's own checks must
// refuse it, and the tests see those checks rather than one of this helper's.
inline bool Save(TFormat format, const TRowView& rows, const fs::path& path, const TImageMetadata& metadata = {},
                 unsigned workers = 0, const TWorkCallbacks& callbacks = {}) {
  auto file = TTempFile::CreateBeside(path);
  if (!file) return false;
  const bool written = format == TFormat::Tiff ? WriteTiff48(*file, rows, metadata, callbacks, workers)
                                               : WritePng48(*file, rows, metadata, callbacks, workers);
  const bool committed = file->CommitTo(path);
  return written && committed;
}

// A fresh, empty folder of this test's own.
inline fs::path FreshFolder(const std::string& name) {
  return testenv::FreshPrivateFolder("bandweave-writers-" + name + "-");
}
inline std::vector<std::string> FolderEntries(const fs::path& folder) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder)) names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}
inline std::string ReadAll(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}
}  // namespace writertest
