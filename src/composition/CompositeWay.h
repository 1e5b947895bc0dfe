// Which way a job's samples take, and the saving that goes with it: row by row from the three
// bands' code streams into the writer (the composite never held whole), or the whole-band way
// (a Composite in memory, then written) for bands that do not allow the first.
#pragma once
#include <string>

#include "BandMerge.h"
#include "CompositeJob.h"
#include "SaveFormat.h"
#include "WorkCallbacks.h"

// Reads the three bands' headers; when they can be streamed together, makes job.Stream and
// sets job.LoadingShare to the part of the work that the band steps do. Returns what it chose,
// and why, as a line for hosts that show timings.
std::wstring ChooseWay(TCompositeState& job, const TBandNames& names, FREE_IMAGE_FORMAT fileType);

enum class TSaveOutcome {
  Saved,       // the output is in place
  Failed,      // a write failed; the target is as it was
  BandFailed,  // streaming: a band failed part way; nothing was written
};
// Saves the job's picture as format at path, whichever way the job took. With BandFailed,
// failedBand names the band ("red", "green", "blue").
TSaveOutcome SaveJobComposite(TCompositeState& job, TSaveFormat format, const std::wstring& path,
                              const TWorkCallbacks& callbacks, std::wstring& failedBand);

namespace compositionTesting {
// False keeps every job on the whole-band way, as a reference for the streaming one.
void SetStreaming(bool enabled);
}  // namespace compositionTesting
