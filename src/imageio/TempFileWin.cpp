// The temporary file on Windows: a handle created with CREATE_NEW, which fails on any existing
// name, a link included, and a console control handler that deletes the live files.
#include <windows.h>

#include "TempFile.h"

namespace fs = std::filesystem;

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
}  // namespace tempFileDetail

namespace {
HANDLE Handle(intptr_t handle) { return reinterpret_cast<HANDLE>(handle); }

const wchar_t* LastSeparator(const wchar_t* begin, const wchar_t* end) {
  for (const wchar_t* at = end; at != begin;)
    if (*--at == L'\\' || *at == L'/') return at;
  return nullptr;
}

wchar_t gMoved[32768];  // the handler's one buffer: no allocation there

// A file open in this process, deleted, is only marked for deletion: it keeps its name, and a
// registered folder holding it (the unpacked bands') from going, until the process has ended.
// Moved first into the folder above that one, it frees the folder; it still goes at the end.
void Delete(const wchar_t* path) {
  const wchar_t* end = path + wcslen(path);
  const wchar_t* name = LastSeparator(path, end);
  const wchar_t* up = name ? LastSeparator(path, name) : nullptr;
  if (up && tempFileDetail::IsLive(path, static_cast<size_t>(name - path)) &&
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

void RemoveFolder(const wchar_t* path) { RemoveDirectoryW(path); }

BOOL WINAPI OnConsoleEvent(DWORD) {
  tempFileDetail::RemoveLive();
  return FALSE;  // the default handler ends the process as before
}
}  // namespace

bool TTempFile::Write(const void* data, size_t size) {
  if (FFailed || !FOpen) return Fail();
  if (tempFileDetail::TestLimitSet() && !tempFileDetail::WithinTestLimit(Seek(0, 1), size)) return Fail();
  const char* bytes = static_cast<const char*>(data);
  while (size > 0) {
    const DWORD chunk = size > (1u << 30) ? (1u << 30) : static_cast<DWORD>(size);
    DWORD written = 0;
    if (!WriteFile(Handle(FHandle), bytes, chunk, &written, nullptr) || written == 0) return Fail();
    bytes += written;
    size -= written;
  }
  return true;
}

int64_t TTempFile::Read(void* data, size_t size) {
  if (FFailed || !FOpen) return -1;
  const DWORD chunk = size > (1u << 30) ? (1u << 30) : static_cast<DWORD>(size);
  DWORD got = 0;
  if (!ReadFile(Handle(FHandle), data, chunk, &got, nullptr)) {
    FFailed = true;
    return -1;
  }
  return got;
}

int64_t TTempFile::Seek(int64_t offset, int whence) {
  if (FFailed || !FOpen) return -1;
  LARGE_INTEGER distance, at;
  distance.QuadPart = offset;
  const DWORD method = whence == 0 ? FILE_BEGIN : whence == 1 ? FILE_CURRENT : FILE_END;
  if (!SetFilePointerEx(Handle(FHandle), distance, &at, method)) {
    FFailed = true;
    return -1;
  }
  return at.QuadPart;
}

int64_t TTempFile::Size() {
  LARGE_INTEGER size;
  if (!FOpen || !GetFileSizeEx(Handle(FHandle), &size)) return -1;
  return size.QuadPart;
}

bool TTempFile::Close() {
  if (!FOpen) return false;
  FOpen = false;
  return CloseHandle(Handle(FHandle)) != 0;
}

void TTempFile::Discard() {
  if (FOpen) {
    FOpen = false;
    CloseHandle(Handle(FHandle));
  }
  DeleteFileW(FPath.c_str());
}

bool TTempFile::CommitTo(const fs::path& target) {
  const bool closed = Close();
  if (FFailed || !closed || !MoveFileExW(FPath.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING)) {
    FFailed = true;
    Discard();
    return false;
  }
  FCommitted = true;
  tempFileDetail::Unregister(FSlot);
  FSlot = -1;
  return true;
}

namespace tempFileDetail {
void RemoveLive() {
  // Files first, then the folders they emptied (each call fails harmlessly on the other kind).
  RemoveAllLive(Delete);
  RemoveAllLive(RemoveFolder);
}
}  // namespace tempFileDetail

void RemoveTempFilesOnInterrupt() { SetConsoleCtrlHandler(OnConsoleEvent, TRUE); }
