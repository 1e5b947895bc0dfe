// What the batch needs of the system, one implementation per platform: the report file, memory,
// child processes and interrupts.
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace batchPlatform {
// A file opened for appending, created when missing, refused when its name is a link; -1 on
// failure with the reason.
intptr_t OpenForAppend(const std::wstring& path, std::string& why);
// All of bytes in one write at the end of the file.
bool AppendWhole(intptr_t file, const std::string& bytes);
void CloseFile(intptr_t file);

// A file's last write time, in the file system's finest unit (only for comparing); nothing
// when it cannot be read. (std::filesystem on Windows' C runtime rounds to whole seconds.)
std::optional<int64_t> LastWriteTime(const std::wstring& path);

// Memory that can be taken now without pushing anything out (Linux: MemAvailable, within this
// process's cgroup limit); 0 when the system does not say.
uint64_t AvailableMemoryBytes();
// The most memory this process has held so far; nothing when the system does not say.
std::optional<uint64_t> PeakMemoryOfThisProcess();
// This program's own executable.
std::wstring OwnExecutable();

struct TChildExit {
  int Code = 0;                            // the exit status when it exited
  std::wstring Abnormal;                   // how it ended when it did not exit: "killed by signal 9"
  std::optional<uint64_t> PeakMemoryBytes;  // where the system says
};

// One run of a program with its output in files; the child ends with the object at the latest.
class TChildProcess {
 public:
  TChildProcess() = default;
  ~TChildProcess();
  TChildProcess(const TChildProcess&) = delete;
  TChildProcess& operator=(const TChildProcess&) = delete;

  // Starts program with arguments, stdin empty, stdout and stderr into the two files.
  bool Start(const std::wstring& program, const std::vector<std::wstring>& arguments, const std::wstring& outFile,
             const std::wstring& errFile, std::string& why);
  // True once the child has ended, with how; does not wait.
  bool Poll(TChildExit& exit);
  // Asks the child to end as an interrupt would, so that it removes its unfinished files.
  void Interrupt();

 private:
  intptr_t FProcess = -1;
  unsigned long FGroup = 0;  // Windows: the child's console process group
  bool FEnded = false;
};

// From now on SIGINT, SIGTERM and SIGHUP (Windows: Ctrl-C, Ctrl-Break, a closed console) only
// set a flag, which the batch reads between polls.
void CatchInterrupts();
bool Interrupted();
// The exit status for an interrupted run (130 for SIGINT).
int InterruptedStatus();
}  // namespace batchPlatform
