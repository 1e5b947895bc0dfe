// Whole jobs on generated band files: what the user sees and hears, in order, and every
// sample of what is written.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <new>
#include <string>
#include <vector>

#include "BandMerge.h"
#include "CompositeJob.h"
#include "CompositeWay.h"
#include "CompositionPlatform.h"
#include "FreeImageSession.h"
#include "ImageFiles.h"
#include "Jp2Header.h"
#include "Jp2Encode.h"
#include "ImageTestEnvironment.h"
#include "RecordingHost.h"
#include "SampleValues.h"
#include "TempFile.h"
#include "TempFileTesting.h"
#include "RealData.h"
#include "TempFolder.h"
#include "TestEnv.h"
#include "TextCodec.h"
#include "qelUtils.h"

#if !defined(_WIN32)
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <thread>
#endif

namespace fs = std::filesystem;

namespace {
[[maybe_unused]] auto* const gEnvironment =
    ::testing::AddGlobalTestEnvironment(new imagetest::TImageEnvironment);
using imagetest::Wide;

const std::string kStem = sample::kStem;

TBitmap Load(const fs::path& path) {
  const std::wstring name = Wide(path);
  return LoadImageFile(GetImageFileType(name), name);
}

// Copies keep the source's read-only flag, which on Windows blocks their removal.
void CopyWritable(const fs::path& from, const fs::path& to) {
  fs::copy_file(from, to, fs::copy_options::overwrite_existing);
  fs::permissions(to, fs::perms::owner_read | fs::perms::owner_write, fs::perm_options::add);
}

void RemoveTree(const fs::path& dir, std::error_code& error) {
  if (fs::exists(dir, error))
    for (const auto& entry : fs::recursive_directory_iterator(dir, error))
      fs::permissions(entry.path(), fs::perms::owner_write, fs::perm_options::add, error);
  fs::remove_all(dir, error);
}

// A fresh private folder per test, holding copies of the chosen generated bands.
class JobTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(testenv::TestData().empty()) << "BANDWEAVE_TEST_DATA is not set";
    FDir = testenv::FreshPrivateFolder("bandweave-job-");
  }
  void TearDown() override {
    compositionTesting::SetDirectDecoding(true);
    compositionTesting::SetStreaming(true);
    compositionTesting::SetConvertHook(nullptr);
    compositionTesting::SetChannelHook(nullptr);
    qelUtilsTesting::SetKeepAliveHooks(nullptr, nullptr);
    qelUtilsTesting::SetClockHook(nullptr);
    std::error_code ignored;
    RemoveTree(FDir, ignored);
  }

  void CopyBands(const std::string& set, std::initializer_list<const char*> bands, const fs::path& to = {}) {
    const fs::path target = to.empty() ? FDir : to;
    for (const char* band : bands) {
      const fs::path source = testenv::TestData() / set / (kStem + band + ".jp2");
      ASSERT_TRUE(fs::exists(source)) << source << " missing: run scripts/make-testdata.sh";
      CopyWritable(source, target / (kStem + band + ".jp2"));
    }
  }
  fs::path Band(const char* band) const { return FDir / (kStem + band + ".jp2"); }
  fs::path Output(const char* extension) const { return FDir / (kStem + "48." + extension); }
  std::wstring DroppedName(const char* band) const { return FileNamePart(Wide(Band(band))); }

  // Everything in the folder apart from the band files.
  std::vector<std::string> Written() const {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(FDir))
      if (entry.path().extension() != ".jp2") names.push_back(entry.path().filename().string());
    return names;
  }

  fs::path FDir;
  RecordingHost FHost;
};

using Calls = std::vector<std::wstring>;

const Calls kAnnounceAll = {L"status: Processing red", L"repaint", L"status: Processing green", L"repaint",
                            L"status: Processing blue", L"repaint"};

Calls Join(std::initializer_list<Calls> parts) {
  Calls all;
  for (const auto& part : parts) all.insert(all.end(), part.begin(), part.end());
  return all;
}

Calls FailureEnd(const std::wstring& droppedName) {
  return {L"status: Saving...this will take some time!", L"repaint", L"status: Failed to process file: " + droppedName,
          L"beep", L"box: Failed to process file: " + droppedName, L"restore"};
}

// Every sample of the written composite against the generated bands: codes of the red,
// green and blue band files, and the size of each.
struct TSource {
  int BandCode;
  unsigned Width, Height;
};
void ExpectComposite(const fs::path& file, TSource red, TSource green, TSource blue) {
  TBitmap image = Load(file);
  ASSERT_TRUE(image) << file;
  ASSERT_EQ(FreeImage_GetImageType(image.get()), FIT_RGB16);
  ASSERT_EQ(FreeImage_GetWidth(image.get()), red.Width);
  ASSERT_EQ(FreeImage_GetHeight(image.get()), red.Height);
  // Outside a smaller merged band its word keeps the base band's value.
  const auto expected = [&](const TSource& source, unsigned x, unsigned line) {
    if (x >= source.Width || line >= source.Height) return sample::Value(red.BandCode, x, red.Height - 1 - line);
    return sample::Value(source.BandCode, x, source.Height - 1 - line);
  };
  int mismatches = 0;
  for (unsigned line = 0; line < red.Height && mismatches < 5; ++line) {
    const auto* pixels = reinterpret_cast<const FIRGB16*>(FreeImage_GetScanLine(image.get(), static_cast<int>(line)));
    for (unsigned x = 0; x < red.Width && mismatches < 5; ++x) {
      const FIRGB16 want{expected(red, x, line), expected(green, x, line), expected(blue, x, line)};
      if (pixels[x].red != want.red || pixels[x].green != want.green || pixels[x].blue != want.blue) {
        ++mismatches;
        ADD_FAILURE() << "pixel " << x << "," << line << ": " << pixels[x].red << "/" << pixels[x].green << "/"
                      << pixels[x].blue << ", expected " << want.red << "/" << want.green << "/" << want.blue;
      }
    }
  }
}

// --- Successful jobs -------------------------------------------------------------------

