// From inputs to jobs: what a search finds in a mixed archive and what it passes over, each job
// once, in the order of the paths, and the usage errors found before anything runs.
#include <gtest/gtest.h>

#include <algorithm>

#include "BatchTestKit.h"
#include "JobPlan.h"
#include "ProductTrees.h"
#include "TestEnv.h"

using namespace batchtest;
using namespace producttrees;

namespace {
bool ByName(const std::wstring& path) {
  return path.size() > 4 && path.compare(path.size() - 4, 4, L".jp2") == 0;
}

class JobPlanTest : public TScratch {
 protected:
  void SetUp() override {
    TScratch::SetUp();
    const fs::path tiny = testenv::TestData() / "tile";
    FArchive = FDir / "archive";
    FL1c = MakeL1c(FArchive / "a", tiny);
    WriteBytes(FL1c.Granule / "QI_DATA" / "MSK_DETFOO_B04.jp2", ReadBytes(tiny / (std::string(kStem) + "B04.jp2")));
    FL2a = MakeL2a(FArchive / "b", {{10, tiny}, {20, tiny}});
    for (const char* band : {"B02", "B03", "B04"})
      CopyWritable(tiny / (std::string(kStem) + band + ".jp2"), FArchive / "loose" / (std::string(kStem) + band + ".jp2"));
    WriteBytes(FArchive / "loose" / "notes.pdf", "%PDF-1.4\n");
    WriteBytes(FArchive / "loose" / ".bw-abcdef.tmp", "half a save");
    WriteBytes(FArchive / "loose" / "QI_DATA" / (std::string("MSK_CLOUDS_B00.jp2")), "mask");
    WriteBytes(FArchive / "zips" / "product.zip", ZipBytes(EntriesOf(FL1c.Safe)));
    WriteBytes(FArchive / "zips" / "photos.zip", ZipBytes({{"holiday.txt", "sun"}}));
    WriteBytes(FArchive / "zips" / "broken.zip", "PK\x03\x04 not a zip at all");
  }

  std::vector<std::wstring> Inputs(const TJobPlan& plan) {
    std::vector<std::wstring> inputs;
    for (const TPlannedJob& job : plan.Jobs) inputs.push_back(job.Job.Input);
    return inputs;
  }

