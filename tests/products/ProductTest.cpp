// Whole products dropped: which band each entry point and request leads to, the composites
// they give and where, and zips, good and hostile.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "FreeImageSession.h"
#include "ImageFiles.h"
#include "ProductJob.h"
#include "ProductTrees.h"
#include "ProductZip.h"
#include "ImageTestEnvironment.h"
#include "RecordingHost.h"
#include "SampleValues.h"
#include "RealData.h"
#include "TestEnv.h"
#include "TextCodec.h"
#include "qelUtils.h"

namespace fs = std::filesystem;
using namespace producttrees;

namespace {
[[maybe_unused]] auto* const gEnvironment =
    ::testing::AddGlobalTestEnvironment(new imagetest::TImageEnvironment);
using imagetest::Wide;

// --- The choice, on names alone ---------------------------------------------------------------

TProductBand Find(const std::vector<std::wstring>& entries, TProductRequest request = {}) {
  const TZipListing listing(entries);
  return FindProductBand(listing, L"P.SAFE", request);
}

TEST(ProductLayout, EachRequestLeadsToTheBandItNeeds) {
  const std::wstring img = L"P.SAFE/GRANULE/L2A_T33UUP_X/IMG_DATA/";
  std::vector<std::wstring> l2a = {L"P.SAFE/MTD_MSIL2A.xml"};
  for (const wchar_t* r : {L"10m", L"20m", L"60m"})
    for (const wchar_t* b : {L"B02", L"B03", L"B04", L"TCI", L"AOT"})
      l2a.push_back(img + L"R" + r + L"/T_" + b + L"_" + r + L".jp2");
  l2a.push_back(img + L"R10m/T_B08_10m.jp2");
  l2a.push_back(img + L"R20m/T_B8A_20m.jp2");
  l2a.push_back(img + L"R60m/T_B8A_60m.jp2");
  EXPECT_EQ(Find(l2a).Band, img + L"R10m/T_B04_10m.jp2");
  EXPECT_EQ(Find(l2a).Metres, 10);
  EXPECT_EQ(Find(l2a, {true, 0}).Band, img + L"R10m/T_B08_10m.jp2");
  EXPECT_EQ(Find(l2a, {true, 20}).Band, img + L"R20m/T_B8A_20m.jp2");
  EXPECT_EQ(Find(l2a, {true, 60}).Band, img + L"R60m/T_B8A_60m.jp2");
  EXPECT_EQ(Find(l2a, {false, 60}).Band, img + L"R60m/T_B04_60m.jp2");

  // No resolution complete: the finest one that has any band names the one it lacks.
  std::vector<std::wstring> coarse = {L"P.SAFE/MTD_MSIL2A.xml", img + L"R20m/T_B03_20m.jp2", img + L"R20m/T_B02_20m.jp2",
                                      img + L"R60m/T_B04_60m.jp2", img + L"R20m/T_B08_20m.jp2"};
  EXPECT_EQ(Find(coarse).Find, TProductFind::MissingBand);
  EXPECT_EQ(Find(coarse).Band, img + L"R20m/T_B04_20m.jp2");
  // B08 exists at 10 m only: a B08 at 20 m is not the false-colour red.
  EXPECT_EQ(Find(coarse, {true, 20}).Find, TProductFind::NoSuchResolution);
  EXPECT_EQ(Find(coarse, {true, 0}).Find, TProductFind::NoBands);
  EXPECT_EQ(Find(coarse, {false, 10}).Find, TProductFind::NoSuchResolution);

  // L1C: native resolution only; names in any letter case.
  const std::vector<std::wstring> l1c = {L"P.SAFE/granule/l1c_t33uup_x/img_data/t_b03.jp2",
                                         L"P.SAFE/granule/l1c_t33uup_x/img_data/T_B08.JP2",
                                         L"P.SAFE/granule/l1c_t33uup_x/img_data/T_b04.Jp2",
                                         L"P.SAFE/granule/l1c_t33uup_x/img_data/t_B02.jp2",
                                         L"P.SAFE/granule/l1c_t33uup_x/img_data/T_TCI.jp2"};
  EXPECT_EQ(Find(l1c).Band, L"P.SAFE/granule/l1c_t33uup_x/img_data/T_b04.Jp2");
  EXPECT_EQ(Find(l1c, {true, 0}).Band, L"P.SAFE/granule/l1c_t33uup_x/img_data/T_B08.JP2");
  EXPECT_EQ(Find(l1c, {false, 10}).Find, TProductFind::Found);
  EXPECT_EQ(Find(l1c, {false, 20}).Find, TProductFind::NoSuchResolution);
}

TEST(ProductLayout, WhatIsAProductAndWhatIsNot) {
  const TZipListing listing({L"A.SAFE/GRANULE/G1/IMG_DATA/T_B04.jp2", L"B/GRANULE/G1/IMG_DATA/T_B04.jp2",
                             L"C/MTD_MSIL1C.xml", L"C/GRANULE/G1/IMG_DATA/T_B04.jp2",
                             L"C/GRANULE/G2/IMG_DATA/T_B04.jp2", L"C/GRANULE/G2/IMG_DATA/T_B03.jp2",
                             L"C/GRANULE/G2/IMG_DATA/T_B02.jp2", L"D/MTD_MSIL2A.xml", L"D/GRANULE/G/QI_DATA/x.gml",
                             L"E/R10m/T_B04_10m.jp2", L"F/R10m/notes.txt"});
  EXPECT_TRUE(IsProductRoot(listing, L"A.SAFE"));       // the name is enough
  EXPECT_FALSE(IsProductRoot(listing, L"B"));           // GRANULE alone is not
  EXPECT_EQ(FindProductBand(listing, L"B", {}).Find, TProductFind::NotAProduct);
  EXPECT_EQ(FindProductBand(listing, L"C", {}).Find, TProductFind::SeveralTiles);
  EXPECT_EQ(FindProductBand(listing, L"C/GRANULE/G2", {}).Band, L"C/GRANULE/G2/IMG_DATA/T_B04.jp2");
  EXPECT_EQ(FindProductBand(listing, L"D", {}).Find, TProductFind::NoBands);
  // A resolution folder counts only when it holds bands; one band of three is a trimmed product.
  EXPECT_EQ(FindProductBand(listing, L"E/R10m", {}).Find, TProductFind::MissingBand);
  EXPECT_EQ(FindProductBand(listing, L"F/R10m", {}).Find, TProductFind::NotAProduct);
  // Entry names as zip tools write them: "./" in front, doubled or trailing slashes.
  const TZipListing odd({L"./P.SAFE/", L"P.SAFE//GRANULE/G/IMG_DATA/", L"./P.SAFE/GRANULE/G/IMG_DATA/T_B03.jp2"});
  EXPECT_EQ(FindProductBand(odd, L"P.SAFE", {}).Band, L"P.SAFE/GRANULE/G/IMG_DATA/T_B04.jp2");
  EXPECT_EQ(odd.Files(L"P.SAFE/GRANULE/G"), std::vector<std::wstring>{});
}

// A download of selected bands: a resolution that lacks one gives way to the finest complete.
TEST(ProductLayout, AnIncompleteResolutionGivesWayToTheFinestCompleteOne) {
  const std::wstring img = L"P.SAFE/GRANULE/L2A_T33UUP_X/IMG_DATA/";
  std::vector<std::wstring> names = {L"P.SAFE/MTD_MSIL2A.xml"};
  for (const wchar_t* r : {L"10m", L"20m", L"60m"})
    for (const wchar_t* b : {L"B03", L"B04", L"B08", L"B8A"}) names.push_back(img + L"R" + r + L"/T_" + b + L"_" + r + L".jp2");
  names.push_back(img + L"R20m/T_B02_20m.jp2");
  names.push_back(img + L"R60m/T_B02_60m.jp2");
  const TProductBand band = Find(names);
  EXPECT_EQ(band.Band, img + L"R20m/T_B04_20m.jp2");
  EXPECT_EQ(band.Note, L"R10m lacks T_B02_10m.jp2: using R20m");
  // False colour needs no B02: 10 m is complete, and nothing is said.
  EXPECT_EQ(Find(names, {true, 0}).Band, img + L"R10m/T_B08_10m.jp2");
  EXPECT_EQ(Find(names, {true, 0}).Note, L"");
  // Asked for 10 m: that resolution or nothing.
  EXPECT_EQ(Find(names, {false, 10}).Find, TProductFind::MissingBand);
  EXPECT_EQ(Find(names, {false, 10}).Band, img + L"R10m/T_B02_10m.jp2");
  // None complete: the finest one's missing band, whichever band the start is derived from.
  for (const wchar_t* gone : {L"R20m/T_B02_20m.jp2", L"R60m/T_B02_60m.jp2"})
    names.erase(std::find(names.begin(), names.end(), img + gone));
  EXPECT_EQ(Find(names).Find, TProductFind::MissingBand);
  EXPECT_EQ(Find(names).Band, img + L"R10m/T_B02_10m.jp2");
  names.erase(std::find(names.begin(), names.end(), img + L"R10m/T_B04_10m.jp2"));
  EXPECT_EQ(Find(names, {true, 0}).Band, img + L"R20m/T_B8A_20m.jp2");
  EXPECT_EQ(Find(names, {true, 0}).Note, L"R10m lacks T_B04_10m.jp2: using R20m");
}

// Decoys in other letter cases than ESA's: the layout's spelling is meant; without it, and with
// several candidates, nothing is.
TEST(ProductLayout, NamesDifferingOnlyInLetterCase) {
  const std::wstring r60 = L"P.SAFE/GRANULE/G/IMG_DATA/R60m/";
  std::vector<std::wstring> names = {L"P.SAFE/MTD_MSIL2A.xml"};
  for (const wchar_t* b : {L"B02", L"B03", L"B04"}) {
    names.push_back(r60 + L"T_" + b + L"_60M.JP2");  // sorts first
    names.push_back(r60 + L"T_" + b + L"_60m.jp2");
  }
  EXPECT_EQ(Find(names).Band, r60 + L"T_B04_60m.jp2");
  const TZipListing listing(names);
  const std::wstring folder = r60.substr(0, r60.size() - 1);
  EXPECT_EQ(listing.ChildFile(folder, L"T_B03_60m.jp2"), r60 + L"T_B03_60m.jp2");
  EXPECT_EQ(listing.ChildFile(folder, L"t_b03_60M.jp2"), L"");  // two in other cases: neither
  EXPECT_EQ(listing.ChildFolder(L"P.SAFE/GRANULE/G", L"img_data"), L"P.SAFE/GRANULE/G/IMG_DATA");

  // Twins of the start band with neither spelt as ESA does.
  const std::vector<std::wstring> twins = {L"P.SAFE/MTD_MSIL2A.xml", r60 + L"T_B04_60M.JP2", r60 + L"t_b04_60M.jp2",
                                           r60 + L"T_B03_60m.jp2", r60 + L"T_B02_60m.jp2"};
  EXPECT_EQ(Find(twins).Find, TProductFind::Ambiguous);
  EXPECT_EQ(ChooseStartBand(TZipListing(twins).Files(folder), 60, false), L"");
  // Twins of a band derived from the start, neither spelt as derived.
  const std::vector<std::wstring> derived = {L"P.SAFE/MTD_MSIL2A.xml", r60 + L"T_B04_60m.jp2", r60 + L"T_B03_60M.jp2",
                                             r60 + L"T_b03_60M.jp2", r60 + L"T_B02_60m.jp2"};
  EXPECT_EQ(Find(derived).Find, TProductFind::Ambiguous);
  // A single band in another case is still that band.
  const std::vector<std::wstring> single = {L"P.SAFE/MTD_MSIL2A.xml", r60 + L"T_B04_60M.JP2", r60 + L"T_B03_60m.jp2",
                                            r60 + L"T_B02_60M.jp2"};
  EXPECT_EQ(Find(single).Band, r60 + L"T_B04_60M.JP2");
}

// 100 000 folders in a zip: each question is answered from the folder's own children, so the
// search looks at a few names per entry, where scanning the whole listing per folder looked at
// ten billion (147 s).
TEST(ProductZip, AListingOfAHundredThousandFoldersIsSearchedInLinearWork) {
  const size_t count = 100000;
  std::vector<std::wstring> empty, granules;
  for (size_t k = 0; k < count; ++k) empty.push_back(L"F" + std::to_wstring(k) + L"/");
  const TZipListing flat(empty);
  EXPECT_EQ(FindZipProduct(flat, {}).Find, TProductFind::NotAProduct);
  EXPECT_LE(flat.NamesExamined(), 3 * count);

  const std::wstring safe = L"S2B_MSIL1C_X.SAFE/";
  granules = {safe + L"MTD_MSIL1C.xml"};
  for (const wchar_t* b : {L"B02", L"B03", L"B04"}) granules.push_back(safe + L"GRANULE/L1C_T/IMG_DATA/T_" + b + L".jp2");
  for (size_t k = 0; k < count; ++k) granules.push_back(safe + L"GRANULE/G" + std::to_wstring(k) + L"/IMG_DATA/");
  const TZipListing product(granules);
  EXPECT_EQ(FindZipProduct(product, {}).Find, TProductFind::SeveralTiles);
  EXPECT_LE(product.NamesExamined(), 3 * count);
}

TEST(ProductZip, EntryNamesThatCouldLeaveTheFolderAreUnsafe) {
  for (const wchar_t* name : {L"../x.jp2", L"a/../../x", L"a\\..\\x", L"/etc/passwd", L"\\x", L"C:/x", L"C:x",
                              L"a/b:stream", L"a/\x01"})
    EXPECT_TRUE(IsUnsafeEntryName(name)) << ToUtf8(name);
  for (const wchar_t* name : {L"P.SAFE/GRANULE/x/IMG_DATA/T_B04.jp2", L"a..b/x", L"./x", L"..x/y", L"P.SAFE/"})
    EXPECT_FALSE(IsUnsafeEntryName(name)) << ToUtf8(name);
}

// --- Products on disk -------------------------------------------------------------------------

class ProductTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(testenv::TestData().empty()) << "BANDWEAVE_TEST_DATA is not set";
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    FDir = fs::temp_directory_path() /
           ("bandweave-product-" + std::to_string(::getpid()) + "-" + std::string(info->name()));
    std::error_code error;
    fs::remove_all(FDir, error);
    fs::create_directories(FDir);
  }
  void TearDown() override {
    std::error_code ignored;
    fs::remove_all(FDir, ignored);
  }
  fs::path Tile() const { return testenv::TestData() / "tile"; }
  fs::path Tiny() const { return testenv::TestData() / "tiny"; }

  // Everything under the folder, relative, sorted.
  std::vector<std::string> Tree(const fs::path& dir) const {
    std::vector<std::string> names;
    for (const auto& item : fs::recursive_directory_iterator(dir)) names.push_back(fs::relative(item.path(), dir).generic_string());
    std::sort(names.begin(), names.end());
    return names;
  }

  fs::path FDir;
};

