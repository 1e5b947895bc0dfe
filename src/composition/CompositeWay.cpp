#include "CompositeWay.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "AreaCrop.h"
#include "CompositeMask.h"
#include "CompositeSink.h"
#include "CompositionPlatform.h"
#include "TempFile.h"
#include "TextCodec.h"

namespace {
bool gStreaming = true;
// BANDWEAVE_WHOLE_BANDS=1 in the environment keeps every job on the whole-band way: the
// benchmark's yardstick for what streaming costs or saves, on the same build.
bool WholeBandsAsked() {
  const char* set = std::getenv("BANDWEAVE_WHOLE_BANDS");
  return set && *set && std::strcmp(set, "0") != 0;
}
std::wstring Widen(const std::string& ascii) { return std::wstring(ascii.begin(), ascii.end()); }
const wchar_t* const kBandNames[3] = {L"red", L"green", L"blue"};
}  // namespace

std::wstring ChooseWay(TCompositeState& job, const TBandNames& names, FREE_IMAGE_FORMAT fileType) {
  const std::wstring* const bands[3] = {&names.Red, &names.Green, &names.Blue};
  TJp2Header headers[3];
  std::filesystem::path paths[3];
  for (int b = 0; b < 3; ++b) {
    paths[b] = FsPath(*bands[b]);
    std::string error;
    if (ReadJp2Header(paths[b], headers[b], error) != TJp2HeaderStatus::Read)
      return std::wstring(L"whole bands: the header of ") + kBandNames[b] + L" cannot be read";
    if (!DecodesDirectly(headers[b], fileType))
      return std::wstring(L"whole bands through FreeImage: ") + kBandNames[b] + L" is not a plain band of 9 to 16 bits";
  }
  std::string why;
  if (!CanStreamBands(headers, job.Reduce, why)) return L"whole bands: " + Widen(why);
  if (!gStreaming || WholeBandsAsked()) return L"whole bands: streaming is off";
  job.Stream = std::make_unique<TCompositeStream>(paths, job.Reduce);
  if (job.Window) job.Stream->SetWindow(*job.Window);
  // The band steps decode the first row of tiles; the rest comes while saving.
  job.LoadingShare = 1.0 / std::max(1u, headers[0].TilesDown);
  const TJp2Header& red = headers[0];
  return L"streaming: " + std::to_wstring(red.TilesDown) + L" rows of " + std::to_wstring(red.TilesAcross) + L" tiles of " +
         std::to_wstring(red.TileWidth) + L" x " + std::to_wstring(red.TileHeight) +
         (job.Reduce ? L", resolution 1/" + std::to_wstring(1u << std::min(job.Reduce, 31u)) : std::wstring()) +
         (job.Window ? L", window " + WindowNameTag(*job.Window).substr(1) : std::wstring());
}

TSaveOutcome SaveJobComposite(TCompositeState& job, TSaveFormat format, const std::wstring& path,
                              const TWorkCallbacks& callbacks, std::wstring& failedBand) {
  if (!job.Stream && job.Mask) job.Mask->Apply(job.Composite.get());
  if (!job.Stream && job.AreaMask) job.AreaMask->Apply(job.Composite.get());
  if (!job.Stream)
    return SaveComposite(job.Composite.get(), format, path, job.Metadata, callbacks) ? TSaveOutcome::Saved
                                                                                      : TSaveOutcome::Failed;
  const std::filesystem::path target = FsPath(path);
  const std::unique_ptr<TTempFile> file = TTempFile::CreateBeside(target);
  if (!file) return TSaveOutcome::Failed;
  std::unique_ptr<TRowSink> sink =
      OpenCompositeSink(format, *file, target, job.Stream->Width(), job.Stream->Height(), job.Metadata);
  if (!sink) return TSaveOutcome::Failed;
  // The cloud mask outermost, so that what it counts is the window's clouds, not the area's edge.
  TRowSink& blanked = job.AreaMask ? job.AreaMask->Wrap(*sink) : *sink;
  const TCompositeStream::TResult result = job.Stream->WriteTo(job.Mask ? job.Mask->Wrap(blanked) : blanked, callbacks);
  sink.reset();  // done with the file before it is closed
  switch (result.Kind) {
    case TCompositeStream::TResult::Written: return file->CommitTo(target) ? TSaveOutcome::Saved : TSaveOutcome::Failed;
    case TCompositeStream::TResult::BandFailed:
      // The temporary file goes with its object: nothing of the picture is left.
      failedBand = kBandNames[std::clamp(result.Band, 0, 2)];
      return TSaveOutcome::BandFailed;
    default: return TSaveOutcome::Failed;
  }
}

namespace compositionTesting {
void SetStreaming(bool enabled) { gStreaming = enabled; }
}  // namespace compositionTesting
