// What a dropped or named path means: a band file runs the composite job as ever; a Sentinel-2
// product (its .SAFE folder, MTD_MSIL1C.xml / MTD_MSIL2A.xml, a granule folder, IMG_DATA or a
// resolution folder, or the product's .zip) runs it on the product's bands. Anything else goes
// to the job unchanged, which ignores folders and files that are not JPEG 2000.
#pragma once
#include <string>

#include "CompositeJob.h"
#include "JobHost.h"
#include "ProductLayout.h"

// options go to the composite job unchanged.
TJobOutcome ProcessDroppedPath(JobHost& host, const std::wstring& path, const TProductRequest& request = {},
                               const TJobOptions& options = {}) noexcept;

// True for a folder or metadata file that is a product or part of one, and for a .zip: the
// paths beyond band files that a caller should hand to ProcessDroppedPath.
bool IsProductPath(const std::wstring& path);

// The band file ProcessDroppedPath runs the job on for a product folder or metadata file; empty
// for a zip (its bands are gone once the job ends) and when no band is found.
std::wstring ProductBandFile(const std::wstring& path, const TProductRequest& request);

// A product's note (a finer resolution passed over) on the status line before the job starts.
void ShowProductNote(JobHost& host, const TProductBand& band);

// Texts shown for products, in the job's manner: status line, message box, one beep.
namespace producttext {
inline const wchar_t* const kSeveralTiles = L"Several tiles in this product: drop one granule folder";
inline const wchar_t* const kNoResolution = L"No bands at the resolution asked for in this product";
inline const wchar_t* const kNotJpeg2000 = L"Not a JPEG 2000 band: ";  // + the band's file name
inline const wchar_t* const kBandMissing = L"Band file missing from this product: ";  // + its file name
inline const wchar_t* const kBandAmbiguous = L"Band files that differ only in letter case: ";  // + one of them
inline const wchar_t* const kUnpacking = L"Unpacking ";  // + red, green or blue
inline const wchar_t* const kZipDamaged = L"Damaged or incomplete zip: ";
inline const wchar_t* const kZipNoProduct = L"No Sentinel-2 product in zip: ";
inline const wchar_t* const kZipUnsafe = L"Unsafe entry names in zip: ";
inline const wchar_t* const kZipTooLarge = L"Zip entry larger than any band: ";
inline const wchar_t* const kZipOversize = L"Zip entry larger than its header says: ";
inline const wchar_t* const kZipNoSpace = L"Not enough free space to unpack zip: ";
inline const wchar_t* const kZipCannotUnpack = L"Cannot unpack beside zip: ";
}  // namespace producttext