// Every sample of a composite against the generator's values of its three bands.
void ExpectComposite(const fs::path& file, int red, int green, int blue, unsigned width, unsigned height) {
  TBitmap image = LoadImageFile(GetImageFileType(Wide(file)), Wide(file));
  ASSERT_TRUE(image) << file;
  ASSERT_EQ(FreeImage_GetImageType(image.get()), FIT_RGB16);
  ASSERT_EQ(FreeImage_GetWidth(image.get()), width);
  ASSERT_EQ(FreeImage_GetHeight(image.get()), height);
  int bad = 0;
  for (unsigned line = 0; line < height && bad < 5; ++line) {
    const auto* p = reinterpret_cast<const FIRGB16*>(FreeImage_GetScanLine(image.get(), static_cast<int>(line)));
    const unsigned y = height - 1 - line;
    for (unsigned x = 0; x < width && bad < 5; ++x)
      if (p[x].red != sample::Value(red, x, y) || p[x].green != sample::Value(green, x, y) ||
          p[x].blue != sample::Value(blue, x, y)) {
        ++bad;
        ADD_FAILURE() << file << " pixel " << x << "," << y;
      }
  }
}

TEST_F(ProductTest, EveryEntryPointOfAnL1cProductGivesTheCompositeBesideTheRedBand) {
  const TProduct p = MakeL1c(FDir, Tile());
  const fs::path output = p.ImgData / (std::string(kStem) + "48.tif");
  for (const fs::path& dropped : {p.Safe, p.Safe / "MTD_MSIL1C.xml", p.Granule, p.ImgData}) {
    SCOPED_TRACE(dropped.string());
    RecordingHost host;
    EXPECT_EQ(ProcessDroppedPath(host, Wide(dropped)), TJobOutcome::Saved);
    EXPECT_EQ(host.Status, L"Finished");
    ExpectComposite(output, 4, 3, 2, 300, 200);
    fs::remove(output);
  }
  RecordingHost host;
  EXPECT_EQ(ProcessDroppedPath(host, Wide(p.Safe / ""), {true, 0}), TJobOutcome::Saved);
  ExpectComposite(output, 8, 4, 3, 300, 200);
  // L1C bands have one resolution: asking for another says so and writes nothing.
  fs::remove(output);
  RecordingHost coarse;
  EXPECT_EQ(ProcessDroppedPath(coarse, Wide(p.Safe), {false, 60}), TJobOutcome::NotStarted);
  const std::wstring text = producttext::kNoResolution;
  EXPECT_EQ(coarse.Calls, (std::vector<std::wstring>{L"busy", L"status: " + text, L"beep", L"box: " + text, L"restore"}));
  EXPECT_FALSE(fs::exists(output));
}

