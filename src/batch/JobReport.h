// The batch's record: one JSON object a line per job, appended to a file that many processes,
// on many machines, may share. Each line goes out in one write of its own.
#pragma once
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

enum class TJobStatus { Written, Skipped, Failed };
const char* StatusWord(TJobStatus status);  // "written", "skipped", "failed"

struct TJobRecord {
  std::wstring Input, Output;
  TJobStatus Status = TJobStatus::Failed;
  std::wstring Message;                   // the job's own, for a failure
  double Seconds = 0;
  std::optional<uint64_t> PeakMemoryBytes;  // where known
  std::optional<double> MaskedFraction;     // of a masked composite: the share its mask removed
};

// {"input":...,"output":...,"status":...,"message":...,"seconds":...,"peak_memory_bytes":...}
// and, for a masked composite, "masked_fraction" after them; without the line end; bytes of a name that are not UTF-8 become U+FFFD.
std::string RecordJson(const TJobRecord& record);

class TJobReport {
 public:
  TJobReport() = default;
  ~TJobReport();
  TJobReport(const TJobReport&) = delete;
  TJobReport& operator=(const TJobReport&) = delete;

  // Opens path for appending, creating it when missing; never through a link planted at its
  // name. False with the reason.
  bool Open(const std::wstring& path, std::wstring& why);
  bool IsOpen() const { return FHandle != -1; }
  bool Append(const TJobRecord& record, std::wstring& why);

 private:
  intptr_t FHandle = -1;
  std::wstring FPath;
};

// Seconds since it was made.
class TJobClock {
 public:
  double Seconds() const { return std::chrono::duration<double>(std::chrono::steady_clock::now() - FStart).count(); }

 private:
  std::chrono::steady_clock::time_point FStart = std::chrono::steady_clock::now();
};
