// A dropped zip's central directory as libzip reads it, and what the products layer makes of
// its entry names: no crash, and a band it picks is always a file of the zip whose path could
// not leave the folder it is unpacked into.
#include <zip.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "ProductLayout.h"
#include "ProductZipNames.h"
#include "TextCodec.h"

namespace {
void CheckBand(const TZipListing& listing, const TProductBand& band) {
  if (!band.Note.empty() && band.Find != TProductFind::Found) abort();
  if (band.Find == TProductFind::MissingBand || band.Find == TProductFind::Ambiguous) {
    if (band.Band.empty() || IsUnsafeEntryName(band.Band)) abort();
    return;
  }
  if (band.Find != TProductFind::Found) return;
  if (IsUnsafeEntryName(band.Band)) abort();
  const size_t split = band.Band.find_last_of(L'/');
  const std::wstring folder = split == std::wstring::npos ? std::wstring() : band.Band.substr(0, split);
  if (listing.ChildFile(folder, band.Band.substr(split + 1)) != band.Band) abort();
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  zip_error_t error;
  zip_error_init(&error);
  zip_source_t* source = zip_source_buffer_create(data, size, 0, &error);
  zip_t* archive = source ? zip_open_from_source(source, ZIP_RDONLY | ZIP_CHECKCONS, &error) : nullptr;
  if (!archive) {
    if (source) zip_source_free(source);
    zip_error_fini(&error);
    return 0;
  }
  std::vector<std::wstring> names;
  bool unsafe = false;
  const zip_int64_t count = zip_get_num_entries(archive, 0);
  for (zip_int64_t i = 0; i < count && i < 4096; ++i) {
    const char* raw = zip_get_name(archive, static_cast<zip_uint64_t>(i), ZIP_FL_ENC_GUESS);
    if (!raw) continue;
    names.push_back(FromUtf8(raw));
    unsafe = unsafe || IsUnsafeEntryName(names.back());
  }
  zip_discard(archive);
  zip_error_fini(&error);
  if (unsafe) return 0;  // refused before the names are read any further
  const TZipListing listing(names);
  CheckBand(listing, FindZipProduct(listing, {}));
  for (const std::wstring& root : listing.Folders(L"")) {
    for (const TProductRequest request : {TProductRequest{}, TProductRequest{true, 0}, TProductRequest{false, 20},
                                          TProductRequest{true, 60}})
      CheckBand(listing, FindProductBand(listing, root, request));
  }
  return 0;
}