TEST_F(JobTest, TiffFromGreenBandHoldsEveryBandInItsWordWithTwoBeeps) {
  CopyBands("tile", {"B02", "B03", "B04"});
  FHost.SaveFormat = 1;
  FHost.BeepWhenDone = true;
  EXPECT_EQ(RunCompositeJob(FHost, Wide(Band("B03"))), TJobOutcome::Saved);

  const std::wstring complete = L"Production of 48-bit TIF  complete!";
  EXPECT_EQ(FHost.Visible(),
            Join({{L"busy"}, kAnnounceAll,
                  {L"status: Saving...this will take some time!", L"repaint", L"beep", L"status: " + complete,
                   L"repaint", L"beep", L"box: " + complete, L"status: Finished", L"hint", L"repaint", L"restore"}}));
  EXPECT_EQ(FHost.Status, L"Finished");
  ExpectComposite(Output("tif"), {4, 300, 200}, {3, 300, 200}, {2, 300, 200});
  EXPECT_EQ(Written(), std::vector<std::string>{kStem + "48.tif"});
}

TEST_F(JobTest, PngWithoutBeepAndItsTimingText) {
  CopyBands("tile", {"B02", "B03", "B04"});
  FHost.SaveFormat = 0;
  EXPECT_EQ(RunCompositeJob(FHost, Wide(Band("B04"))), TJobOutcome::Saved);

  const std::wstring complete = L"Production of 48-bit PNG  complete!";
  EXPECT_EQ(FHost.Visible(), Join({{L"busy"}, kAnnounceAll,
                                   {L"status: Saving...this will take some time!", L"repaint",
                                    L"status: " + complete, L"repaint", L"repaint", L"box: " + complete,
                                    L"status: Finished", L"hint", L"repaint", L"restore"}}));
  EXPECT_EQ(FHost.Count(L"beep"), 0);
  // The format not chosen reads 0.0; the other two are real durations.
  const std::wstring hint = FHost.Hint;
  EXPECT_EQ(hint.rfind(L"\"JP2:\"   ", 0), 0u) << ToUtf8(hint);
  EXPECT_NE(hint.find(L"   \"PNG:\"   "), std::wstring::npos) << ToUtf8(hint);
  EXPECT_EQ(hint.substr(hint.size() - 12), L"\"TIFF:\"  0.0") << ToUtf8(hint);
  ExpectComposite(Output("png"), {4, 300, 200}, {3, 300, 200}, {2, 300, 200});
  EXPECT_EQ(Written(), std::vector<std::string>{kStem + "48.png"});
}

TEST_F(JobTest, FalseColourFromB08) {
  CopyBands("tile", {"B03", "B04", "B08"});
  EXPECT_EQ(RunCompositeJob(FHost, Wide(Band("B08"))), TJobOutcome::Saved);
  ExpectComposite(Output("tif"), {8, 300, 200}, {4, 300, 200}, {3, 300, 200});
}

TEST_F(JobTest, TinyBandsAndAFolderNameOutsideAscii) {
  const fs::path dir = FDir / fs::u8path("B\xc3\xa4nder \xe6\xb8\xac\xe8\xa9\xa6");
  fs::create_directories(dir);
  CopyBands("tiny", {"B02", "B03", "B04"}, dir);
  EXPECT_EQ(RunCompositeJob(FHost, Wide(dir / (kStem + "B02.jp2"))), TJobOutcome::Saved);
  ExpectComposite(dir / (kStem + "48.tif"), {4, 3, 2}, {3, 3, 2}, {2, 3, 2});
}

TEST_F(JobTest, MergedBandsOfAnotherSizeFailTheJobBeforeDecoding) {
  // Red 300 x 200 makes the Composite; green is 150 x 100, blue 320 x 240. Either way of
  // decoding refuses both.
  CopyBands("mixed", {"B02", "B03", "B04"});
  for (const bool direct : {true, false}) {
    compositionTesting::SetDirectDecoding(direct);
    RecordingHost host;
    EXPECT_EQ(RunCompositeJob(host, Wide(Band("B04"))), TJobOutcome::Failed);
    EXPECT_EQ(host.Calls, Join({{L"busy", L"status: Processing red", L"repaint", L"status: Processing green",
                                 L"repaint", L"box: Size of green differs from red", L"status: Processing blue",
                                 L"repaint", L"box: Size of blue differs from red"},
                                FailureEnd(DroppedName("B04"))}));
    EXPECT_TRUE(Written().empty());
  }
  // A transposed blue band, 200 x 300.
  fs::remove(Band("B02"));
  fs::remove(Band("B03"));
  CopyBands("tile", {"B03"});
  ASSERT_TRUE(jp2encode::Write(Band("B02"), [] {
    jp2encode::TLayout layout;
    layout.Width = 200;
    layout.Height = 300;
    return layout;
  }(), [](uint32_t, uint32_t x, uint32_t y) { return static_cast<int32_t>(x + y); }));
  EXPECT_EQ(RunCompositeJob(FHost, Wide(Band("B04"))), TJobOutcome::Failed);
  EXPECT_EQ(FHost.Calls, Join({{L"busy"}, kAnnounceAll, {L"box: Size of blue differs from red"},
                               FailureEnd(DroppedName("B04"))}));
  EXPECT_TRUE(Written().empty());
}

// Bands whose header the JPEG 2000 reader cannot read (here 16-bit grey PNGs) go FreeImage's
// way, which checks the size itself: a smaller merged band is refused, not copied in part.
TEST_F(JobTest, BandsOnlyFreeImageReadsAreCheckedForSizeOnItsWay) {
  const auto grey = [&](const char* name, unsigned width, unsigned height) {
    TBitmap band(FreeImage_AllocateT(FIT_UINT16, static_cast<int>(width), static_cast<int>(height)));
    EXPECT_TRUE(band);
    for (unsigned y = 0; band && y < height; ++y) {
      auto* row = reinterpret_cast<WORD*>(FreeImage_GetScanLine(band.get(), static_cast<int>(y)));
      for (unsigned x = 0; x < width; ++x) row[x] = static_cast<WORD>(1000 + x + y);
    }
    const fs::path path = FDir / name;
    EXPECT_TRUE(FreeImage_Save(FIF_PNG, band.get(), path.string().c_str(), PNG_DEFAULT));
    TJp2Header header;
    std::string error;
    EXPECT_EQ(ReadJp2Header(path, header, error), TJp2HeaderStatus::NotOpened);
    return Wide(path);
  };
  const std::wstring red = grey("red.png", 300, 200), green = grey("green.png", 150, 100),
                     blue = grey("blue.png", 300, 200);
  TCompositeState job;
  ProcessBand(job, FHost, red, FIF_PNG, TBand::Red);
  ProcessBand(job, FHost, green, FIF_PNG, TBand::Green);
  ProcessBand(job, FHost, blue, FIF_PNG, TBand::Blue);
  EXPECT_EQ(job.BandSet, kBandSetRed | kBandSetBlue);
  EXPECT_EQ(FHost.Calls, (Calls{L"status: Processing red", L"repaint", L"status: Processing green", L"repaint",
                                L"box: Size of green differs from red", L"status: Processing blue", L"repaint"}));
}

