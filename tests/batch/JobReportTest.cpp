// The report: one whole line of valid JSON a job, whatever the names hold, however many write
// to it at once, and never through a link planted at its name.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <fstream>
#include <thread>

#include "BatchTestKit.h"
#include "JobReport.h"
#include "ProductTrees.h"
#include "TextCodec.h"

using namespace batchtest;

namespace {
std::vector<std::string> ReadLines(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::vector<std::string> lines;
  std::string line;
  while (std::getline(in, line)) lines.push_back(line);
  return lines;
}

class JobReportTest : public TScratch {};

TEST_F(JobReportTest, HostileNamesGiveValidJsonWithTheKeysInOrder) {
  TJobRecord record;
  // Quotes, backslashes, control characters, a tab and a line break, and (natively) bytes that
  // are not UTF-8, which arrive as U+DC80.. escapes.
  record.Input = L"a\"b\\c\x01\x1f\t\nd" + FromUtf8(std::string("\xff\xfe.SAFE"));
  record.Output = L"out \u00e9\u4e2d.tif";
  record.Status = TJobStatus::Failed;
  record.Message = L"Error loading green";
  record.Seconds = 1.23456;
  const std::string line = RecordJson(record);
  EXPECT_EQ(line.find('\n'), std::string::npos);
  const nlohmann::json json = nlohmann::json::parse(line);
  EXPECT_EQ(line.rfind("{\"input\":", 0), 0u);
  EXPECT_EQ(json["status"], "failed");
  EXPECT_EQ(json["message"], "Error loading green");
  EXPECT_EQ(json["output"], "out \xc3\xa9\xe4\xb8\xad.tif");
  EXPECT_DOUBLE_EQ(json["seconds"].get<double>(), 1.235);
  EXPECT_TRUE(json["peak_memory_bytes"].is_null());
  EXPECT_EQ(json["input"].get<std::string>().substr(0, 10), "a\"b\\c\x01\x1f\t\nd");
  record.PeakMemoryBytes = 123456789;
  record.Status = TJobStatus::Skipped;
  const nlohmann::json skipped = nlohmann::json::parse(RecordJson(record));
  EXPECT_EQ(skipped["peak_memory_bytes"], 123456789u);
  EXPECT_EQ(skipped["status"], "skipped");
  const std::vector<std::string> keys = {"input", "output", "status", "message", "seconds", "peak_memory_bytes"};
  std::vector<std::string> got;
  for (auto it = skipped.begin(); it != skipped.end(); ++it) got.push_back(it.key());
  std::sort(got.begin(), got.end());
  std::vector<std::string> sortedKeys = keys;
  std::sort(sortedKeys.begin(), sortedKeys.end());
  EXPECT_EQ(got, sortedKeys);
}

TEST_F(JobReportTest, ManyWritersAtOnceLeaveWholeLinesOnly) {
  const fs::path path = FDir / "report.jsonl";
  producttrees::WriteBytes(path, "{\"input\":\"from an earlier run\"}\n");
  constexpr int kWriters = 6, kRecords = 150;
  std::vector<std::thread> writers;
  for (int w = 0; w < kWriters; ++w)
    writers.emplace_back([&, w] {
      TJobReport report;  // each its own open file, as separate processes would have
      std::wstring why;
      ASSERT_TRUE(report.Open(W(path), why)) << ToUtf8(why);
      for (int k = 0; k < kRecords; ++k) {
        TJobRecord record;
        record.Input = L"writer " + std::to_wstring(w) + L" job " + std::to_wstring(k);
        record.Message = std::wstring(3000 + 97 * k, L'x');  // longer than a pipe's atomic write
        ASSERT_TRUE(report.Append(record, why));
      }
    });
  for (std::thread& writer : writers) writer.join();
  const std::vector<std::string> lines = ReadLines(path);
  ASSERT_EQ(lines.size(), 1u + kWriters * kRecords);
  for (size_t k = 1; k < lines.size(); ++k) {
    const nlohmann::json json = nlohmann::json::parse(lines[k], nullptr, false);
    ASSERT_FALSE(json.is_discarded()) << "line " << k;
  }
  EXPECT_EQ(lines[0], "{\"input\":\"from an earlier run\"}");
}

#if !defined(_WIN32)
TEST_F(JobReportTest, ALinkPlantedAtItsNameIsRefusedAndItsTargetUntouched) {
  producttrees::WriteBytes(FDir / "victim", "precious\n");
  fs::create_symlink(FDir / "victim", FDir / "report.jsonl");
  TJobReport report;
  std::wstring why;
  EXPECT_FALSE(report.Open(W(FDir / "report.jsonl"), why));
  EXPECT_NE(why.find(L"symbolic link"), std::wstring::npos);
  EXPECT_EQ(producttrees::ReadBytes(FDir / "victim"), "precious\n");
  fs::create_directories(FDir / "folder");
  EXPECT_FALSE(report.Open(W(FDir / "folder"), why));
}
#endif
}  // namespace
