#include "DragDropFormats.h"

#include <algorithm>
#include <vector>

#include "DropParsers.h"

namespace {

class TGlobalLock {
 public:
  explicit TGlobalLock(HGLOBAL Block) : FBlock(Block), FData(Block ? GlobalLock(Block) : nullptr) {}
  ~TGlobalLock() {
    if (FData) GlobalUnlock(FBlock);
  }
  TGlobalLock(const TGlobalLock&) = delete;
  TGlobalLock& operator=(const TGlobalLock&) = delete;
  uint8_t* Data() const { return static_cast<uint8_t*>(FData); }

 private:
  HGLOBAL FBlock;
  void* FData;
};

class TGlobalBlock {
 public:
  TGlobalBlock(UINT Flags, SIZE_T Size) : FBlock(GlobalAlloc(Flags, Size)) {}
  ~TGlobalBlock() {
    if (FBlock) GlobalFree(FBlock);
  }
  TGlobalBlock(const TGlobalBlock&) = delete;
  TGlobalBlock& operator=(const TGlobalBlock&) = delete;
  HGLOBAL Get() const { return FBlock; }

 private:
  HGLOBAL FBlock;
};

}  // namespace

bool TCustomSimpleClipboardFormat::ReadMedium(IDataObject* ADataObject, const STGMEDIUM& AMedium) {
  int32_t size;
  if (AMedium.tymed == TYMED_HGLOBAL) {
    size = static_cast<int32_t>(static_cast<uint32_t>(GlobalSize(AMedium.hGlobal)));
  } else if (AMedium.tymed == TYMED_ISTREAM) {
    STATSTG stat;
    ZeroMemory(&stat, sizeof stat);
    if (!AMedium.pstm || FAILED(AMedium.pstm->Stat(&stat, STATFLAG_NONAME))) return false;
    size = static_cast<int32_t>(stat.cbSize.LowPart);
  } else {
    return false;
  }
  if (size <= 0) return true;  // nothing to read, and nothing wrong
  return ReadSized(ADataObject, AMedium, size);
}

bool TCustomSimpleClipboardFormat::ReadSized(IDataObject*, const STGMEDIUM& AMedium, int32_t Size) {
  if (Size <= 0) return false;
  if (AMedium.tymed == TYMED_HGLOBAL) {
    // Never past the block, whatever size the caller passed.
    if (static_cast<SIZE_T>(Size) > GlobalSize(AMedium.hGlobal)) return false;
    TGlobalLock lock(AMedium.hGlobal);
    if (!lock.Data()) return false;
    return LoadBytes(lock.Data(), Size);
  }
  if (AMedium.tymed != TYMED_ISTREAM || !AMedium.pstm) return false;

  // Filled as the stream delivers, and only what it delivered is parsed: a stream whose size
  // says more than it holds costs what it holds, not what it claims.
  constexpr size_t kUpFront = 64u * 1024 * 1024;
  std::vector<uint8_t> buffer;
  buffer.reserve(std::min(static_cast<size_t>(Size), kUpFront));
  LARGE_INTEGER zero;
  zero.QuadPart = 0;
  AMedium.pstm->Seek(zero, STREAM_SEEK_SET, nullptr);
  TGlobalBlock transfer(GMEM_MOVEABLE | GMEM_ZEROINIT, kStreamTransferSize);
  if (!transfer.Get()) return false;
  TGlobalLock lock(transfer.Get());
  if (!lock.Data()) return false;
  int32_t remaining = Size;
  bool ok = true;
  while (ok && remaining > 0) {
    const ULONG chunk = std::min<ULONG>(static_cast<ULONG>(remaining), kStreamTransferSize);
    ULONG got = 0;
    ok = SUCCEEDED(AMedium.pstm->Read(lock.Data(), chunk, &got));
    if (!ok || got == 0) break;
    if (got > chunk) {  // a stream that claims more than it was asked for is not believed
      ok = false;
      break;
    }
    buffer.insert(buffer.end(), lock.Data(), lock.Data() + got);
    remaining -= static_cast<int32_t>(got);
  }
  return ok && LoadBytes(buffer.data(), static_cast<int32_t>(buffer.size()));
}

bool TCustomAnsiStringClipboardFormat::LoadBytes(const uint8_t* Buffer, int32_t Size) {
  FData = dropparsers::ParseAnsiFilename(Buffer, Size > 0 ? static_cast<size_t>(Size) : 0, FTrimZeroes);
  return true;
}