TEST_F(JobTest, RepeatedJobsOverwriteTheOutput) {
  CopyBands("tile", {"B02", "B03", "B04", "B08"});
  for (const char* band : {"B08", "B02"}) {
    RecordingHost host;
    EXPECT_EQ(RunCompositeJob(host, Wide(Band(band))), TJobOutcome::Saved);
  }
  ExpectComposite(Output("tif"), {4, 300, 200}, {3, 300, 200}, {2, 300, 200});
  EXPECT_EQ(Written(), std::vector<std::string>{kStem + "48.tif"});
}

// Every KeepAlive call looks at the queue when the tick counter moves at each reading; the
// looks are logged among the host's calls, so their places in the job show.
RecordingHost* gKeepAliveLog = nullptr;
uint32_t gMovingTick = 0;
uint32_t MovingTick() { return ++gMovingTick; }
void LogKeepAlive() { gKeepAliveLog->Calls.push_back(L"keep-alive"); }

TEST_F(JobTest, KeepAliveFollowsEachLongCallAndEvery128Rows) {
  // Through FreeImage: red 300 x 200 is the base; green and blue copy rows 0..199.
  CopyBands("tile", {"B02", "B03", "B04"});
  compositionTesting::SetDirectDecoding(false);
  gKeepAliveLog = &FHost;
  qelUtilsTesting::SetKeepAliveHooks(MovingTick, LogKeepAlive);
  EXPECT_EQ(RunCompositeJob(FHost, Wide(Band("B04"))), TJobOutcome::Saved);
  const std::wstring keep = L"keep-alive";
  const std::wstring complete = L"Production of 48-bit TIF  complete!";
  EXPECT_EQ(FHost.Visible(),
            (Calls{L"busy",
                   L"status: Processing red", L"repaint", keep, keep,              // load, convert
                   L"status: Processing green", L"repaint", keep, keep, keep,      // load, convert, channel
                   keep, keep,                                                     // rows 0 and 128
                   L"status: Processing blue", L"repaint", keep, keep, keep,
                   keep, keep,
                   L"status: Saving...this will take some time!", L"repaint", L"status: " + complete,
                   L"repaint", L"box: " + complete, L"status: Finished", L"hint", L"repaint", L"restore"}));

  // Decoded directly: while each band decodes, and once after.
  compositionTesting::SetDirectDecoding(true);
  RecordingHost direct;
  gKeepAliveLog = &direct;
  EXPECT_EQ(RunCompositeJob(direct, Wide(Band("B04"))), TJobOutcome::Saved);
  std::vector<int> perBand;
  for (const auto& call : direct.Calls) {
    if (call.rfind(L"status: Processing", 0) == 0) perBand.push_back(0);
    else if (call == keep && !perBand.empty()) ++perBand.back();
  }
  ASSERT_EQ(perBand.size(), 3u);
  for (const int count : perBand) EXPECT_GE(count, 2);
}

// A clock whose n-th reading is n * n seconds past a fixed instant: every duration in the
// tool tip tells which two readings it was taken from.
int gClockReadings = 0;
int64_t SquareSecondsClock() {
  ++gClockReadings;
  return 133000000000000000LL + int64_t{gClockReadings} * gClockReadings * 10000000LL;
}

TEST_F(JobTest, TimingTextTakesEachDurationFromItsOwnStamps) {
  CopyBands("tile", {"B02", "B03", "B04"});
  qelUtilsTesting::SetClockHook(SquareSecondsClock);
  // Readings: bands start 1, bands end 4, PNG 9 (one reading), TIFF start 16, TIFF end 25.
  gClockReadings = 0;
  FHost.SaveFormat = 1;
  EXPECT_EQ(RunCompositeJob(FHost, Wide(Band("B03"))), TJobOutcome::Saved);
  EXPECT_EQ(gClockReadings, 5);
  EXPECT_EQ(FHost.Hint, FormatTimingText(3.0, 0.0, 9.0));
  // Readings: bands 1 and 4, PNG start 9, PNG end 16, TIFF 25 (one reading).
  gClockReadings = 0;
  RecordingHost png;
  png.SaveFormat = 0;
  EXPECT_EQ(RunCompositeJob(png, Wide(Band("B03"))), TJobOutcome::Saved);
  EXPECT_EQ(gClockReadings, 5);
  EXPECT_EQ(png.Hint, FormatTimingText(3.0, 7.0, 0.0));
}

// --- Jobs that end silently or before loading -------------------------------------------

TEST_F(JobTest, NoSuchFileOrAFolderDoesNothingVisible) {
  EXPECT_EQ(RunCompositeJob(FHost, Wide(Band("B03"))), TJobOutcome::NoSuchFile);
  fs::create_directories(FDir / (kStem + "B04.jp2"));
  EXPECT_EQ(RunCompositeJob(FHost, Wide(Band("B04"))), TJobOutcome::NoSuchFile);
  EXPECT_EQ(RunCompositeJob(FHost, L""), TJobOutcome::NoSuchFile);
  EXPECT_TRUE(FHost.Calls.empty());
}

TEST_F(JobTest, AFileThatIsNotJpeg2000OnlyTurnsTheCursorAndBack) {
  CopyBands("tile", {"B02", "B04"});
  // A PNG wearing the green band's name.
  TBitmap png(FreeImage_AllocateT(FIT_RGB16, 4, 4));
  ASSERT_TRUE(SaveComposite(png.get(), TSaveFormat::Png, Wide(Band("B03")), {}, {}));
  EXPECT_EQ(RunCompositeJob(FHost, Wide(Band("B03"))), TJobOutcome::NotJpeg2000);
  std::ofstream(FDir / "empty_B03.jp2").close();
  EXPECT_EQ(RunCompositeJob(FHost, Wide(FDir / "empty_B03.jp2")), TJobOutcome::NotJpeg2000);
  EXPECT_EQ(FHost.Calls, (Calls{L"busy", L"restore", L"busy", L"restore"}));
}

