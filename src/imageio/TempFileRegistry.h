// The temporary files and folders an interrupted console process removes before it ends: a
// registry of fixed slots that the signal or console handlers read without allocating.
#pragma once
#include <cstddef>
#include <filesystem>

// From now on an interrupted console process removes its live temporary files before it ends:
// natively on SIGINT, SIGTERM and SIGHUP; on Windows on Ctrl-C, Ctrl-Break, a closed console
// window, log-off and shut-down.
void RemoveTempFilesOnInterrupt();

namespace tempFileDetail {
using TChar = std::filesystem::path::value_type;
// A registered folder goes once the files registered in it have gone.
int Register(const std::filesystem::path& path);  // -1 when full or the path is too long
void Unregister(int slot);
void RemoveAllLive(void (*remove)(const TChar* path));
// True when the first length characters of path name a live registered entry (a folder).
bool IsLive(const TChar* path, size_t length);
// What the interrupt handlers do before the process ends: every live file, then the folders
// they emptied. Safe in a handler.
void RemoveLive();
}  // namespace tempFileDetail