TEST_F(ProductTest, AnL2aProductGivesTenMetresUnlessAskedForAnotherResolution) {
  const fs::path realMetadata =
      testenv::RealData().empty() ? fs::path() : testenv::RealData() / "l2a_T29UNU_20221005_unmodified" / "MTD_MSIL2A.xml";
  const TProduct p = MakeL2a(FDir, {{10, Tile()}, {20, Tiny()}}, realMetadata);
  const fs::path r10 = p.ImgData / "R10m", r20 = p.ImgData / "R20m";
  for (const fs::path& dropped : {p.Safe, p.Safe / "MTD_MSIL2A.xml", p.Granule, p.ImgData}) {
    SCOPED_TRACE(dropped.string());
    RecordingHost host;
    EXPECT_EQ(ProcessDroppedPath(host, Wide(dropped)), TJobOutcome::Saved);
    ExpectComposite(r10 / (std::string(kStem) + "48_10m.tif"), 4, 3, 2, 300, 200);
    fs::remove(r10 / (std::string(kStem) + "48_10m.tif"));
  }
  RecordingHost host;
  EXPECT_EQ(ProcessDroppedPath(host, Wide(p.Safe), {true, 20}), TJobOutcome::Saved);
  ExpectComposite(r20 / (std::string(kStem) + "48_20m.tif"), 8, 4, 3, 3, 2);  // B8A, B04, B03
  RecordingHost sixty;
  EXPECT_EQ(ProcessDroppedPath(sixty, Wide(p.Granule), {false, 60}), TJobOutcome::NotStarted);
  EXPECT_EQ(sixty.Count(L"box: " + std::wstring(producttext::kNoResolution)), 1);
  EXPECT_EQ(Tree(p.ImgData).size(), 2u + 4 + 4 + 1);  // two folders, eight bands, one composite
}