TEST_F(JobTest, NameWithoutBandSuffixReportsMissingSourcesWithOneBeep) {
  CopyBands("tile", {"B02", "B03", "B04"});
  const fs::path odd = FDir / "T33UUP_TCI.jp2";
  fs::copy_file(Band("B03"), odd);
  FHost.Hint = L"earlier";
  EXPECT_EQ(RunCompositeJob(FHost, Wide(odd)), TJobOutcome::NotStarted);
  EXPECT_EQ(FHost.Calls, (Calls{L"busy", L"status: Some source files missing", L"beep",
                                L"box: Some source files missing", L"restore"}));
  EXPECT_EQ(FHost.Hint, L"earlier");
  EXPECT_TRUE(Written().empty());
}

TEST_F(JobTest, NoFormatChosenSaysSoBeforeLoadingAnything) {
  CopyBands("tile", {"B02", "B03", "B04"});
  FHost.SaveFormat = -1;
  EXPECT_EQ(RunCompositeJob(FHost, Wide(Band("B03"))), TJobOutcome::NoSaveFormat);
  const std::wstring text = L"No output format chosen: select PNG or TIFF";
  EXPECT_EQ(FHost.Calls, (Calls{L"busy", L"status: " + text, L"repaint", L"beep", L"box: " + text, L"restore"}));
  EXPECT_TRUE(Written().empty());
}

// --- Bands that fail ---------------------------------------------------------------------

TEST_F(JobTest, MissingGreenOrBlueFailsAndWritesNothing) {
  CopyBands("tile", {"B02", "B04"});
  FHost.Hint = L"earlier";
  FHost.BeepWhenDone = true;  // the failure beeps once whatever the setting
  EXPECT_EQ(RunCompositeJob(FHost, Wide(Band("B04"))), TJobOutcome::Failed);
  EXPECT_EQ(FHost.Calls, Join({{L"busy", L"status: Processing red", L"repaint", L"status: Processing green",
                                L"repaint", L"box: Error loading green", L"status: Processing blue", L"repaint"},
                               FailureEnd(DroppedName("B04"))}));
  EXPECT_EQ(FHost.Hint, L"earlier");

  fs::remove(Band("B02"));
  CopyBands("tile", {"B03"});
  RecordingHost host;
  EXPECT_EQ(RunCompositeJob(host, Wide(Band("B03"))), TJobOutcome::Failed);
  EXPECT_EQ(host.Calls, Join({{L"busy"}, kAnnounceAll, {L"box: Error loading blue"}, FailureEnd(DroppedName("B03"))}));
  EXPECT_TRUE(Written().empty());
}

TEST_F(JobTest, MissingRedLetsGreenBecomeTheBaseAndStillFails) {
  CopyBands("tile", {"B02", "B03"});
  EXPECT_EQ(RunCompositeJob(FHost, Wide(Band("B02"))), TJobOutcome::Failed);
  EXPECT_EQ(FHost.Calls, Join({{L"busy", L"status: Processing red", L"repaint", L"box: Error loading red",
                                L"status: Processing green", L"repaint", L"status: Processing blue", L"repaint"},
                               FailureEnd(DroppedName("B02"))}));
  EXPECT_TRUE(Written().empty());
}

// Conversion and channel failures come through the seams: every real band file converts.
// Bands decoded directly are never converted, so these jobs take FreeImage's way.
int gConversions = 0;
int gFailConversion = 0;  // which conversion fails (1 red, 2 green, 3 blue), 0 none
FIBITMAP* FailingConvert(FIBITMAP* image, FREE_IMAGE_TYPE type, BOOL scale) {
  if (++gConversions == gFailConversion) return nullptr;
  return FreeImage_ConvertToType(image, type, scale);
}
FIBITMAP* NoChannel(FIBITMAP*, FREE_IMAGE_COLOR_CHANNEL) { return nullptr; }
FIBITMAP* ThrowingConvert(FIBITMAP* image, FREE_IMAGE_TYPE type, BOOL scale) {
  if (++gConversions == 3) throw std::bad_alloc();
  return FreeImage_ConvertToType(image, type, scale);
}

TEST_F(JobTest, MergedBandThatDoesNotConvertIsNotCountedAsDone) {
  CopyBands("tile", {"B02", "B03", "B04"});
  compositionTesting::SetDirectDecoding(false);  // conversions happen on FreeImage's way only
  gConversions = 0;
  gFailConversion = 2;
  compositionTesting::SetConvertHook(FailingConvert);
  EXPECT_EQ(RunCompositeJob(FHost, Wide(Band("B03"))), TJobOutcome::Failed);
  EXPECT_EQ(FHost.Calls, Join({{L"busy", L"status: Processing red", L"repaint", L"status: Processing green",
                                L"repaint", L"box: Error converting green", L"box: Error converting to grey",
                                L"status: Processing blue", L"repaint"},
                               FailureEnd(DroppedName("B03"))}));
  EXPECT_TRUE(Written().empty());
}

TEST_F(JobTest, MergedBandWhoseChannelCannotBeTakenIsNotCountedAsDone) {
  CopyBands("tile", {"B02", "B03", "B04"});
  compositionTesting::SetDirectDecoding(false);  // conversions happen on FreeImage's way only
  compositionTesting::SetChannelHook(NoChannel);
  EXPECT_EQ(RunCompositeJob(FHost, Wide(Band("B03"))), TJobOutcome::Failed);
  EXPECT_EQ(FHost.Calls, Join({{L"busy", L"status: Processing red", L"repaint", L"status: Processing green",
                                L"repaint", L"box: Error converting to grey", L"status: Processing blue", L"repaint",
                                L"box: Error converting to grey"},
                               FailureEnd(DroppedName("B03"))}));
  EXPECT_TRUE(Written().empty());
}

TEST_F(JobTest, BaseBandThatDoesNotConvertPassesTheBaseToGreen) {
  CopyBands("tile", {"B02", "B03", "B04"});
  compositionTesting::SetDirectDecoding(false);  // conversions happen on FreeImage's way only
  gConversions = 0;
  gFailConversion = 1;
  compositionTesting::SetConvertHook(FailingConvert);
  EXPECT_EQ(RunCompositeJob(FHost, Wide(Band("B04"))), TJobOutcome::Failed);
  EXPECT_EQ(FHost.Calls, Join({{L"busy", L"status: Processing red", L"repaint", L"box: Error converting red",
                                L"status: Processing green", L"repaint", L"status: Processing blue", L"repaint"},
                               FailureEnd(DroppedName("B04"))}));
  EXPECT_EQ(gConversions, 3);
  EXPECT_TRUE(Written().empty());
}

