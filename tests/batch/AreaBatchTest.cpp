// A batch with an area of interest: the window goes into the names known before a job runs, a
// tile the area misses is known to be passed over, the outputs record the area as what it is
// (not as the file that held it), and a job that found itself outside is skipped, not failed.
#include <gtest/gtest.h>

#include "AreaOfInterest.h"
#include "BatchRunner.h"
#include "BatchTestKit.h"
#include "JobOutputs.h"
#include "TestEnv.h"

using namespace batchtest;

namespace {
std::shared_ptr<const TAreaOfInterest> Area(const std::string& geojson) {
  std::string error;
  std::optional<TAreaOfInterest> area = ParseGeoJson(geojson, error);
  EXPECT_TRUE(area) << error;
  return area ? std::make_shared<const TAreaOfInterest>(*area) : nullptr;
}

TJobSettings WithArea(const std::string& option, const std::string& value) {
  TJobSettings settings;
  settings.OutputArguments = {"--tiff"};
  std::string error;
  if (option == "--projwin") settings.Area = std::make_shared<const TAreaOfInterest>(*ParseProjwin(value, error));
  else settings.Area = Area(value);
  settings.AreaArguments = {option, option == "--projwin" ? value : "field.geojson"};
  return settings;
}

const char* const kTriangle =
    R"({"type":"Polygon","coordinates":[[[-8.5,53.0],[-8.3,53.0],[-8.4,53.12],[-8.5,53.0]]]})";
}  // namespace

TEST(AreaBatch, NamesCarryTheWindowAndATileTheAreaMissesIsKnownBeforehand) {
  const fs::path scene = testenv::RealData() / "l2a_T29UNU_20221005_unmodified";
  if (testenv::RealData().empty() || !fs::exists(scene)) GTEST_SKIP() << "no real Sentinel-2 data";
  const TBatchJob job{W(scene / "T29UNU_20221005T115411_B02_60m.jp2"), TJobKind::BandFile};

  TJobSettings settings = WithArea("--projwin", "530000,5880000,545000,5870000");
  settings.Quicklook = true;
  TJobFiles files = JobFiles(job, settings);
  EXPECT_EQ(fs::path(files.Composite).filename(), "T29UNU_20221005T115411_48_60m_x500y334w251h167.tif");
  ASSERT_EQ(files.SideFiles.size(), 1u);
  EXPECT_EQ(fs::path(files.SideFiles[0]).filename(), "T29UNU_20221005T115411_48_60m_x500y334w251h167_ql.png");
  EXPECT_TRUE(files.Outside.empty());

  // A composite at a reduced level and masked: the window on the reduced grid, named last.
  settings.Quicklook = false;
  settings.Reduce = 1;
  settings.Mask = TMaskClasses::Default();
  files = JobFiles(job, settings);
  EXPECT_EQ(fs::path(files.Composite).filename(), "T29UNU_20221005T115411_48_60m_masked_r1_x250y167w126h84.tif");

  settings = WithArea("--projwin", "330000,5900000,345000,5890000");
  files = JobFiles(job, settings);
  EXPECT_EQ(files.Outside, L"The area of interest does not overlap tile T29UNU");
  EXPECT_TRUE(files.Composite.empty());
}

TEST(AreaBatch, OutputsRecordThePolygonsNotTheFile) {
  TJobSettings a = WithArea("--aoi", kTriangle);
  // The same polygon spelled otherwise, in another file.
  TJobSettings b = WithArea("--aoi", std::string(R"({"type":"Feature","properties":{"name":"x"},"geometry":)") +
                                         R"({"type":"MultiPolygon","coordinates":[[[[-8.5,53],[-8.3,53.0],)" +
                                         R"([-8.40,53.12],[-8.5,53.0]]]]}})");
  b.AreaArguments = {"--aoi", "elsewhere/other.json"};
  EXPECT_EQ(JobSoftware(TJobKind::BandFile, a), JobSoftware(TJobKind::BandFile, b));
  EXPECT_EQ(JobSoftware(TJobKind::BandFile, a).rfind("Bandweave --tiff --aoi polygons:", 0), 0u);
  // Another shape with the same bounding box is another area.
  TJobSettings c =
      WithArea("--aoi", R"({"type":"Polygon","coordinates":[[[-8.5,53.0],[-8.3,53.0],[-8.3,53.12],[-8.4,53.12],[-8.5,53.0]]]})");
  EXPECT_NE(JobSoftware(TJobKind::BandFile, a), JobSoftware(TJobKind::BandFile, c));
  // The file the batch hands its jobs reads back as the same polygons.
  std::string error;
  const std::optional<TAreaOfInterest> copy = ParseGeoJson(AreaGeoJson(*a.Area), error);
  ASSERT_TRUE(copy) << error;
  EXPECT_EQ(AreaFingerprint(*copy), AreaFingerprint(*a.Area));
  // Boxes are recorded as given, and handed to the jobs so.
  const TJobSettings box = WithArea("--projwin", "530000,5880000,545000,5870000");
  EXPECT_EQ(JobSoftware(TJobKind::BandFile, box), "Bandweave --tiff --projwin 530000,5880000,545000,5870000");
  const std::vector<std::wstring> arguments = JobArguments({L"in.jp2", TJobKind::BandFile}, box);
  EXPECT_EQ(arguments, (std::vector<std::wstring>{L"--tiff", L"--projwin", L"530000,5880000,545000,5870000", L"--", L"in.jp2"}));
}

TEST(AreaBatch, AJobOutsideItsAreaIsSkippedWithItsMessageAndOtherFailuresStayFailures) {
  TPlannedJob job;
  job.Job = {L"T19UDP.zip", TJobKind::Zip};
  const std::string outside = "The area of interest does not overlap tile T19UDP\n";
  TJobRecord record = RecordOfProcess(job, 1, L"", outside, "");
  EXPECT_EQ(record.Status, TJobStatus::Skipped);
  EXPECT_EQ(record.Message, L"The area of interest does not overlap tile T19UDP");
  EXPECT_EQ(record.Output, L"T19UDP.zip");
  // The same words from a job that was interrupted, or among a crash's: a failure.
  EXPECT_EQ(RecordOfProcess(job, 1, L"interrupted", outside, "").Status, TJobStatus::Failed);
  EXPECT_EQ(RecordOfProcess(job, 3, L"", outside, "").Status, TJobStatus::Failed);
  EXPECT_EQ(RecordOfProcess(job, 1, L"", "Failed to process file: x\n", "").Status, TJobStatus::Failed);
}
