// From the inputs a user names to jobs: what kind of job each input is, and the search of plain
// folders for products, product zips and loose band sets.
#pragma once
#include <string>
#include <vector>

#include "BatchJob.h"

// A product zip, a product (or a part of one that names its bands), or else a band file.
TJobKind JobKindOf(const std::wstring& path);
// A folder that is not a product or part of one: its contents are searched.
bool IsFolderToSearch(const std::wstring& path);

struct TSearchResult {
  std::vector<TBatchJob> Jobs;         // in the order met, a band set once per folder
  std::vector<std::wstring> Unreadable;  // folders that could not be listed, with the reason
};
// Searches folder and its subfolders. A product met is one job and is not searched; so is a
// zip, unless it opens and holds no product. Loose band files form one job per band set, from
// the band met first; with the request's false colour the sets of B08 and B8A, otherwise those
// of B02, B03 and B04; for L2A names only the request's resolution when it names one. Files
// that are none of these, masks and our own temporary files are passed over. Linked folders
// are taken when they are products and not searched otherwise, so a loop of links ends.
TSearchResult SearchFolder(const std::wstring& folder, const TProductRequest& request);
