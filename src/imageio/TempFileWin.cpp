// The temporary file on Windows: a handle created with CREATE_NEW, which fails on any existing
// name, a link included, and a console control handler that deletes the live files.
#include <windows.h>

#include "TempFilePlatform.h"
#include "TempFileRegistry.h"

namespace fs = std::filesystem;

namespace {
HANDLE Handle(intptr_t handle) { return reinterpret_cast<HANDLE>(handle); }

// ReadFile and WriteFile take 32-bit counts: a gibibyte at a time.
DWORD Chunk(size_t size) { return size > (1u << 30) ? (1u << 30) : static_cast<DWORD>(size); }

const wchar_t* LastSeparator(const wchar_t* begin, const wchar_t* end) {
  for (const wchar_t* at = end; at != begin;)
    if (*--at == L'\\' || *at == L'/') return at;
  return nullptr;
}

wchar_t gMoved[32768];  // the handler's one buffer: no allocation there

BOOL WINAPI OnConsoleEvent(DWORD) {
  tempFileDetail::RemoveLive();
  return FALSE;  // the default handler ends the process as before
}
}  // namespace

namespace tempFileDetail {
intptr_t CreateExclusive(const fs::path& path, bool& exists) {
  // FILE_SHARE_DELETE lets the control handler delete the file while it is open; the file
  // then goes when the process ends. FILE_FLAG_OPEN_REPARSE_POINT: never act through a link.
  const HANDLE handle = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE | DELETE,
                                    FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, CREATE_NEW,
                                    FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    const DWORD error = GetLastError();
    exists = error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS || error == ERROR_ACCESS_DENIED;
    // Access denied also comes from a name in the middle of being deleted; another name then
    // serves. A folder that refuses everything fails every attempt and ends the loop.
    return -1;
  }
  return reinterpret_cast<intptr_t>(handle);
}

int64_t WriteSome(intptr_t handle, const void* data, size_t size) {
  DWORD written = 0;
  return WriteFile(Handle(handle), data, Chunk(size), &written, nullptr) ? written : -1;
}

int64_t ReadSome(intptr_t handle, void* data, size_t size) {
  DWORD got = 0;
  return ReadFile(Handle(handle), data, Chunk(size), &got, nullptr) ? got : -1;
}

int64_t SeekTo(intptr_t handle, int64_t offset, int whence) {
  LARGE_INTEGER distance, at;
  distance.QuadPart = offset;
  const DWORD method = whence == 0 ? FILE_BEGIN : whence == 1 ? FILE_CURRENT : FILE_END;
  return SetFilePointerEx(Handle(handle), distance, &at, method) ? at.QuadPart : -1;
}

int64_t SizeOf(intptr_t handle) {
  LARGE_INTEGER size;
  return GetFileSizeEx(Handle(handle), &size) ? size.QuadPart : -1;
}

bool CloseFile(intptr_t handle) { return CloseHandle(Handle(handle)) != 0; }

void RemoveFile(const fs::path& path) { DeleteFileW(path.c_str()); }

bool MoveOver(const fs::path& path, const fs::path& target) {
  return MoveFileExW(path.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING) != 0;
}

// A file open in this process, deleted, is only marked for deletion: it keeps its name, and a
// registered folder holding it (the unpacked bands') from going, until the process has ended.
// Moved first into the folder above that one, it frees the folder; it still goes at the end.
void RemoveLiveFile(const TChar* path) {
  const wchar_t* end = path + wcslen(path);
  const wchar_t* name = LastSeparator(path, end);
  const wchar_t* up = name ? LastSeparator(path, name) : nullptr;
  if (up && IsLive(path, static_cast<size_t>(name - path)) &&
      static_cast<size_t>((up - path) + (end - name)) < sizeof gMoved / sizeof gMoved[0]) {
    wmemcpy(gMoved, path, static_cast<size_t>(up - path));
    wmemcpy(gMoved + (up - path), name, static_cast<size_t>(end - name) + 1);
    if (MoveFileW(path, gMoved)) {
      DeleteFileW(gMoved);
      return;
    }
  }
  DeleteFileW(path);
}

void RemoveLiveFolder(const TChar* path) { RemoveDirectoryW(path); }
}  // namespace tempFileDetail

void RemoveTempFilesOnInterrupt() { SetConsoleCtrlHandler(OnConsoleEvent, TRUE); }