TEST_F(JobTest, LibraryThatThrowsStillGivesTheCursorBackAndSaysSo) {
  CopyBands("tile", {"B02", "B03", "B04"});
  compositionTesting::SetDirectDecoding(false);  // conversions happen on FreeImage's way only
  gConversions = 0;
  compositionTesting::SetConvertHook(ThrowingConvert);
  EXPECT_EQ(RunCompositeJob(FHost, Wide(Band("B03"))), TJobOutcome::Failed);
  const std::wstring failed = L"Failed to process file: " + DroppedName("B03");
  EXPECT_EQ(FHost.Calls, Join({{L"busy"}, kAnnounceAll,
                               {L"restore", L"status: " + failed, L"repaint", L"beep", L"box: " + failed}}));
  EXPECT_TRUE(Written().empty());
}

// --- Saving that fails ---------------------------------------------------------------------

TEST_F(JobTest, FailedSaveNamesTheOutputAndLeavesNothingBehind) {
  CopyBands("tile", {"B02", "B03", "B04"});
  // A folder where the output belongs: no library call can write over it, whoever we run as.
  fs::create_directories(Output("tif"));
  FHost.BeepWhenDone = true;
  EXPECT_EQ(RunCompositeJob(FHost, Wide(Band("B02"))), TJobOutcome::SaveFailed);
  const std::wstring error = L"Error saving file: " + Wide(Output("tif"));
  EXPECT_EQ(FHost.Visible(),
            Join({{L"busy"}, kAnnounceAll,
                  {L"status: Saving...this will take some time!", L"repaint", L"beep",
                   L"status: Production of 48-bit TIF  complete!", L"status: " + error, L"repaint", L"beep",
                   L"box: " + error, L"status: Finished", L"hint", L"repaint", L"restore"}}));
  EXPECT_EQ(Written(), std::vector<std::string>{kStem + "48.tif"});  // the folder, nothing else
  EXPECT_TRUE(fs::is_directory(Output("tif")));
}

TEST_F(JobTest, FailedPngSaveRepaintsAfterItsOwnTextAndBeepsTwice) {
  CopyBands("tile", {"B02", "B03", "B04"});
  fs::create_directories(Output("png"));
  FHost.SaveFormat = 0;
  FHost.BeepWhenDone = true;
  EXPECT_EQ(RunCompositeJob(FHost, Wide(Band("B03"))), TJobOutcome::SaveFailed);
  const std::wstring error = L"Error saving file: " + Wide(Output("png"));
  EXPECT_EQ(FHost.Visible(),
            Join({{L"busy"}, kAnnounceAll,
                  {L"status: Saving...this will take some time!", L"repaint", L"beep",
                   L"status: Production of 48-bit PNG  complete!", L"repaint", L"status: " + error, L"repaint",
                   L"beep", L"box: " + error, L"status: Finished", L"hint", L"repaint", L"restore"}}));
  EXPECT_EQ(FHost.Status, L"Finished");
  EXPECT_NE(FHost.Hint.find(L"\"TIFF:\"  0"), std::wstring::npos);
}

TEST_F(JobTest, AWriteFailingHalfWayKeepsTheEarlierOutputAndLeavesNoTemporaryFile) {
  CopyBands("tile", {"B02", "B03", "B04"});
  for (const int format : {1, 0}) {
    const fs::path output = Output(format == 0 ? "png" : "tif");
    RecordingHost good;
    good.SaveFormat = format;
    ASSERT_EQ(RunCompositeJob(good, Wide(Band("B03"))), TJobOutcome::Saved);
    const auto size = fs::file_size(output);
    // The disk fills up a few kilobytes into the save.
    tempFileTesting::SetWriteLimit(8192);
    RecordingHost host;
    host.SaveFormat = format;
    const auto outcome = RunCompositeJob(host, Wide(Band("B03")));
    tempFileTesting::SetWriteLimit(-1);
    EXPECT_EQ(outcome, TJobOutcome::SaveFailed);
    EXPECT_EQ(host.Status, L"Finished");
    EXPECT_EQ(host.Count(L"box: Error saving file: " + Wide(output)), 1);
    EXPECT_EQ(fs::file_size(output), size);
    ExpectComposite(output, {4, 300, 200}, {3, 300, 200}, {2, 300, 200});
  }
  EXPECT_EQ(Written().size(), 2u) << "a temporary file was left behind";
}

// --- Progress ---------------------------------------------------------------------------------

// From 0 upwards, never back, to 1 only when the output was written, and off (negative) once,
// as the last call.
void ExpectProgress(const std::vector<double>& seen, bool written) {
  ASSERT_GE(seen.size(), 2u);
  EXPECT_EQ(seen.front(), 0.0);
  EXPECT_LT(seen.back(), 0.0);
  for (size_t i = 1; i + 1 < seen.size(); ++i) {
    EXPECT_GE(seen[i], seen[i - 1]) << "step " << i << " goes back";
    EXPECT_LE(seen[i], 1.0) << "step " << i;
  }
  const double last = seen[seen.size() - 2];
  if (written) EXPECT_EQ(last, 1.0);
  else EXPECT_LT(last, 1.0);
}