  fs::path FArchive;
  TProduct FL1c, FL2a;
  TJobSettings FSettings;
};

TEST_F(JobPlanTest, ASearchFindsProductsZipsAndLooseSetsOnceEachInPathOrder) {
  const TJobPlan plan = PlanJobs({W(FArchive)}, FSettings, false, ByName);
  ASSERT_EQ(plan.UsageError, L"");
  const std::vector<std::wstring> expected = {
      W(FL1c.Safe), W(FL2a.Safe), W(FArchive / "loose" / (std::string(kStem) + "B02.jp2")),
      W(FArchive / "zips" / "broken.zip"), W(FArchive / "zips" / "product.zip")};
  EXPECT_EQ(Inputs(plan), expected);
  EXPECT_EQ(plan.Jobs[0].Job.Kind, TJobKind::Product);
  EXPECT_EQ(plan.Jobs[2].Job.Kind, TJobKind::BandFile);
  EXPECT_EQ(plan.Jobs[4].Job.Kind, TJobKind::Zip);
  // The L2A product is one job at its finest resolution; the zip's composite goes beside it.
  EXPECT_EQ(plan.Jobs[1].Files.Composite, W(FL2a.ImgData / "R10m" / (std::string(kStem) + "48_10m.tif")));
  EXPECT_EQ(plan.Jobs[4].Files.Composite, W(FArchive / "zips" / (std::string(kStem) + "48.tif")));
  EXPECT_EQ(plan.Jobs[4].Files.Sources, std::vector<std::wstring>{W(FArchive / "zips" / "product.zip")});
  EXPECT_EQ(plan.Jobs[2].Files.Sources.size(), 3u);
}

TEST_F(JobPlanTest, TheSameJobReachedTwiceRunsOnceWhateverTheNamingOrder) {
  const std::wstring b03 = W(FArchive / "loose" / (std::string(kStem) + "B03.jp2"));
  const std::wstring b04 = W(FArchive / "loose" / (std::string(kStem) + "B04.jp2"));
  const TJobPlan searched = PlanJobs({W(FArchive)}, FSettings, false, ByName);
  // A band set named twice, a product named by its metadata file and found again by the search.
  const TJobPlan named = PlanJobs({b04, W(FL1c.Safe / "MTD_MSIL1C.xml"), W(FArchive / "zips"), b03, W(FArchive)},
                                  FSettings, false, ByName);
  ASSERT_EQ(named.UsageError, L"");
  ASSERT_EQ(named.Jobs.size(), searched.Jobs.size());
  for (size_t k = 0; k < named.Jobs.size(); ++k)
    EXPECT_EQ(named.Jobs[k].Files.Composite, searched.Jobs[k].Files.Composite);
  const auto loose = std::find_if(named.Jobs.begin(), named.Jobs.end(),
                                  [](const TPlannedJob& job) { return job.Job.Kind == TJobKind::BandFile; });
  ASSERT_NE(loose, named.Jobs.end());
  EXPECT_EQ(loose->Job.Input, W(FArchive / "loose" / (std::string(kStem) + "B02.jp2")));
}

TEST_F(JobPlanTest, ProductOptionsChooseTheLooseSetsASearchTakes) {
  const fs::path tile = testenv::TestData() / "tile";
  CopyWritable(tile / (std::string(kStem) + "B08.jp2"), FArchive / "loose" / (std::string(kStem) + "B08.jp2"));
  TJobSettings falseColour = FSettings;
  falseColour.Product.FalseColour = true;
  const TJobPlan plan = PlanJobs({W(FArchive / "loose")}, falseColour, true, ByName);
  ASSERT_EQ(plan.UsageError, L"");
  EXPECT_EQ(Inputs(plan), std::vector<std::wstring>{W(FArchive / "loose" / (std::string(kStem) + "B08.jp2"))});
  // Named directly, a band file chooses by its own name; product options there are refused.
  const TJobPlan named = PlanJobs({W(FArchive / "loose" / (std::string(kStem) + "B08.jp2"))}, falseColour, true, ByName);
  EXPECT_NE(named.UsageError.find(L"--false-colour and --resolution apply to products"), std::wstring::npos);
}

TEST_F(JobPlanTest, TwoJobsThatWouldWriteOneFileAreRefusedNamingBothAndTheFile) {
  TJobSettings out = FSettings;
  out.OutFolder = W(FDir / "out") + L"/";
  // Beside their sources a product and its own zip write different files ...
  EXPECT_EQ(PlanJobs({W(FL1c.Safe), W(FArchive / "zips" / "product.zip")}, FSettings, false, ByName).UsageError, L"");
  // ... into one output folder, the same one.
  const TJobPlan plan = PlanJobs({W(FArchive / "zips" / "product.zip"), W(FL1c.Safe)}, out, false, ByName);
  EXPECT_EQ(plan.UsageError, W(FL1c.Safe) + L" and " + W(FArchive / "zips" / "product.zip") + L" would both write " +
                                 out.OutFolder + std::wstring(kStem, kStem + 23) + L"48.tif");
  // Side files count too: the quicklooks of a 10 m and 20 m composite never meet, but a B08
  // set named beside its true-colour set writes the very same composite.
  CopyWritable(testenv::TestData() / "tile" / (std::string(kStem) + "B08.jp2"),
               FArchive / "loose" / (std::string(kStem) + "B08.jp2"));
  const TJobPlan sets = PlanJobs({W(FArchive / "loose" / (std::string(kStem) + "B08.jp2")),
                                  W(FArchive / "loose" / (std::string(kStem) + "B02.jp2"))},
                                 FSettings, false, ByName);
  EXPECT_NE(sets.UsageError.find(L"would both write"), std::wstring::npos);
}

TEST_F(JobPlanTest, NamedInputsThatAreNoJobAreUsageErrors) {
  EXPECT_EQ(PlanJobs({W(FL1c.Safe), W(FDir / "missing")}, FSettings, false, ByName).UsageError,
            L"no such file: " + W(FDir / "missing"));
  EXPECT_EQ(PlanJobs({W(FArchive / "loose" / "notes.pdf")}, FSettings, false, ByName).UsageError,
            L"not a JPEG 2000 file: " + W(FArchive / "loose" / "notes.pdf"));
  fs::create_directories(FDir / "empty");
  EXPECT_EQ(PlanJobs({W(FDir / "empty")}, FSettings, false, ByName).UsageError,
            L"no band files, products or product zips found");
}
}  // namespace
