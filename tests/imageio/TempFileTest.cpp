// The temporary file a save writes: what it never touches, and what it leaves when a write,
// the close or the move into place fails.
#include <gtest/gtest.h>

#if !defined(_WIN32)
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include "TempFilePlatform.h"
#include "WriterTestKit.h"

using namespace writertest;

namespace {
bool MakeLink(const fs::path& target, const fs::path& link) {
  std::error_code error;
  fs::create_symlink(target, link, error);
  return !error;
}
}  // namespace

TEST(TempFile, NeverOpensANameThatExistsNorFollowsALink) {
  const fs::path folder = FreshFolder("exclusive");
  std::ofstream(folder / "mine") << "the user's";
  bool exists = false;
  EXPECT_EQ(tempFileDetail::CreateExclusive(folder / "mine", exists), -1);
  EXPECT_TRUE(exists);
  if (MakeLink(folder / "mine", folder / "link") && MakeLink(folder / "nowhere", folder / "dangling")) {
    exists = false;
    EXPECT_EQ(tempFileDetail::CreateExclusive(folder / "link", exists), -1);
    EXPECT_TRUE(exists);
    exists = false;
    EXPECT_EQ(tempFileDetail::CreateExclusive(folder / "dangling", exists), -1);
    EXPECT_TRUE(exists);
    EXPECT_FALSE(fs::exists(folder / "nowhere")) << "a link was followed";
  }
  EXPECT_EQ(ReadAll(folder / "mine"), "the user's");

  // A fresh name each time, short, in the target's folder; gone when not committed.
  std::vector<fs::path> seen;
  for (int i = 0; i < 3; ++i) {
    auto file = TTempFile::CreateBeside(folder / "out.tif");
    ASSERT_TRUE(file);
    const std::string name = file->Path().filename().string();
    EXPECT_EQ(file->Path().parent_path(), folder);
    EXPECT_EQ(name.size(), 14u) << name;
    EXPECT_EQ(name.rfind(".bw-", 0), 0u) << name;
    EXPECT_TRUE(std::find(seen.begin(), seen.end(), file->Path()) == seen.end());
    seen.push_back(file->Path());
    EXPECT_TRUE(file->Write("abc", 3));
  }
  for (const fs::path& path : seen) EXPECT_FALSE(fs::exists(path));
  fs::remove_all(folder);
}

TEST(TempFile, CommitReplacesOnlyTheTargetAndFailsCleanlyOnAFolder) {
  const fs::path folder = FreshFolder("commit");
  std::ofstream(folder / "out.tif") << "earlier";
  std::ofstream(folder / "out.tif.part") << "the user's";
  {
    auto file = TTempFile::CreateBeside(folder / "out.tif");
    ASSERT_TRUE(file && file->Write("new", 3));
    EXPECT_TRUE(file->CommitTo(folder / "out.tif"));
  }
  EXPECT_EQ(ReadAll(folder / "out.tif"), "new");
  EXPECT_EQ(ReadAll(folder / "out.tif.part"), "the user's");
  fs::create_directory(folder / "taken.tif");
  {
    auto file = TTempFile::CreateBeside(folder / "taken.tif");
    ASSERT_TRUE(file && file->Write("new", 3));
    EXPECT_FALSE(file->CommitTo(folder / "taken.tif"));
  }
  EXPECT_TRUE(fs::is_directory(folder / "taken.tif"));
  EXPECT_EQ(FolderEntries(folder), (std::vector<std::string>{"out.tif", "out.tif.part", "taken.tif"}));
#if !defined(_WIN32)
  // A name of 255 bytes, the most a folder entry can hold, still saves.
  const fs::path longest = folder / (std::string(251, 'n') + ".tif");
  auto file = TTempFile::CreateBeside(longest);
  ASSERT_TRUE(file && file->Write("x", 1));
  EXPECT_TRUE(file->CommitTo(longest));
  EXPECT_TRUE(fs::exists(longest));
#endif
  fs::remove_all(folder);
}

#if !defined(_WIN32)
namespace {
// The descriptor this process holds open on path, or -1.
int DescriptorOf(const fs::path& path) {
  struct stat wanted {};
  if (::stat(path.c_str(), &wanted) != 0) return -1;
  for (int fd = 0; fd < 4096; ++fd) {
    struct stat open {};
    if (::fstat(fd, &open) == 0 && open.st_dev == wanted.st_dev && open.st_ino == wanted.st_ino) return fd;
  }
  return -1;
}
}  // namespace

// A close that fails (as on a full NFS or quota-bound disk, where the close is the first to
// hear of it) is no commit, however well the writer did: the earlier file stays.
TEST(TempFile, ACloseThatFailsCommitsNothing) {
  const fs::path folder = FreshFolder("close");
  const TPicture picture(300, 200);
  const THeldPicture held = Hold(picture, false);
  for (const TFormat format : {TFormat::Tiff, TFormat::Png}) {
    const fs::path target = folder / (std::string("out.") + Extension(format));
    std::ofstream(target) << "earlier good output";
    auto file = TTempFile::CreateBeside(target);
    ASSERT_TRUE(file);
    ASSERT_TRUE(format == TFormat::Tiff ? WriteTiff48(*file, held.View, {}, {}, 1) : WritePng48(*file, held.View, {}, {}, 1));
    // Closed behind the file's back, its own close fails (EBADF).
    const int fd = DescriptorOf(file->Path());
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::close(fd), 0);
    EXPECT_FALSE(file->CommitTo(target)) << Extension(format);
    EXPECT_EQ(ReadAll(target), "earlier good output");
  }
  EXPECT_EQ(FolderEntries(folder), (std::vector<std::string>{"out.png", "out.tif"}));
  fs::remove_all(folder);
}
#endif