TEST_F(JobTest, ProgressRisesFromZeroToOneAndComesOffHoweverTheJobEnds) {
  CopyBands("tile", {"B02", "B03", "B04"});
  for (int format : {0, 1}) {
    SCOPED_TRACE(format);
    RecordingHost host;
    host.SaveFormat = format;
    EXPECT_EQ(RunCompositeJob(host, Wide(Band("B03"))), TJobOutcome::Saved);
    ExpectProgress(host.Progress, true);
  }
  {
    SCOPED_TRACE("failed save");
    fs::remove(Output("png"));
    fs::create_directories(Output("png"));
    RecordingHost host;
    host.SaveFormat = 0;
    EXPECT_EQ(RunCompositeJob(host, Wide(Band("B03"))), TJobOutcome::SaveFailed);
    ExpectProgress(host.Progress, false);
  }
  {
    SCOPED_TRACE("library throws");
    gConversions = 0;
    compositionTesting::SetConvertHook(ThrowingConvert);
    compositionTesting::SetDirectDecoding(false);  // conversions happen on FreeImage's way only
    RecordingHost host;
    EXPECT_EQ(RunCompositeJob(host, Wide(Band("B03"))), TJobOutcome::Failed);
    ExpectProgress(host.Progress, false);
    compositionTesting::SetConvertHook(nullptr);
    compositionTesting::SetDirectDecoding(true);
  }
  {
    SCOPED_TRACE("missing band");
    fs::remove(Band("B02"));
    RecordingHost host;
    EXPECT_EQ(RunCompositeJob(host, Wide(Band("B03"))), TJobOutcome::Failed);
    ExpectProgress(host.Progress, false);
  }
  // A job that never began shows none.
  RecordingHost none;
  EXPECT_EQ(RunCompositeJob(none, Wide(Band("B02"))), TJobOutcome::NoSuchFile);
  EXPECT_TRUE(none.Progress.empty());
}

// --- Names the file system answers for ----------------------------------------------------

#if !defined(_WIN32)
TEST_F(JobTest, LowerCaseSiblingsAreFoundOnACaseSensitiveFileSystem) {
  // The names are derived as "B04.jp2" and "B02.jp2"; the folder spells them otherwise.
  for (const char* band : {"B02", "B03", "B04"}) {
    std::string lower = kStem + band + ".jp2";
    for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    CopyWritable(testenv::TestData() / "tile" / (kStem + band + ".jp2"), FDir / lower);
  }
  std::string dropped = kStem + "b03.jp2";
  for (char& c : dropped) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  EXPECT_EQ(RunCompositeJob(FHost, Wide(FDir / dropped)), TJobOutcome::Saved);
  std::string output = kStem + "48.tif";
  for (char& c : output) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  ExpectComposite(FDir / output, {4, 300, 200}, {3, 300, 200}, {2, 300, 200});
}

