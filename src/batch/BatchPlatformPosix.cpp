#include "BatchPlatform.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>

#include "TextCodec.h"

extern char** environ;

namespace batchPlatform {
namespace {
volatile sig_atomic_t gSignal = 0;

void OnSignal(int signal) { gSignal = signal; }

// A number from a one-line file (cgroup limits); nothing for "max" or no file.
std::optional<uint64_t> ReadNumber(const std::string& path) {
  std::ifstream in(path);
  std::string text;
  if (!(in >> text) || text.empty() || text.find_first_not_of("0123456789") != std::string::npos) return {};
  return std::stoull(text);
}

// Room left under this process's cgroup v2 memory limit, when it has one.
std::optional<uint64_t> CgroupRoom() {
  std::ifstream in("/proc/self/cgroup");
  std::string line;
  while (std::getline(in, line)) {
    if (line.rfind("0::", 0) != 0) continue;
    const std::string folder = "/sys/fs/cgroup" + line.substr(3);
    const std::optional<uint64_t> limit = ReadNumber(folder + "/memory.max");
    const std::optional<uint64_t> used = ReadNumber(folder + "/memory.current");
    if (!limit) return {};
    return *limit > used.value_or(0) ? *limit - used.value_or(0) : 0;
  }
  return {};
}
}  // namespace

intptr_t OpenForAppend(const std::wstring& path, std::string& why) {
  const int fd = open(ToUtf8(path).c_str(), O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY, 0644);
  if (fd < 0) {
    why = errno == ELOOP ? "it is a symbolic link" : std::strerror(errno);
    return -1;
  }
  struct stat info;
  if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    close(fd);
    why = "not a regular file";
    return -1;
  }
  return fd;
}

bool AppendWhole(intptr_t file, const std::string& bytes) {
  // O_APPEND puts each write whole at the end on a local disk; NFS does not promise it across
  // machines, so the writers of one report also take turns under a lock (which NFS does share).
  const int fd = static_cast<int>(file);
  struct flock lock;
  std::memset(&lock, 0, sizeof lock);
  lock.l_type = F_WRLCK;
  lock.l_whence = SEEK_SET;
  int locked;
  do {
    locked = fcntl(fd, F_SETLKW, &lock);
  } while (locked != 0 && errno == EINTR);
  ssize_t written;
  do {
    written = write(fd, bytes.data(), bytes.size());
  } while (written < 0 && errno == EINTR);
  if (locked == 0) {
    lock.l_type = F_UNLCK;
    fcntl(fd, F_SETLK, &lock);
  }
  return written == static_cast<ssize_t>(bytes.size());
}

void CloseFile(intptr_t file) { close(static_cast<int>(file)); }

std::optional<int64_t> LastWriteTime(const std::wstring& path) {
  struct stat info;
  if (stat(ToUtf8(path).c_str(), &info) != 0) return {};
  return int64_t{info.st_mtim.tv_sec} * 1000000000 + info.st_mtim.tv_nsec;
}

uint64_t AvailableMemoryBytes() {
  std::ifstream in("/proc/meminfo");
  std::string key;
  uint64_t value = 0, available = 0;
  std::string unit;
  while (in >> key >> value) {
    std::getline(in, unit);
    if (key == "MemAvailable:") {
      available = value * 1024;
      break;
    }
  }
  if (available == 0) {
    const long pages = sysconf(_SC_AVPHYS_PAGES), size = sysconf(_SC_PAGESIZE);
    if (pages > 0 && size > 0) available = static_cast<uint64_t>(pages) * static_cast<uint64_t>(size);
  }
  if (const std::optional<uint64_t> room = CgroupRoom(); room && (available == 0 || *room < available))
    available = *room;
  return available;
}

std::optional<uint64_t> PeakMemoryOfThisProcess() {
  struct rusage usage;
  if (getrusage(RUSAGE_SELF, &usage) != 0 || usage.ru_maxrss <= 0) return {};
  return static_cast<uint64_t>(usage.ru_maxrss) * 1024;  // kilobytes on Linux
}

std::wstring OwnExecutable() {
  std::string path(4096, '\0');
  const ssize_t length = readlink("/proc/self/exe", path.data(), path.size());
  if (length <= 0 || static_cast<size_t>(length) >= path.size()) return {};
  path.resize(static_cast<size_t>(length));
  return FromUtf8(path);
}

TChildProcess::~TChildProcess() {
  if (FProcess == -1 || FEnded) return;
  kill(static_cast<pid_t>(FProcess), SIGTERM);
  waitpid(static_cast<pid_t>(FProcess), nullptr, 0);
}

bool TChildProcess::Start(const std::wstring& program, const std::vector<std::wstring>& arguments,
                          const std::wstring& outFile, const std::wstring& errFile, std::string& why) {
  std::vector<std::string> texts{ToUtf8(program)};
  for (const std::wstring& argument : arguments) texts.push_back(ToUtf8(argument));
  std::vector<char*> argv;
  for (std::string& text : texts) argv.push_back(text.data());
  argv.push_back(nullptr);
  const std::string out = ToUtf8(outFile), err = ToUtf8(errFile);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW, 0600);
  posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW, 0600);
  // The child gets the signals' default handling back, whatever this process set.
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  sigset_t defaults;
  sigemptyset(&defaults);
  for (int signal : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&defaults, signal);
  posix_spawnattr_setsigdefault(&attributes, &defaults);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF);
  pid_t pid = 0;
  const int result = posix_spawn(&pid, argv[0], &actions, &attributes, argv.data(), environ);
  posix_spawnattr_destroy(&attributes);
  posix_spawn_file_actions_destroy(&actions);
  if (result != 0) {
    why = std::strerror(result);
    return false;
  }
  FProcess = pid;
  return true;
}

bool TChildProcess::Poll(TChildExit& exit) {
  if (FProcess == -1 || FEnded) return true;
  int status = 0;
  struct rusage usage;
  const pid_t done = wait4(static_cast<pid_t>(FProcess), &status, WNOHANG, &usage);
  if (done == 0 || (done < 0 && errno == EINTR)) return false;
  FEnded = true;
  if (done < 0) {
    exit.Abnormal = L"lost track of the job's process";
    return true;
  }
  if (WIFEXITED(status)) exit.Code = WEXITSTATUS(status);
  else if (WIFSIGNALED(status)) exit.Abnormal = L"ended by signal " + std::to_wstring(WTERMSIG(status));
  if (usage.ru_maxrss > 0) exit.PeakMemoryBytes = static_cast<uint64_t>(usage.ru_maxrss) * 1024;
  return true;
}

void TChildProcess::Interrupt() {
  if (FProcess != -1 && !FEnded) kill(static_cast<pid_t>(FProcess), SIGTERM);
}

void CatchInterrupts() {
  struct sigaction action;
  std::memset(&action, 0, sizeof action);
  action.sa_handler = OnSignal;
  sigemptyset(&action.sa_mask);
  for (int signal : {SIGINT, SIGTERM, SIGHUP}) sigaction(signal, &action, nullptr);
}

bool Interrupted() { return gSignal != 0; }

int InterruptedStatus() { return 128 + (gSignal ? gSignal : SIGINT); }
}  // namespace batchPlatform