TEST_F(ProductTest, FoldersAndFilesThatAreNoProductAreHandledAsBefore) {
  // A plain folder and an R10m folder without bands: nothing visible, as for any folder.
  fs::create_directories(FDir / "plain");
  fs::create_directories(FDir / "other" / "R10m");
  RecordingHost host;
  EXPECT_EQ(ProcessDroppedPath(host, Wide(FDir / "plain")), TJobOutcome::NoSuchFile);
  EXPECT_EQ(ProcessDroppedPath(host, Wide(FDir / "other" / "R10m")), TJobOutcome::NoSuchFile);
  EXPECT_FALSE(IsProductPath(Wide(FDir / "plain")));
  // A metadata file's name without a product around it: a file that is not JPEG 2000.
  WriteBytes(FDir / "plain" / "MTD_MSIL1C.xml", "<x/>");
  EXPECT_EQ(ProcessDroppedPath(host, Wide(FDir / "plain" / "MTD_MSIL1C.xml")), TJobOutcome::NotJpeg2000);
  EXPECT_EQ(host.Calls, (std::vector<std::wstring>{L"busy", L"restore"}));

  // A product's band that is not JPEG 2000 is named, where a dropped one would be ignored.
  const TProduct fake = MakeL1c(FDir / "fake", Tile());
  WriteBytes(fake.ImgData / (std::string(kStem) + "B04.jp2"), "not an image");
  RecordingHost notJp2;
  EXPECT_EQ(ProcessDroppedPath(notJp2, Wide(fake.Granule)), TJobOutcome::NotStarted);
  EXPECT_EQ(notJp2.Status, std::wstring(producttext::kNotJpeg2000) + FromUtf8(kStem) + L"B04.jp2");
  EXPECT_EQ(notJp2.Count(L"beep"), 1);

  // A product whose bands are gone: the job's own text for missing sources.
  const TProduct p = MakeL1c(FDir, Tile());
  fs::remove_all(p.ImgData);
  fs::create_directories(p.ImgData);
  RecordingHost empty;
  EXPECT_EQ(ProcessDroppedPath(empty, Wide(p.Safe)), TJobOutcome::NotStarted);
  EXPECT_EQ(empty.Status, L"Some source files missing");
  EXPECT_EQ(empty.Count(L"beep"), 1);
}

