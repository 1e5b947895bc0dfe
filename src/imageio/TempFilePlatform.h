// What the temporary file asks of the system, natively (TempFilePosix.cpp) and on Windows
// (TempFileWin.cpp). A handle is a descriptor or a HANDLE; -1 is none.
#pragma once
#include <cstddef>
#include <cstdint>
#include <filesystem>

#include "TempFileRegistry.h"

namespace tempFileDetail {
// A new file that no name (a file, a folder, a link) stood for; -1 on failure, exists telling
// whether the name was taken.
intptr_t CreateExclusive(const std::filesystem::path& path, bool& exists);
// Some of the bytes, at least one: how many, or -1 on failure.
int64_t WriteSome(intptr_t handle, const void* data, size_t size);
int64_t ReadSome(intptr_t handle, void* data, size_t size);
// whence 0, 1, 2: from the start, here, the end; the new position or -1.
int64_t SeekTo(intptr_t handle, int64_t offset, int whence);
int64_t SizeOf(intptr_t handle);
bool CloseFile(intptr_t handle);  // false when the close reports a failed write
void RemoveFile(const std::filesystem::path& path);
// Replaces a file at target (never a folder) in one move.
bool MoveOver(const std::filesystem::path& path, const std::filesystem::path& target);
// The handlers' removals of a live file and of a live folder: safe in a handler.
void RemoveLiveFile(const TChar* path);
void RemoveLiveFolder(const TChar* path);
}  // namespace tempFileDetail
