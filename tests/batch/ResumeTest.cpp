// Resume: a job is skipped only when its outputs are complete, newer than its sources and made
// with the options of this run, which the writers record and the batch reads back.
#include <gtest/gtest.h>

#include <vector>

#include "BatchTestKit.h"
#include "PngWriter.h"
#include "ProductTrees.h"
#include "Resume.h"
#include "SoftwareTag.h"
#include "TempFile.h"
#include "TiffWriter.h"

using namespace batchtest;
using namespace producttrees;

namespace {
class ResumeTest : public TScratch {
 protected:
  // A 2 x 2 picture written by the program's own writer, recording software.
  void WritePicture(const fs::path& path, const std::string& software) {
    const std::vector<uint16_t> samples(2 * 2 * 3, 1234);
    TRowView rows;
    rows.Top = reinterpret_cast<const uint8_t*>(samples.data());
    rows.Stride = 2 * 6;
    rows.Width = rows.Height = 2;
    TImageMetadata metadata;
    metadata.Description = "Contains modified Copernicus Sentinel data";
    metadata.Software = software;
    std::unique_ptr<TTempFile> file = TTempFile::CreateBeside(path);
    ASSERT_TRUE(file);
    const bool png = path.extension() == ".png";
    ASSERT_TRUE(png ? WritePng48(*file, rows, metadata, {}, 1) : WriteTiff48(*file, rows, metadata, {}, 1));
    ASSERT_TRUE(file->CommitTo(path));
  }

  // Three sources an hour old, and a composite of now.
  TJobFiles Job(const char* extension, const std::string& software) {
    TJobFiles files;
    for (const char* band : {"B04", "B03", "B02"}) {
      const fs::path source = FDir / (std::string("x_") + band + ".jp2");
      WriteBytes(source, "band");
      fs::last_write_time(source, fs::file_time_type::clock::now() - std::chrono::hours(1));
      files.Sources.push_back(W(source));
    }
    const fs::path composite = FDir / (std::string("x_48") + extension);
    WritePicture(composite, software);
    files.Composite = W(composite);
    return files;
  }
};

TEST_F(ResumeTest, TheWritersRecordWhatMadeThePictureAndItReadsBack) {
  for (const char* name : {"a.tif", "a.png"}) {
    WritePicture(FDir / name, "Bandweave --png --quicklook --reduce 2");
    EXPECT_EQ(ReadSoftwareTag(FDir / name), "Bandweave --png --quicklook --reduce 2") << name;
    WritePicture(FDir / name, "");
    EXPECT_EQ(ReadSoftwareTag(FDir / name), "") << name;
  }
  // Neither TIFF nor PNG, empty, missing: nothing recorded.
  WriteBytes(FDir / "x.txt", "II*\0garbage");
  WriteBytes(FDir / "empty.tif", "");
  EXPECT_EQ(ReadSoftwareTag(FDir / "x.txt"), "");
  EXPECT_EQ(ReadSoftwareTag(FDir / "empty.tif"), "");
  EXPECT_EQ(ReadSoftwareTag(FDir / "missing.png"), "");
}

TEST_F(ResumeTest, UpToDateOnlyWhenCompleteNewerAndMadeAlike) {
  for (const char* extension : {".tif", ".png"}) {
    TJobFiles files = Job(extension, "Bandweave --tiff");
    EXPECT_TRUE(IsUpToDate(files, "Bandweave --tiff")) << extension;
    // Other options made it (a COG, another reduction): redone.
    EXPECT_FALSE(IsUpToDate(files, "Bandweave --tiff --quicklook")) << extension;
    // A source changed after the output was written.
    fs::last_write_time(fs::path(files.Sources[1]), fs::file_time_type::clock::now() + std::chrono::seconds(5));
    EXPECT_FALSE(IsUpToDate(files, "Bandweave --tiff")) << extension;
  }
}

TEST_F(ResumeTest, EverySideFileAskedForMustBeThereAndEverySourceToo) {
  TJobFiles files = Job(".png", "Bandweave --png --world-file");
  files.SideFiles = {W(FDir / "x_48.pgw"), W(FDir / "x_48.png.aux.xml")};
  WriteBytes(FDir / "x_48.pgw", "10\n0\n0\n-10\n0\n0\n");
  EXPECT_FALSE(IsUpToDate(files, "Bandweave --png --world-file"));
  WriteBytes(FDir / "x_48.png.aux.xml", "<PAMDataset/>");
  EXPECT_TRUE(IsUpToDate(files, "Bandweave --png --world-file"));
  fs::remove(fs::path(files.Sources[2]));
  EXPECT_FALSE(IsUpToDate(files, "Bandweave --png --world-file"));
  // A job whose composite cannot be named is never up to date.
  EXPECT_FALSE(IsUpToDate(TJobFiles{}, "Bandweave --png --world-file"));
}
}  // namespace
