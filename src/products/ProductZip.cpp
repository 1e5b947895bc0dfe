#include "ProductZip.h"

#include <zip.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <memory>
#include <random>
#include <system_error>

#include "FileNames.h"
#include "ImageFiles.h"
#include "ProductJob.h"
#include "TempFile.h"
#include "TempFileRegistry.h"
#include "TextCodec.h"
#include "qelUtils.h"

namespace fs = std::filesystem;

namespace {
struct TZipCloser {
  void operator()(zip_t* archive) const { zip_discard(archive); }
};
using TZip = std::unique_ptr<zip_t, TZipCloser>;
struct TZipFileCloser {
  void operator()(zip_file_t* file) const { zip_fclose(file); }
};
using TZipFile = std::unique_ptr<zip_file_t, TZipFileCloser>;

// ZIP_CHECKCONS: a central directory that disagrees with the local headers is damage too.
TZip OpenZip(const std::wstring& path) {
  const int flags = ZIP_RDONLY | ZIP_CHECKCONS;
#if defined(_WIN32)
  zip_error_t error;
  zip_error_init(&error);
  zip_source_t* source = zip_source_win32w_create(path.c_str(), 0, -1, &error);
  zip_t* archive = source ? zip_open_from_source(source, flags, &error) : nullptr;
  if (source && !archive) zip_source_free(source);
  zip_error_fini(&error);
  return TZip(archive);
#else
  int error = 0;
  return TZip(zip_open(ToUtf8(path).c_str(), flags, &error));
#endif
}

// The fresh folder the bands go into, removed with everything in it when this ends.
class TUnpackFolder {
 public:
  explicit TUnpackFolder(const fs::path& beside) {
    std::random_device random;
    for (int attempt = 0; attempt < 64 && FPath.empty(); ++attempt) {
      char name[32];
      std::snprintf(name, sizeof name, ".bandweave-%08x", static_cast<unsigned>(random()));
      std::error_code error;
      // create_directory answers false for anything already at that name, a link included.
      if (fs::create_directory(beside / name, error)) FPath = beside / name;
      else if (error && error != std::errc::file_exists) break;
    }
    if (!FPath.empty()) Track(FPath);
  }
  ~TUnpackFolder() {
    for (int slot : FSlots) tempFileDetail::Unregister(slot);
    std::error_code ignored;
    if (!FPath.empty()) fs::remove_all(FPath, ignored);
  }
  // The folder and each file in it are removed too when the console tool is interrupted.
  void Track(const fs::path& path) { FSlots.push_back(tempFileDetail::Register(path)); }
  TUnpackFolder(const TUnpackFolder&) = delete;
  TUnpackFolder& operator=(const TUnpackFolder&) = delete;
  const fs::path& Path() const { return FPath; }

