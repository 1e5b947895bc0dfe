#include "SoftwareTag.h"

#include <tiffio.h>

#include <cstring>
#include <fstream>
#include <memory>
#include <vector>

namespace {
// libtiff reads through these from an open stream: the same code for wide Windows paths.
tmsize_t ReadProc(thandle_t handle, void* data, tmsize_t size) {
  auto* in = static_cast<std::ifstream*>(handle);
  in->read(static_cast<char*>(data), size);
  const tmsize_t got = in->gcount();
  in->clear();
  return got;
}
tmsize_t NoWrite(thandle_t, void*, tmsize_t) { return -1; }
toff_t SeekProc(thandle_t handle, toff_t offset, int whence) {
  auto* in = static_cast<std::ifstream*>(handle);
  in->clear();
  in->seekg(static_cast<std::streamoff>(offset),
            whence == SEEK_SET ? std::ios::beg : whence == SEEK_CUR ? std::ios::cur : std::ios::end);
  return in ? static_cast<toff_t>(in->tellg()) : static_cast<toff_t>(-1);
}
int CloseProc(thandle_t) { return 0; }
toff_t SizeProc(thandle_t handle) {
  auto* in = static_cast<std::ifstream*>(handle);
  const std::streampos at = in->tellg();
  in->seekg(0, std::ios::end);
  const std::streampos size = in->tellg();
  in->seekg(at);
  return static_cast<toff_t>(size);
}
int NoMap(thandle_t, void**, toff_t*) { return 0; }
void NoUnmap(thandle_t, void*, toff_t) {}
int Quiet(TIFF*, void*, const char*, const char*, va_list) { return 1; }

struct TTiffCloser {
  void operator()(TIFF* tif) const { TIFFClose(tif); }
};
struct TOptionsFreer {
  void operator()(TIFFOpenOptions* options) const { TIFFOpenOptionsFree(options); }
};

std::string TiffSoftware(std::ifstream& in) {
  std::unique_ptr<TIFFOpenOptions, TOptionsFreer> options(TIFFOpenOptionsAlloc());
  if (!options) return {};
  TIFFOpenOptionsSetErrorHandlerExtR(options.get(), Quiet, nullptr);
  TIFFOpenOptionsSetWarningHandlerExtR(options.get(), Quiet, nullptr);
  std::unique_ptr<TIFF, TTiffCloser> tif(TIFFClientOpenExt("input", "r", &in, ReadProc, NoWrite, SeekProc,
                                                           CloseProc, SizeProc, NoMap, NoUnmap, options.get()));
  const char* text = nullptr;
  if (!tif || TIFFGetField(tif.get(), TIFFTAG_SOFTWARE, &text) != 1 || !text) return {};
  return text;
}

uint32_t Big32(const unsigned char* p) {
  return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | p[3];
}

// The chunks up to the first IDAT; a text chunk is small, anything larger is skipped unread.
std::string PngSoftware(std::ifstream& in) {
  constexpr uint32_t kLargestText = 1 << 16;
  in.seekg(8);
  unsigned char head[8];
  while (in.read(reinterpret_cast<char*>(head), 8)) {
    const uint32_t length = Big32(head);
    const std::string type(reinterpret_cast<char*>(head) + 4, 4);
    if (type == "IDAT" || type == "IEND") break;
    if ((type == "tEXt" || type == "iTXt") && length <= kLargestText) {
      std::string body(length, '\0');
      if (!in.read(body.data(), length)) break;
      const size_t end = body.find('\0');
      if (end != std::string::npos && body.compare(0, end, "Software") == 0) {
        // iTXt: compression flag, method, then language and translated keyword, each ended by 0.
        size_t at = end + 1;
        if (type == "iTXt") {
          if (at + 2 > body.size() || body[at] != 0) return {};
          at = body.find('\0', at + 2);
          at = at == std::string::npos ? at : body.find('\0', at + 1);
          if (at == std::string::npos) return {};
          ++at;
        }
        return body.substr(at);
      }
      in.seekg(4, std::ios::cur);  // the CRC
    } else {
      in.seekg(static_cast<std::streamoff>(length) + 4, std::ios::cur);
    }
  }
  return {};
}
}  // namespace

std::string ReadSoftwareTag(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  unsigned char magic[8] = {};
  if (!in.read(reinterpret_cast<char*>(magic), 8)) return {};
  static const unsigned char kPng[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
  if (std::memcmp(magic, kPng, 8) == 0) return PngSoftware(in);
  if ((magic[0] == 'I' && magic[1] == 'I') || (magic[0] == 'M' && magic[1] == 'M')) {
    in.seekg(0);
    return TiffSoftware(in);
  }
  return {};
}
