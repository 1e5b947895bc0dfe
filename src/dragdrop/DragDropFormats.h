// Clipboard formats whose content travels as one byte buffer, read from global memory in place
// or from a stream through one 1 MiB transfer block.
#pragma once
#include <string>

#include "DragDrop.h"

// Chunk size of stream reads, and the size of the one transfer block they go through.
constexpr ULONG kStreamTransferSize = 1024 * 1024;

class TCustomSimpleClipboardFormat : public TClipboardFormat {
  DRAGDROP_CLIPBOARD_CLASS(TCustomSimpleClipboardFormat, TClipboardFormat)
 public:
  static constexpr DWORD kMedia = TYMED_HGLOBAL | TYMED_ISTREAM;

  bool ReadMedium(IDataObject* ADataObject, const STGMEDIUM& AMedium) override;
  // Reads Size bytes of the medium and hands them to LoadBytes.
  virtual bool ReadSized(IDataObject* ADataObject, const STGMEDIUM& AMedium, int32_t Size);
  // Parses the bytes into the content. Size is what a global block reports (it may be larger
  // than what its producer wrote), or what a stream delivered.
  virtual bool LoadBytes(const uint8_t* Buffer, int32_t Size) = 0;

 protected:
  TCustomSimpleClipboardFormat() = default;
};

// Content: one 8-bit string.
class TCustomAnsiStringClipboardFormat : public TCustomSimpleClipboardFormat {
  DRAGDROP_CLIPBOARD_CLASS(TCustomAnsiStringClipboardFormat, TCustomSimpleClipboardFormat)
 public:
  void Clear() override { FData.clear(); }
  bool HasData() override { return !FData.empty(); }
  bool LoadBytes(const uint8_t* Buffer, int32_t Size) override;
  bool TrimZeroes() const { return FTrimZeroes; }
  void SetTrimZeroes(bool Value) { FTrimZeroes = Value; }

 protected:
  TCustomAnsiStringClipboardFormat() = default;
  std::string FData;
  bool FTrimZeroes = false;
};