TEST_F(ProductTest, RealSixtyMetreL2aBandsAsAnR60mFolder) {
  const fs::path real = testenv::RealData().empty() ? fs::path() : testenv::RealData() / "l2a_T29UNU_20221005_unmodified";
  BANDWEAVE_NEED_REAL_DATA(real);
  const std::string stem = "T29UNU_20221005T115411_";
  const fs::path safe = FDir / "S2A_MSIL2A_20221005T115411_N0400_R023_T29UNU_20221005T164454.SAFE";
  const fs::path r60 = safe / "GRANULE" / "L2A_T29UNU_A038058_20221005T115407" / "IMG_DATA" / "R60m";
  CopyWritable(real / "MTD_MSIL2A.xml", safe / "MTD_MSIL2A.xml");
  for (const char* band : {"B02", "B03", "B04", "B8A", "TCI"})
    CopyWritable(real / (stem + band + "_60m.jp2"), r60 / (stem + band + "_60m.jp2"));
  RecordingHost host;
  ASSERT_EQ(ProcessDroppedPath(host, Wide(safe)), TJobOutcome::Saved);  // 60 m is the finest here
  const fs::path output = r60 / (stem + "48_60m.tif");
  TBitmap composite = LoadImageFile(GetImageFileType(Wide(output)), Wide(output));
  ASSERT_TRUE(composite);
  TBitmap bands[3];
  const char* codes[3] = {"B04", "B03", "B02"};
  for (int k = 0; k < 3; ++k) {
    const std::wstring file = Wide(r60 / (stem + codes[k] + "_60m.jp2"));
    bands[k] = LoadImageFile(GetImageFileType(file), file);
    ASSERT_TRUE(bands[k]);
  }
  ASSERT_EQ(FreeImage_GetWidth(composite.get()), 1830u);
  ASSERT_EQ(FreeImage_GetHeight(composite.get()), 1830u);
  long mismatches = 0, distinct = 0;
  for (int y = 0; y < 1830; ++y) {
    const auto* out = reinterpret_cast<const FIRGB16*>(FreeImage_GetScanLine(composite.get(), y));
    const auto* r = reinterpret_cast<const WORD*>(FreeImage_GetScanLine(bands[0].get(), y));
    const auto* g = reinterpret_cast<const WORD*>(FreeImage_GetScanLine(bands[1].get(), y));
    const auto* b = reinterpret_cast<const WORD*>(FreeImage_GetScanLine(bands[2].get(), y));
    for (int x = 0; x < 1830; ++x) {
      mismatches += out[x].red != r[x] || out[x].green != g[x] || out[x].blue != b[x];
      distinct += r[x] != 0 && (r[x] != g[x] || g[x] != b[x]);
    }
  }
  EXPECT_EQ(mismatches, 0);
  EXPECT_GT(distinct, 1830L * 1830 / 4);  // real, distinct bands, not blanks
}