 private:
  fs::path FPath;
  std::vector<int> FSlots;
};

// Unpacked bands are named after their entries; only plain names are written.
bool IsPlainFileName(const std::wstring& name) {
  if (name.empty() || name.size() > 200 || name[0] == L'.') return false;
  return std::all_of(name.begin(), name.end(), [](wchar_t c) {
    return (c >= L'A' && c <= L'Z') || (c >= L'a' && c <= L'z') || (c >= L'0' && c <= L'9') || c == L'_' ||
           c == L'-' || c == L'.';
  });
}

enum class TUnpack { Done, Damaged, TooLarge, CannotWrite };

// Copies one entry into target, never past the size its header declares. The band is written
// as every output is, through a temporary file that the interrupt clean-up can delete while it
// is open (on Windows too: it is shared for deletion), and takes its name only when complete.
TUnpack UnpackEntry(zip_t* archive, zip_uint64_t index, uint64_t declared, const fs::path& target) {
  TZipFile entry(zip_fopen_index(archive, index, 0));
  if (!entry) return TUnpack::Damaged;
  const std::unique_ptr<TTempFile> out = TTempFile::CreateBeside(target);
  if (!out) return TUnpack::CannotWrite;
  std::vector<char> buffer(1 << 20);
  uint64_t total = 0;
  for (;;) {
    const zip_int64_t got = zip_fread(entry.get(), buffer.data(), buffer.size());
    if (got < 0) return TUnpack::Damaged;
    if (got == 0) break;
    total += static_cast<uint64_t>(got);
    if (total > declared) return TUnpack::TooLarge;
    if (!out->Write(buffer.data(), static_cast<size_t>(got))) return TUnpack::CannotWrite;
    KeepAlive();
  }
  if (total != declared) return TUnpack::Damaged;
  return out->CommitTo(target) ? TUnpack::Done : TUnpack::CannotWrite;
}

TJobOutcome Refuse(JobHost& host, const std::wstring& text) {
  Announce(host, text, false);
  return TJobOutcome::NotStarted;
}
// The names of a zip's entries, and the index of each by its listing path; false with the text
// to report when the archive is damaged or names an entry unsafely.
bool ReadEntryNames(zip_t* archive, const std::wstring& zipName, std::vector<std::wstring>& names,
                    std::map<std::wstring, zip_uint64_t>& indexOf, std::wstring& failure) {
  const zip_int64_t count = zip_get_num_entries(archive, 0);
  if (count < 0) {
    failure = producttext::kZipDamaged + zipName;
    return false;
  }
  for (zip_int64_t i = 0; i < count; ++i) {
    const char* raw = zip_get_name(archive, static_cast<zip_uint64_t>(i), ZIP_FL_ENC_GUESS);
    if (!raw) {
      failure = producttext::kZipDamaged + zipName;
      return false;
    }
    names.push_back(FromUtf8(raw));
    indexOf.emplace(TZipListing::Normalised(names.back()), static_cast<zip_uint64_t>(i));
    // One bad name and the whole archive is suspect.
    if (IsUnsafeEntryName(names.back())) {
      failure = producttext::kZipUnsafe + zipName;
      return false;
    }
  }
  return true;
}
}  // namespace

bool IsZipName(const std::wstring& path) { return EndsWithNoCase(path, L".zip"); }

TJobOutcome ProcessProductZip(JobHost& host, const std::wstring& zipPath, const TProductRequest& request,
                              const TJobOptions& options) {
  TBusyCursor busy(host);
  const std::wstring zipName = FileNamePart(zipPath);
  // As the job does, before any long work: with no format chosen nothing could be saved.
  if (host.GetSaveFormat() != 0 && host.GetSaveFormat() != 1) {
    Announce(host, jobtext::kNoFormat, true);
    return TJobOutcome::NoSaveFormat;
  }
  return WithUnpackedZipBands(host, zipPath, request, [&](const std::wstring& firstBand, const std::wstring& output) {
    const TJobOutcome outcome = RunCompositeJob(host, firstBand, output, options);
    // The job is silent about these, which would leave a dropped zip without an answer.
    if (outcome == TJobOutcome::NotJpeg2000) return Refuse(host, producttext::kNotJpeg2000 + FileNamePart(firstBand));
    if (outcome == TJobOutcome::NoSuchFile) return Refuse(host, producttext::kZipDamaged + zipName);
    return outcome;
  });
}