TEST_F(JobTest, AFifoNamedLikeABandIsNoFileAndNeverOpened) {
  CopyBands("tile", {"B02", "B04"});
  ASSERT_EQ(mkfifo(Band("B03").c_str(), 0600), 0);
  // Opening a FIFO for reading blocks until a writer comes. Should the job ever open it, this
  // writer releases it after a while, so that the test fails on the time taken, not hangs.
  // A writer's non-blocking open succeeds only while a reader has the FIFO open.
  std::atomic<bool> done{false}, rescued{false};
  std::thread rescuer([&] {
    for (int waited = 0; waited < 60 && !done; ++waited) std::this_thread::sleep_for(std::chrono::milliseconds(50));
    while (!done) {
      const int fd = open(Band("B03").c_str(), O_WRONLY | O_NONBLOCK);
      if (fd >= 0) {
        rescued = true;
        close(fd);
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
  });
  EXPECT_EQ(RunCompositeJob(FHost, Wide(Band("B03"))), TJobOutcome::NoSuchFile);
  EXPECT_TRUE(FHost.Calls.empty());
  // As a sibling it fails to load like a missing band.
  EXPECT_EQ(RunCompositeJob(FHost, Wide(Band("B04"))), TJobOutcome::Failed);
  EXPECT_EQ(FHost.Count(L"box: Error loading green"), 1);
  done = true;
  rescuer.join();
  EXPECT_FALSE(rescued) << "the job opened the FIFO";
  EXPECT_TRUE(Written().empty());
}
#endif

// --- Bands that stream row of tiles by row of tiles --------------------------------------

// Band files with the generated sample values in tiles of tile x tile pixels.
void WriteTiledBand(const fs::path& path, int bandCode, uint32_t width, uint32_t height, uint32_t tile) {
  jp2encode::TLayout layout;
  layout.Width = width;
  layout.Height = height;
  layout.TileWidth = layout.TileHeight = tile;
  ASSERT_TRUE(jp2encode::Write(path, layout, [bandCode](uint32_t, uint32_t x, uint32_t y) {
    return static_cast<int32_t>(sample::Value(bandCode, x, y));
  }));
}

// Remembers which way each job took.
class NotingHost : public RecordingHost {
 public:
  std::vector<std::wstring> Ways;
  void NoteWay(const std::wstring& text) override { Ways.push_back(text); }
};

TEST_F(JobTest, TiledBandsStreamWithTheSameStatusesAndSamples) {
  // 300 x 200 in tiles of 64: the last row and column of tiles are short.
  for (const int code : {2, 3, 4}) WriteTiledBand(Band(("B0" + std::to_string(code)).c_str()), code, 300, 200, 64);
  for (const int format : {1, 0}) {
    SCOPED_TRACE(format);
    NotingHost host;
    host.SaveFormat = format;
    host.BeepWhenDone = true;
    EXPECT_EQ(RunCompositeJob(host, Wide(Band("B03"))), TJobOutcome::Saved);
    ASSERT_EQ(host.Ways.size(), 1u);
    EXPECT_EQ(host.Ways[0], L"streaming: 4 rows of 5 tiles of 64 x 64");
    const std::wstring complete = format ? L"Production of 48-bit TIF  complete!" : L"Production of 48-bit PNG  complete!";
    Calls end = {L"status: Saving...this will take some time!", L"repaint", L"beep", L"status: " + complete};
    if (format == 0) end.push_back(L"repaint");
    end.insert(end.end(), {L"repaint", L"beep", L"box: " + complete, L"status: Finished", L"hint", L"repaint", L"restore"});
    EXPECT_EQ(host.Visible(), Join({{L"busy"}, kAnnounceAll, end}));
    ExpectProgress(host.Progress, true);
    ExpectComposite(Output(format ? "tif" : "png"), {4, 300, 200}, {3, 300, 200}, {2, 300, 200});
  }
}

TEST_F(JobTest, BandsWhoseTilesDoNotLineUpTakeTheWholeBandWay) {
  WriteTiledBand(Band("B04"), 4, 300, 200, 64);
  WriteTiledBand(Band("B03"), 3, 300, 200, 128);
  WriteTiledBand(Band("B02"), 2, 300, 200, 64);
  NotingHost host;
  EXPECT_EQ(RunCompositeJob(host, Wide(Band("B03"))), TJobOutcome::Saved);
  EXPECT_EQ(host.Ways, std::vector<std::wstring>{L"whole bands: the bands' tiles do not line up"});
  ExpectComposite(Output("tif"), {4, 300, 200}, {3, 300, 200}, {2, 300, 200});
  // One tile each: the whole-band way too.
  CopyBands("tile", {"B02", "B03", "B04"});
  NotingHost single;
  EXPECT_EQ(RunCompositeJob(single, Wide(Band("B03"))), TJobOutcome::Saved);
  EXPECT_EQ(single.Ways, std::vector<std::wstring>{L"whole bands: the code streams have one tile"});
}

TEST_F(JobTest, AStreamedBandCutShortFailsWithItsLoadingErrorAndWritesNothing) {
  for (const int code : {2, 3, 4}) WriteTiledBand(Band(("B0" + std::to_string(code)).c_str()), code, 300, 260, 64);
  // Green keeps its first row of tiles and loses the rest.
  const auto size = fs::file_size(Band("B03"));
  fs::resize_file(Band("B03"), size * 6 / 10);
  for (const int format : {1, 0}) {
    RecordingHost host;
    host.SaveFormat = format;
    host.BeepWhenDone = true;
    EXPECT_EQ(RunCompositeJob(host, Wide(Band("B04"))), TJobOutcome::Failed);
    // The band's box comes once the stream reaches the damage, after "Saving...".
    EXPECT_EQ(host.Calls, Join({{L"busy"}, kAnnounceAll,
                                {L"status: Saving...this will take some time!", L"repaint", L"box: Error loading green",
                                 L"status: Failed to process file: " + DroppedName("B04"), L"beep",
                                 L"box: Failed to process file: " + DroppedName("B04"), L"restore"}}));
    ExpectProgress(host.Progress, false);
    EXPECT_TRUE(Written().empty());
  }
  // Cut within the first row of tiles: the band fails while it is announced, as ever.
  fs::resize_file(Band("B03"), 400);
  RecordingHost early;
  EXPECT_EQ(RunCompositeJob(early, Wide(Band("B04"))), TJobOutcome::Failed);
  EXPECT_EQ(early.Calls, Join({{L"busy", L"status: Processing red", L"repaint", L"status: Processing green", L"repaint",
                                L"box: Error loading green", L"status: Processing blue", L"repaint"},
                               FailureEnd(DroppedName("B04"))}));
  EXPECT_TRUE(Written().empty());
}

TEST_F(JobTest, AReducedCompositeStreamsTheSamplesOfTheWholeBandWay) {
  // The same tiled bands, streamed and decoded whole, at half and quarter size.
  const fs::path whole = FDir / "whole";
  fs::create_directories(whole);
  for (const int code : {2, 3, 4}) {
    const std::string name = kStem + "B0" + std::to_string(code) + ".jp2";
    WriteTiledBand(FDir / name, code, 301, 203, 64);
    fs::copy_file(FDir / name, whole / name);
  }
  for (const unsigned reduce : {1u, 2u}) {
    SCOPED_TRACE(reduce);
    NotingHost streamed, reference;
    TJobOptions options;
    options.Reduce = reduce;
    ASSERT_EQ(RunCompositeJob(streamed, Wide(Band("B03")), {}, options), TJobOutcome::Saved);
    // The reference taken once by the test's switch, once as the benchmark asks for it.
    if (reduce == 1) compositionTesting::SetStreaming(false);
    else compositionPlatform::SetEnvironment("BANDWEAVE_WHOLE_BANDS", "1");
    ASSERT_EQ(RunCompositeJob(reference, Wide(whole / (kStem + "B03.jp2")), {}, options), TJobOutcome::Saved);
    compositionTesting::SetStreaming(true);
    compositionPlatform::SetEnvironment("BANDWEAVE_WHOLE_BANDS", "");
    ASSERT_EQ(streamed.Ways.size(), 1u);
    EXPECT_EQ(streamed.Ways[0].rfind(L"streaming:", 0), 0u);
    EXPECT_EQ(reference.Ways, std::vector<std::wstring>{L"whole bands: streaming is off"});
    EXPECT_EQ(streamed.Visible(), reference.Visible());
    // Named for its reduction, never as the full composite.
    const std::string reduced = kStem + "48_r" + std::to_string(reduce) + ".tif";
    EXPECT_FALSE(fs::exists(Output("tif")));
    TBitmap a = Load(FDir / reduced), b = Load(whole / reduced);
    ASSERT_TRUE(a && b);
    const unsigned width = (301 + (1u << reduce) - 1) >> reduce, height = (203 + (1u << reduce) - 1) >> reduce;
    ASSERT_EQ(FreeImage_GetWidth(a.get()), width);
    ASSERT_EQ(FreeImage_GetHeight(a.get()), height);
    ASSERT_EQ(FreeImage_GetWidth(b.get()), width);
    ASSERT_EQ(FreeImage_GetHeight(b.get()), height);
    size_t wrong = 0;
    for (unsigned y = 0; y < height; ++y) {
      const auto* p = reinterpret_cast<const FIRGB16*>(FreeImage_GetScanLine(a.get(), static_cast<int>(y)));
      const auto* q = reinterpret_cast<const FIRGB16*>(FreeImage_GetScanLine(b.get(), static_cast<int>(y)));
      for (unsigned x = 0; x < width; ++x) wrong += p[x].red != q[x].red || p[x].green != q[x].green || p[x].blue != q[x].blue;
    }
    EXPECT_EQ(wrong, 0u);
  }
}

TEST_F(JobTest, ACloudOptimisedTiffHoldsThePlainTiffsSamplesStreamedOrWhole) {
  // Large enough for one overview; streamed from tiled bands, and the same bands decoded whole.
  const fs::path whole = FDir / "whole";
  fs::create_directories(whole);
  for (const int code : {2, 3, 4}) {
    const std::string name = kStem + "B0" + std::to_string(code) + ".jp2";
    WriteTiledBand(FDir / name, code, 600, 530, 256);
    fs::copy_file(FDir / name, whole / name);
  }
  NotingHost plain, streamed, reference;
  ASSERT_EQ(RunCompositeJob(plain, Wide(Band("B03"))), TJobOutcome::Saved);
  fs::rename(Output("tif"), FDir / "plain.tif");
  TJobOptions options;
  options.CloudOptimised = true;
  ASSERT_EQ(RunCompositeJob(streamed, Wide(Band("B03")), {}, options), TJobOutcome::Saved);
  compositionTesting::SetStreaming(false);
  ASSERT_EQ(RunCompositeJob(reference, Wide(whole / (kStem + "B03.jp2")), {}, options), TJobOutcome::Saved);
  compositionTesting::SetStreaming(true);
  // The job says what it says for a TIFF, and the COG takes the TIFF's name.
  EXPECT_EQ(streamed.Visible(), plain.Visible());
  EXPECT_EQ(reference.Visible(), plain.Visible());
  TBitmap expected = Load(FDir / "plain.tif");
  ASSERT_TRUE(expected);
  for (const fs::path& cog : {Output("tif"), whole / (kStem + "48.tif")}) {
    SCOPED_TRACE(cog.string());
    std::ifstream in(cog, std::ios::binary);
    std::string front(64, '\0');
    in.read(&front[0], 64);
    EXPECT_EQ(front.find("GDAL_STRUCTURAL_METADATA_SIZE"), 8u) << "not laid out as a COG";
    TBitmap got = Load(cog);
    ASSERT_TRUE(got);
    ASSERT_EQ(FreeImage_GetWidth(got.get()), 600u);
    ASSERT_EQ(FreeImage_GetHeight(got.get()), 530u);
    size_t wrong = 0;
    for (unsigned y = 0; y < 530; ++y)
      wrong += std::memcmp(FreeImage_GetScanLine(got.get(), int(y)), FreeImage_GetScanLine(expected.get(), int(y)),
                           600 * sizeof(FIRGB16)) != 0;
    EXPECT_EQ(wrong, 0u) << "rows differ from the plain TIFF's";
  }
  EXPECT_TRUE(std::none_of(fs::directory_iterator(FDir), fs::directory_iterator(),
                           [](const fs::directory_entry& e) { return e.path().extension() == ".tmp"; }))
      << "a spill file was left";
}

// --- Real ESA band files ---------------------------------------------------------------------

fs::path RealSet(const char* folder) {
  return testenv::RealData().empty() ? fs::path() : testenv::RealData() / folder;
}

// Runs a job on copies of real red, green and blue files (copied under the names given) and
// compares every sample of the composite with the bands as FreeImage loads them.
void ExpectRealComposite(const fs::path& dir, const std::wstring& dropped, const fs::path& output,
                         const fs::path& redFile, const fs::path& greenFile, const fs::path& blueFile) {
  RecordingHost host;
  ASSERT_EQ(RunCompositeJob(host, dropped), TJobOutcome::Saved);
  TBitmap composite = Load(output);
  ASSERT_TRUE(composite);
  TBitmap red = Load(dir / redFile), green = Load(dir / greenFile), blue = Load(dir / blueFile);
  ASSERT_TRUE(red && green && blue);
  ASSERT_EQ(FreeImage_GetImageType(red.get()), FIT_UINT16);
  const unsigned width = FreeImage_GetWidth(red.get()), height = FreeImage_GetHeight(red.get());
  ASSERT_EQ(FreeImage_GetWidth(composite.get()), width);
  ASSERT_EQ(FreeImage_GetHeight(composite.get()), height);
  long mismatches = 0, nonZero = 0;
  for (unsigned y = 0; y < height; ++y) {
    const auto* out = reinterpret_cast<const FIRGB16*>(FreeImage_GetScanLine(composite.get(), static_cast<int>(y)));
    const auto* r = reinterpret_cast<const WORD*>(FreeImage_GetScanLine(red.get(), static_cast<int>(y)));
    const auto* g = reinterpret_cast<const WORD*>(FreeImage_GetScanLine(green.get(), static_cast<int>(y)));
    const auto* b = reinterpret_cast<const WORD*>(FreeImage_GetScanLine(blue.get(), static_cast<int>(y)));
    for (unsigned x = 0; x < width; ++x) {
      mismatches += out[x].red != r[x] || out[x].green != g[x] || out[x].blue != b[x];
      nonZero += r[x] != 0 && g[x] != 0 && b[x] != 0 && (r[x] != g[x] || g[x] != b[x]);
    }
  }
  EXPECT_EQ(mismatches, 0);
  EXPECT_GT(nonZero, static_cast<long>(width) * height / 4);  // real, distinct bands, not blanks
}

TEST_F(JobTest, RealL1cBandsMergeEverySampleUnchanged) {
  const fs::path real = RealSet("l1c_T19UDP_20170729_aws_layout");
  BANDWEAVE_NEED_REAL_DATA(real);
  // The lossless 15-bit JPEG 2000 bands under their plain names B02.jp2 ... B04.jp2.
  for (const char* band : {"B02.jp2", "B03.jp2", "B04.jp2"}) CopyWritable(real / "preview" / band, FDir / band);
  ExpectRealComposite(FDir, Wide(FDir / "B02.jp2"), FDir / "48.tif", "B04.jp2", "B03.jp2", "B02.jp2");
}

TEST_F(JobTest, RealEsaEncodedBandsMergeEverySampleUnchanged) {
  const fs::path real = RealSet("l2a_T29UNU_20221005_unmodified");
  BANDWEAVE_NEED_REAL_DATA(real);
  // The Kakadu-encoded 60 m bands as ESA ships them, under their own L2A names.
  const std::string stem = "T29UNU_20221005T115411_";
  for (const char* band : {"B02", "B03", "B04"})
    CopyWritable(real / (stem + band + "_60m.jp2"), FDir / (stem + band + "_60m.jp2"));
  ExpectRealComposite(FDir, Wide(FDir / (stem + "B03_60m.jp2")), FDir / (stem + "48_60m.tif"), stem + "B04_60m.jp2",
                      stem + "B03_60m.jp2", stem + "B02_60m.jp2");
}

TEST_F(JobTest, RealTiffNamedJp2IsRefusedSilently) {
  const fs::path real = RealSet("l1c_T19UDP_20170729_aws_layout");
  BANDWEAVE_NEED_REAL_DATA(real);
  // The top-level B0x.jp2 of this set are GeoTIFFs that only carry the JPEG 2000 name.
  for (const char* band : {"B02.jp2", "B03.jp2", "B04.jp2"}) CopyWritable(real / band, FDir / band);
  EXPECT_EQ(RunCompositeJob(FHost, Wide(FDir / "B03.jp2")), TJobOutcome::NotJpeg2000);
  EXPECT_EQ(FHost.Calls, (Calls{L"busy", L"restore"}));
}
}  // namespace