// --- Zips ---------------------------------------------------------------------------------

TEST_F(ProductTest, ProductZipsGiveTheCompositeBesideTheZipAndLeaveNothingElse) {
  const TProduct l1c = MakeL1c(FDir / "src1", Tile());
  const TProduct l2a = MakeL2a(FDir / "src2", {{10, Tile()}, {20, Tiny()}});
  const fs::path drop = FDir / "downloads";
  // Some zip tools write "./" in front of every name.
  std::vector<TZipEntry> dotted = EntriesOf(l1c.Safe);
  for (TZipEntry& e : dotted) e.Name = "./" + e.Name;
  WriteBytes(drop / "S2B_MSIL1C_20250101T101021_N0511_R022_T33UUP_20250101T120000.zip", ZipBytes(dotted));
  WriteBytes(drop / "S2A_MSIL2A_20250101T101021.ZIP", ZipBytes(EntriesOf(l2a.Safe)));

  RecordingHost none;  // no format chosen: said before anything is unpacked
  none.SaveFormat = -1;
  EXPECT_EQ(ProcessDroppedPath(none, Wide(drop / "S2A_MSIL2A_20250101T101021.ZIP")), TJobOutcome::NoSaveFormat);
  EXPECT_EQ(none.Count(L"status: Unpacking red"), 0);

  RecordingHost host;
  EXPECT_EQ(ProcessDroppedPath(host, Wide(drop / "S2B_MSIL1C_20250101T101021_N0511_R022_T33UUP_20250101T120000.zip")),
            TJobOutcome::Saved);
  EXPECT_EQ(host.Count(L"status: Unpacking red"), 1);
  ExpectComposite(drop / (std::string(kStem) + "48.tif"), 4, 3, 2, 300, 200);
  RecordingHost l2aHost;
  EXPECT_EQ(ProcessDroppedPath(l2aHost, Wide(drop / "S2A_MSIL2A_20250101T101021.ZIP")), TJobOutcome::Saved);
  ExpectComposite(drop / (std::string(kStem) + "48_10m.tif"), 4, 3, 2, 300, 200);
  RecordingHost falseColour;
  EXPECT_EQ(ProcessDroppedPath(falseColour, Wide(drop / "S2A_MSIL2A_20250101T101021.ZIP"), {true, 20}), TJobOutcome::Saved);
  ExpectComposite(drop / (std::string(kStem) + "48_20m.tif"), 8, 4, 3, 3, 2);
  EXPECT_EQ(Tree(drop), (std::vector<std::string>{
                            "S2A_MSIL2A_20250101T101021.ZIP",
                            "S2B_MSIL1C_20250101T101021_N0511_R022_T33UUP_20250101T120000.zip",
                            std::string(kStem) + "48.tif", std::string(kStem) + "48_10m.tif",
                            std::string(kStem) + "48_20m.tif"}));
}