TJobOutcome WithUnpackedZipBands(JobHost& host, const std::wstring& zipPath, const TProductRequest& request,
                                 const TUnpackedBandsWork& work) {
  const std::wstring zipName = FileNamePart(zipPath);
  TZip archive = OpenZip(zipPath);
  if (!archive) return Refuse(host, producttext::kZipDamaged + zipName);

  std::vector<std::wstring> names;
  std::map<std::wstring, zip_uint64_t> indexOf;
  std::wstring failure;
  if (!ReadEntryNames(archive.get(), zipName, names, indexOf, failure)) return Refuse(host, failure);

  const TZipListing listing(names);
  const TProductBand start = FindZipProduct(listing, request);
  switch (start.Find) {
    case TProductFind::Found: break;
    case TProductFind::NoSuchResolution: return Refuse(host, producttext::kNoResolution);
    case TProductFind::SeveralTiles: return Refuse(host, producttext::kSeveralTiles);
    case TProductFind::MissingBand: return Refuse(host, producttext::kBandMissing + FileNamePart(start.Band));
    case TProductFind::Ambiguous: return Refuse(host, producttext::kBandAmbiguous + FileNamePart(start.Band));
    case TProductFind::NotAProduct:
      // Any zip at all may be dropped on the window: one of photos is as silent as a photo.
      if (!request.SayWhenNoProduct) return TJobOutcome::NotJpeg2000;
      return Refuse(host, producttext::kZipNoProduct + zipName);
    case TProductFind::NoBands: return Refuse(host, jobtext::kMissing);
  }
  ShowProductNote(host, start);

  // The three bands as the job will look for them, all present in the listing.
  const TBandNames bands = DeriveBandNames(start.Band);
  const size_t split = start.Band.find_last_of(L'/');
  const std::wstring folder = split == std::wstring::npos ? std::wstring() : start.Band.substr(0, split);
  struct TEntry {
    zip_uint64_t Index;
    uint64_t Size;
    std::wstring Name;
    const wchar_t* Band;
  };
  std::vector<TEntry> entries;
  uint64_t total = 0;
  const std::pair<std::wstring, const wchar_t*> wanted[] = {
      {bands.Red, L"red"}, {bands.Green, L"green"}, {bands.Blue, L"blue"}};
  for (const auto& [band, word] : wanted) {
    const std::wstring path = listing.ChildFile(folder, FileNamePart(band));
    const auto found = indexOf.find(path);
    if (path.empty() || found == indexOf.end()) continue;
    zip_stat_t stat;
    zip_stat_init(&stat);
    if (zip_stat_index(archive.get(), found->second, 0, &stat) != 0 || !(stat.valid & ZIP_STAT_SIZE))
      return Refuse(host, producttext::kZipDamaged + zipName);
    if (stat.size > kMaxBandEntryBytes) return Refuse(host, producttext::kZipTooLarge + FileNamePart(path));
    if (!IsPlainFileName(FileNamePart(path))) return Refuse(host, producttext::kZipUnsafe + zipName);
    entries.push_back({found->second, stat.size, FileNamePart(path), word});
    total += stat.size;
  }

  // Unpacked into the output folder when there is one: the zip's own may be read-only.
  std::error_code error;
  const std::wstring chosen = host.GetOutputFolder();
  const fs::path beside = chosen.empty() ? fs::absolute(FsPath(zipPath), error).parent_path()
                                         : fs::absolute(FsPath(chosen), error);
  if (error) return Refuse(host, producttext::kZipCannotUnpack + zipName);
  const fs::space_info space = fs::space(beside, error);
  if (!error && space.available < total) return Refuse(host, producttext::kZipNoSpace + zipName);
  TUnpackFolder unpacked(beside);
  if (unpacked.Path().empty()) return Refuse(host, producttext::kZipCannotUnpack + zipName);

  for (size_t k = 0; k < entries.size(); ++k) {
    host.SetStatusText(producttext::kUnpacking + std::wstring(entries[k].Band));
    host.RepaintNow();
    const fs::path target = unpacked.Path() / FsPath(entries[k].Name);
    unpacked.Track(target);
    switch (UnpackEntry(archive.get(), entries[k].Index, entries[k].Size, target)) {
      case TUnpack::Done: break;
      case TUnpack::Damaged: return Refuse(host, producttext::kZipDamaged + zipName);
      case TUnpack::TooLarge: return Refuse(host, producttext::kZipOversize + entries[k].Name);
      case TUnpack::CannotWrite: return Refuse(host, producttext::kZipCannotUnpack + zipName);
    }
  }
  archive.reset();

  const std::wstring output = WidePath(beside / "");
  const std::wstring first = FileNamePart(start.Band);
  return work(WidePath(unpacked.Path() / FsPath(first)), output);
}

std::wstring ZipStartBand(const std::wstring& zipPath, const TProductRequest& request, std::wstring* failure) {
  const std::wstring zipName = FileNamePart(zipPath);
  std::wstring why = producttext::kZipDamaged + zipName;
  const auto fail = [&]() {
    if (failure) *failure = why;
    return std::wstring();
  };
  TZip archive = OpenZip(zipPath);
  std::vector<std::wstring> names;
  std::map<std::wstring, zip_uint64_t> indexOf;
  if (!archive || !ReadEntryNames(archive.get(), zipName, names, indexOf, why)) return fail();
  const TProductBand start = FindZipProduct(TZipListing(names), request);
  if (start.Find == TProductFind::Found) return FileNamePart(start.Band);
  why = start.Find == TProductFind::NotAProduct ? producttext::kZipNoProduct + zipName : jobtext::kMissing;
  return fail();
}
