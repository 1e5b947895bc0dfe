// A band being unpacked from a dropped zip can be removed at any moment by the clean-up that a
// closed console or Ctrl-C runs: on Windows only a file shared for deletion can be.
#include <gtest/gtest.h>

#if defined(_WIN32)
#include <windows.h>
#else
#include <unistd.h>
#endif

#include <filesystem>
#include <string>
#include <vector>

#include "ImageTestEnvironment.h"
#include "ProductJob.h"
#include "ProductTrees.h"
#include "RecordingHost.h"
#include "TestEnv.h"
#include "qelUtils.h"

namespace fs = std::filesystem;
using namespace producttrees;

namespace {
fs::path gDrop;
const RecordingHost* gHost = nullptr;
int gSeen = 0, gRemoved = 0;

uint32_t EveryCall() {
  static uint32_t tick = 0;
  return ++tick;
}

// At each keep-alive while a band is unpacked: delete every file in the unpacking folder, as
// the interrupt handlers do.
void RemoveWhatIsUnpacked() {
  if (gHost->Status.rfind(L"Unpacking ", 0) != 0) return;
  std::error_code error;
  for (const auto& folder : fs::directory_iterator(gDrop, error)) {
    if (folder.path().filename().string().rfind(".bandweave-", 0) != 0) continue;
    for (const auto& file : fs::directory_iterator(folder.path(), error)) {
      ++gSeen;
#if defined(_WIN32)
      gRemoved += DeleteFileW(file.path().c_str()) ? 1 : 0;
#else
      gRemoved += ::unlink(file.path().c_str()) == 0 ? 1 : 0;
#endif
    }
  }
}
}  // namespace

TEST(ProductZipUnpacking, TheBandBeingWrittenCanAlwaysBeRemoved) {
  ASSERT_FALSE(testenv::TestData().empty()) << "BANDWEAVE_TEST_DATA is not set";
  const fs::path dir = fs::temp_directory_path() / "bandweave-unpack-cleanup";
  fs::remove_all(dir);
  const TProduct product = MakeL1c(dir / "src", testenv::TestData() / "tile");
  gDrop = dir / "drop";
  const fs::path zip = gDrop / "product.zip";
  WriteBytes(zip, ZipBytes(EntriesOf(product.Safe)));

  RecordingHost host;
  gHost = &host;
  qelUtilsTesting::SetKeepAliveHooks(EveryCall, RemoveWhatIsUnpacked);
  ProcessDroppedPath(host, imagetest::Wide(zip));
  qelUtilsTesting::SetKeepAliveHooks(nullptr, nullptr);

  EXPECT_GT(gSeen, 0) << "no band was seen while it was unpacked";
  EXPECT_EQ(gRemoved, gSeen) << "a band being unpacked could not be removed";
  std::vector<std::string> left;
  for (const auto& entry : fs::directory_iterator(gDrop)) left.push_back(entry.path().filename().string());
  EXPECT_EQ(left, std::vector<std::string>{"product.zip"});
  fs::remove_all(dir);
}