TEST_F(ProductTest, BadZipsFailClearlyWriteNothingAndLeaveNoFolder) {
  const TProduct p = MakeL1c(FDir / "src", Tile());
  const std::vector<TZipEntry> good = EntriesOf(p.Safe);
  const std::string goodBytes = ZipBytes(good);
  const auto with = [&](auto change) {
    std::vector<TZipEntry> entries = good;
    change(entries);
    return ZipBytes(entries);
  };
  const auto band = [](std::vector<TZipEntry>& entries, const char* code) -> TZipEntry& {
    for (TZipEntry& e : entries)
      if (e.Name.find(std::string(code) + ".jp2") != std::string::npos) return e;
    throw std::runtime_error("no such band");
  };
  std::string damaged = goodBytes;
  for (size_t at = goodBytes.size() / 3; at < goodBytes.size() / 3 + 64; ++at) damaged[at] = static_cast<char>(~damaged[at]);

  struct TCase {
    const char* What;
    std::string Bytes;
    const wchar_t* Text;
  };
  const TCase cases[] = {
      {"damaged", damaged, producttext::kZipDamaged},
      {"truncated", goodBytes.substr(0, goodBytes.size() / 2), producttext::kZipDamaged},
      {"empty", "", producttext::kZipDamaged},
      {"not a product (the console tool)", ZipBytes({{"readme.txt", "hello"}, {"T_B04.jp2", good[0].Data}}),
       producttext::kZipNoProduct},
      {"dot-dot entry", with([](auto& e) { e.push_back({"../evil_B04.jp2", "x"}); }), producttext::kZipUnsafe},
      {"absolute entry", with([](auto& e) { e.push_back({"/tmp/evil_B04.jp2", "x"}); }), producttext::kZipUnsafe},
      {"band that is not JPEG 2000", with([&](auto& e) { band(e, "B04").Data = "not an image"; }),
       producttext::kNotJpeg2000},
      {"entry claiming gigabytes",
       with([&](auto& e) { band(e, "B03").DeclaredSize = uint64_t(3) << 30; }), producttext::kZipTooLarge},
      {"entry larger than it claims",
       with([&](auto& e) { band(e, "B02").DeclaredSize = band(e, "B02").Data.size() / 2; }), producttext::kZipOversize},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.What);
    const fs::path drop = FDir / "downloads";
    fs::remove_all(drop);
    WriteBytes(drop / "S2B_MSIL1C_20250101T101021.zip", c.Bytes);
    RecordingHost host;
    TProductRequest console;
    console.SayWhenNoProduct = true;
    const TJobOutcome outcome = ProcessDroppedPath(host, Wide(drop / "S2B_MSIL1C_20250101T101021.zip"), console);
    EXPECT_NE(outcome, TJobOutcome::Saved);
    EXPECT_EQ(host.Count(L"beep"), 1);
    ASSERT_FALSE(host.Calls.empty());
    EXPECT_EQ(host.Calls.back(), L"restore");
    // Whatever the reason, it is named in the box, and the box is the status line's text.
    ASSERT_GE(host.Calls.size(), 2u);
    const std::wstring box = host.Calls[host.Calls.size() - 2];
    EXPECT_EQ(box, L"box: " + host.Status);
    EXPECT_EQ(host.Status.rfind(c.Text, 0), 0u) << ToUtf8(host.Status);
    EXPECT_EQ(Tree(drop), std::vector<std::string>{"S2B_MSIL1C_20250101T101021.zip"});
  }
}

// The window: a zip of anything else is as silent as any file that is not JPEG 2000; a product
// zip that is damaged, unsafe or trimmed still says why it gives nothing.
TEST_F(ProductTest, AZipThatIsNoProductIsSilentInTheWindow) {
  const fs::path drop = FDir / "downloads";
  const fs::path zip = drop / "holiday.zip";
  WriteBytes(zip, ZipBytes({{"photos/", ""}, {"photos/beach.jpg", "jpeg"}, {"readme.txt", "hello"}}));
  RecordingHost window;
  EXPECT_EQ(ProcessDroppedPath(window, Wide(zip)), TJobOutcome::NotJpeg2000);
  EXPECT_EQ(window.Calls, (std::vector<std::wstring>{L"busy", L"restore"}));
  EXPECT_EQ(Tree(drop), std::vector<std::string>{"holiday.zip"});

  const TProduct p = MakeL1c(FDir / "src", Tile());
  std::vector<TZipEntry> entries = EntriesOf(p.Safe);
  const std::string good = ZipBytes(entries);
  entries.push_back({"../evil_B04.jp2", "x"});
  const std::pair<std::string, const wchar_t*> speaking[] = {
      {good.substr(0, good.size() / 2), producttext::kZipDamaged}, {ZipBytes(entries), producttext::kZipUnsafe}};
  for (const auto& [bytes, text] : speaking) {
    WriteBytes(zip, bytes);
    RecordingHost host;
    EXPECT_EQ(ProcessDroppedPath(host, Wide(zip)), TJobOutcome::NotStarted);
    EXPECT_EQ(host.Status.rfind(text, 0), 0u) << ToUtf8(host.Status);
    EXPECT_EQ(host.Count(L"beep"), 1);
  }
}

// The zips of the hostile-product campaign: 100 000 empty top-level folders, and a product
// with 100 000 granule folders. Minutes each when every folder scanned the whole listing.
TEST_F(ProductTest, ZipsOfAHundredThousandEntriesAnswerWithTheirMessages) {
  TProductRequest console;
  console.SayWhenNoProduct = true;
  std::vector<TZipEntry> folders;
  for (int k = 0; k < 100000; ++k) folders.push_back({"F" + std::to_string(k) + "/", ""});
  WriteBytes(FDir / "folders.zip", ZipBytes(folders));
  RecordingHost host;
  EXPECT_EQ(ProcessDroppedPath(host, Wide(FDir / "folders.zip"), console), TJobOutcome::NotStarted);
  EXPECT_EQ(host.Status, producttext::kZipNoProduct + std::wstring(L"folders.zip"));

  const TProduct p = MakeL1c(FDir / "src", Tile());
  std::vector<TZipEntry> granules = EntriesOf(p.Safe);
  const std::string safe = p.Safe.filename().string();
  for (int k = 0; k < 100000; ++k) granules.push_back({safe + "/GRANULE/G" + std::to_string(k) + "/IMG_DATA/", ""});
  WriteBytes(FDir / "granules.zip", ZipBytes(granules));
  RecordingHost several;
  EXPECT_EQ(ProcessDroppedPath(several, Wide(FDir / "granules.zip"), console), TJobOutcome::NotStarted);
  EXPECT_EQ(several.Status, producttext::kSeveralTiles);
}