namespace {
// Saves a picture several strips long over an earlier file while writes are made to fail
// after `limit` bytes; the earlier file and the folder must be as they were.
void ExpectFailedSaveLeavesNoTrace(void (*limitWrites)(int64_t), const char* how) {
  SCOPED_TRACE(how);
  const fs::path folder = FreshFolder("fails");
  const TPicture picture(1000, 1111);
  const THeldPicture held = Hold(picture, true);
  for (const TFormat format : {TFormat::Tiff, TFormat::Png}) {
    const fs::path target = folder / (std::string("out.") + Extension(format));
    std::ofstream(target) << "earlier good output";
    for (const int64_t limit : {int64_t(0), int64_t(5000), int64_t(1) << 20}) {
      limitWrites(limit);
      const bool saved = Save(format, held.View, target);
      limitWrites(-1);
      EXPECT_FALSE(saved) << Extension(format) << " limited to " << limit << " bytes";
    }
    EXPECT_EQ(ReadAll(target), "earlier good output");
  }
  EXPECT_EQ(FolderEntries(folder), (std::vector<std::string>{"out.png", "out.tif"}));
  fs::remove_all(folder);
}

#if !defined(_WIN32)
// The kernel's own limit on file size: writes past it fail with EFBIG (SIGXFSZ ignored).
void KernelFileSizeLimit(int64_t bytes) {
  static rlimit original{};
  static bool saved = false;
  if (!saved) {
    getrlimit(RLIMIT_FSIZE, &original);
    signal(SIGXFSZ, SIG_IGN);
    saved = true;
  }
  rlimit limit = original;
  if (bytes >= 0) limit.rlim_cur = static_cast<rlim_t>(bytes);
  setrlimit(RLIMIT_FSIZE, &limit);
}
#endif
}  // namespace

TEST(TempFile, AWriteFailingHalfWayLeavesTheEarlierFileAndNoTemporaryFile) {
  ExpectFailedSaveLeavesNoTrace(tempFileTesting::SetWriteLimit, "a full disk, stood in for");
#if !defined(_WIN32)
  ExpectFailedSaveLeavesNoTrace(KernelFileSizeLimit, "RLIMIT_FSIZE");
#endif
}

// Side files (world files, .aux.xml) are written whole through a temporary file: a link planted
// at the name is replaced by the file, as the composite replaces one, and what it points to is
// never written; a write that fails leaves the earlier file and nothing else.
TEST(TempFile, WholeFileReplacesALinkAtItsNameAndNeverWritesThroughIt) {
  const fs::path folder = FreshFolder("whole");
  std::ofstream(folder / "victim") << "the user's";
  const std::string lines = "60\n0\n0\n-60\n300030\n5600010\n";
  if (MakeLink(folder / "victim", folder / "x.pgw") && MakeLink(folder / "nowhere", folder / "x.png.aux.xml")) {
    EXPECT_TRUE(WriteWholeFile(folder / "x.pgw", lines));
    EXPECT_TRUE(WriteWholeFile(folder / "x.png.aux.xml", std::string_view("<PAMDataset/>\n")));
    for (const char* name : {"x.pgw", "x.png.aux.xml"})
      EXPECT_FALSE(fs::is_symlink(folder / name)) << name << " is still the planted link";
    EXPECT_EQ(ReadAll(folder / "x.pgw"), lines);
    EXPECT_EQ(ReadAll(folder / "x.png.aux.xml"), "<PAMDataset/>\n");
    EXPECT_EQ(ReadAll(folder / "victim"), "the user's");
    EXPECT_FALSE(fs::exists(folder / "nowhere")) << "a dangling link was followed";
  } else {
    std::printf("no symbolic links here: the planted-link cases were not run\n");
  }

  // A full disk half-way, and a folder at the name: false, the earlier file as it was.
  std::ofstream(folder / "y.pgw") << "earlier";
  tempFileTesting::SetWriteLimit(4);
  EXPECT_FALSE(WriteWholeFile(folder / "y.pgw", lines));
  tempFileTesting::SetWriteLimit(-1);
  EXPECT_EQ(ReadAll(folder / "y.pgw"), "earlier");
  fs::create_directory(folder / "z.pgw");
  EXPECT_FALSE(WriteWholeFile(folder / "z.pgw", lines));
  EXPECT_TRUE(fs::is_directory(folder / "z.pgw"));
  for (const std::string& name : FolderEntries(folder)) EXPECT_NE(name.rfind(".bw-", 0), 0u) << name << " left behind";
  fs::remove_all(folder);
}
