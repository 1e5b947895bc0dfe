// A product's .zip, read without the user unpacking it: its three bands are unpacked into a
// fresh folder beside the zip, the job runs on them and writes beside the zip, and the folder
// goes on every way out.
#pragma once
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "CompositeJob.h"
#include "JobHost.h"
#include "ProductLayout.h"
#include "ProductZipNames.h"

bool IsZipName(const std::wstring& path);

TJobOutcome ProcessProductZip(JobHost& host, const std::wstring& zipPath, const TProductRequest& request,
                              const TJobOptions& options = {});

// What is done with a zip's bands once unpacked: given the band the job starts from and the
// folder (ending in its delimiter) its outputs go to. The bands go when it returns.
using TUnpackedBandsWork = std::function<TJobOutcome(const std::wstring& firstBand, const std::wstring& outputFolder)>;
// Finds the product in the zip, unpacks its three bands and runs work on them; failures to
// find or unpack them are told through host as the job's own are.
TJobOutcome WithUnpackedZipBands(JobHost& host, const std::wstring& zipPath, const TProductRequest& request,
                                 const TUnpackedBandsWork& work);

// The file name of the band a zip's job starts from, read from its entry names alone; empty
// when the zip cannot be read or holds no band for the request, and then failure (when given)
// is what the job would report.
std::wstring ZipStartBand(const std::wstring& zipPath, const TProductRequest& request, std::wstring* failure = nullptr);

// No Sentinel-2 band comes near this (a 10 m band is some 100 MB to 250 MB); an entry that
// claims more is refused before anything is written.
constexpr uint64_t kMaxBandEntryBytes = uint64_t(1) << 30;