// A download of selected bands, trimmed below 10 m: the finest complete resolution, with a
// word; nothing complete: the band file it lacks, before anything is loaded.
TEST_F(ProductTest, ATrimmedL2aProductUsesItsFinestCompleteResolution) {
  const TProduct p = MakeL2a(FDir / "src", {{10, Tile()}, {20, Tiny()}});
  const std::string b02 = std::string(kStem) + "B02_10m.jp2";
  fs::remove(p.ImgData / "R10m" / b02);
  const std::wstring note = L"R10m lacks " + FromUtf8(b02) + L": using R20m";
  const fs::path drop = FDir / "downloads";
  WriteBytes(drop / "S2A_MSIL2A_trimmed.zip", ZipBytes(EntriesOf(p.Safe)));

  RecordingHost host;
  EXPECT_EQ(ProcessDroppedPath(host, Wide(p.Safe)), TJobOutcome::Saved);
  EXPECT_EQ(host.Count(L"status: " + note), 1);
  ExpectComposite(p.ImgData / "R20m" / (std::string(kStem) + "48_20m.tif"), 4, 3, 2, 3, 2);
  RecordingHost zipped;
  EXPECT_EQ(ProcessDroppedPath(zipped, Wide(drop / "S2A_MSIL2A_trimmed.zip")), TJobOutcome::Saved);
  EXPECT_EQ(zipped.Count(L"status: " + note), 1);
  ExpectComposite(drop / (std::string(kStem) + "48_20m.tif"), 4, 3, 2, 3, 2);

  fs::remove(p.ImgData / "R20m" / (std::string(kStem) + "B04_20m.jp2"));
  WriteBytes(drop / "S2A_MSIL2A_trimmed.zip", ZipBytes(EntriesOf(p.Safe)));
  for (const fs::path& dropped : {p.Safe, drop / "S2A_MSIL2A_trimmed.zip"}) {
    RecordingHost none;
    EXPECT_EQ(ProcessDroppedPath(none, Wide(dropped)), TJobOutcome::NotStarted);
    const std::wstring text = producttext::kBandMissing + FromUtf8(b02);
    EXPECT_EQ(none.Calls, (std::vector<std::wstring>{L"busy", L"status: " + text, L"beep", L"box: " + text, L"restore"}));
  }
}

// Each band twice in a zip, the junk in upper case sorting first: the layout's spelling wins.
TEST_F(ProductTest, CaseDecoysInAZipGiveWayToTheLayoutsSpelling) {
  const TProduct p = MakeL2a(FDir / "src", {{10, Tile()}});
  const auto upper = [](std::string name, const char* from, const char* to) {
    return name.replace(name.size() - std::string(from).size(), std::string::npos, to);
  };
  std::vector<TZipEntry> decoyed, twins;
  for (const TZipEntry& e : EntriesOf(p.Safe)) {
    const bool band = e.Name.size() > 8 && e.Name.compare(e.Name.size() - 8, 8, "_10m.jp2") == 0;
    if (band) decoyed.push_back({upper(e.Name, "_10m.jp2", "_10M.JP2"), "junk"});
    decoyed.push_back(e);
    if (band) twins.push_back({upper(e.Name, "_10m.jp2", "_10M.JP2"), "junk"});
    twins.push_back(band ? TZipEntry{upper(e.Name, "_10m.jp2", "_10m.JP2"), e.Data} : e);
  }
  const fs::path drop = FDir / "downloads";
  WriteBytes(drop / "decoyed.zip", ZipBytes(decoyed));
  RecordingHost host;
  EXPECT_EQ(ProcessDroppedPath(host, Wide(drop / "decoyed.zip")), TJobOutcome::Saved);
  ExpectComposite(drop / (std::string(kStem) + "48_10m.tif"), 4, 3, 2, 300, 200);

  // Neither spelt as ESA spells it: no telling which is the band.
  fs::remove_all(drop);
  WriteBytes(drop / "twins.zip", ZipBytes(twins));
  RecordingHost ambiguous;
  EXPECT_EQ(ProcessDroppedPath(ambiguous, Wide(drop / "twins.zip")), TJobOutcome::NotStarted);
  EXPECT_EQ(ambiguous.Status.rfind(producttext::kBandAmbiguous, 0), 0u) << ToUtf8(ambiguous.Status);
  EXPECT_EQ(Tree(drop), std::vector<std::string>{"twins.zip"});
}
}  // namespace
