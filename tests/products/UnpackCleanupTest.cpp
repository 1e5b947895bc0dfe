// A band being unpacked from a dropped zip is removed, with its folder, by the clean-up that a
// closed console or Ctrl-C runs, at that moment: on Windows only a file shared for deletion can
// be, and a file still open there must first leave the folder for the folder to go.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "ImageTestEnvironment.h"
#include "ProductJob.h"
#include "ProductTrees.h"
#include "RecordingHost.h"
#include "TempFileRegistry.h"
#include "TempFolder.h"
#include "TestEnv.h"
#include "qelUtils.h"

namespace fs = std::filesystem;
using namespace producttrees;

namespace {
fs::path gDrop;
const RecordingHost* gHost = nullptr;
std::vector<fs::path> gFolders;  // unpacking folders with a file in them when interrupted
bool gInterrupted = false;
bool gGoneAtOnce = false;

uint32_t EveryCall() {
  static uint32_t tick = 0;
  return ++tick;
}

// At the first keep-alive while a band is being unpacked: what the interrupt handlers do.
void InterruptWhileUnpacking() {
  if (gInterrupted || gHost->Status.rfind(L"Unpacking ", 0) != 0) return;
  std::error_code error;
  for (const auto& folder : fs::directory_iterator(gDrop, error))
    if (folder.path().filename().string().rfind(".bandweave-", 0) == 0 && !fs::is_empty(folder.path(), error))
      gFolders.push_back(folder.path());
  if (gFolders.empty()) return;
  gInterrupted = true;
  tempFileDetail::RemoveLive();
  gGoneAtOnce = !fs::exists(gFolders[0], error);
}
}  // namespace

TEST(ProductZipUnpacking, TheBandBeingWrittenGoesWithItsFolderAtOnce) {
  ASSERT_FALSE(testenv::TestData().empty()) << "BANDWEAVE_TEST_DATA is not set";
  const fs::path dir = testenv::FreshPrivateFolder("bandweave-unpack-cleanup-");
  const TProduct product = MakeL1c(dir / "src", testenv::TestData() / "tile");
  gDrop = dir / "drop";
  const fs::path zip = gDrop / "product.zip";
  WriteBytes(zip, ZipBytes(EntriesOf(product.Safe)));

  RecordingHost host;
  gHost = &host;
  qelUtilsTesting::SetKeepAliveHooks(EveryCall, InterruptWhileUnpacking);
  ProcessDroppedPath(host, imagetest::Wide(zip));
  qelUtilsTesting::SetKeepAliveHooks(nullptr, nullptr);

  ASSERT_EQ(gFolders.size(), 1u) << "no band was seen being unpacked";
  // Gone at the interrupt itself, not only once the job had given up.
  EXPECT_TRUE(gGoneAtOnce) << "the unpacking folder outlived the clean-up";
  std::vector<std::string> left;
  for (const auto& entry : fs::directory_iterator(gDrop)) left.push_back(entry.path().filename().string());
  EXPECT_EQ(left, std::vector<std::string>{"product.zip"});
  fs::remove_all(dir);
}
