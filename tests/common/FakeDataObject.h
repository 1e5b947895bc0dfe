// A drag source's data object under the tests' control: it offers formats in global memory, as a
// stream or as a storage, answers QueryGetData as told, can hand over another kind of medium
// than was asked for, and counts every medium it hands out and every release of one.
#pragma once
#include <windows.h>
#include <ole2.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#if __has_include(<gtest/gtest.h>)
#include <gtest/gtest.h>
#define BANDWEAVE_FAKE_FAIL(What) ADD_FAILURE() << "unexpected call: " << (What)
#else
// The drag source's own process has no test framework; its parent test checks the outcome.
#define BANDWEAVE_FAKE_FAIL(What) (void)(What)
#endif

namespace fake {

using Bytes = std::vector<uint8_t>;

// A call the code under test has no business making: the test fails, and the call is
// answered as not implemented.
inline HRESULT Unexpected(const char* What) {
  BANDWEAVE_FAKE_FAIL(What);
  return E_NOTIMPL;
}

// Released once per medium handed out: ReleaseStgMedium calls it for every kind of medium, and
// for global memory it also means the block stays ours (freed by the data object).
class ReleaseCounter final : public IUnknown {
 public:
  explicit ReleaseCounter(int* Releases) : FReleases(Releases) {}
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
    if (riid == IID_IUnknown) {
      *ppv = this;
      AddRef();
      return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++FRefs; }
  ULONG STDMETHODCALLTYPE Release() override {
    const ULONG n = --FRefs;
    if (n == 0) {
      ++*FReleases;
      delete this;
    }
    return n;
  }

 private:
  ULONG FRefs = 1;
  int* FReleases;
};

class FormatEnumerator final : public IEnumFORMATETC {
 public:
  explicit FormatEnumerator(std::vector<FORMATETC> Formats, HRESULT ResetResult = S_OK)
      : FFormats(std::move(Formats)), FResetResult(ResetResult) {}
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
    if (riid == IID_IUnknown || riid == IID_IEnumFORMATETC) {
      *ppv = this;
      AddRef();
      return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++FRefs; }
  ULONG STDMETHODCALLTYPE Release() override {
    const ULONG n = --FRefs;
    if (n == 0) delete this;
    return n;
  }
  HRESULT STDMETHODCALLTYPE Next(ULONG celt, FORMATETC* rgelt, ULONG* fetched) override {
    ULONG n = 0;
    while (n < celt && FPos < FFormats.size()) rgelt[n++] = FFormats[FPos++];
    if (fetched) *fetched = n;
    return n == celt ? S_OK : S_FALSE;
  }
  HRESULT STDMETHODCALLTYPE Skip(ULONG celt) override {
    FPos += celt;
    return FPos <= FFormats.size() ? S_OK : S_FALSE;
  }
  HRESULT STDMETHODCALLTYPE Reset() override {
    FPos = 0;
    return FResetResult;
  }
  HRESULT STDMETHODCALLTYPE Clone(IEnumFORMATETC** out) override {
    *out = new FormatEnumerator(FFormats, FResetResult);
    return S_OK;
  }

 private:
  ULONG FRefs = 1;
  std::vector<FORMATETC> FFormats;
  size_t FPos = 0;
  HRESULT FResetResult;
};

struct Offer {
  Bytes Data;
  DWORD Media = TYMED_HGLOBAL;    // the media QueryGetData answers for
  DWORD HandOver = 0;             // kind of medium GetData hands out; 0: the one asked for
  HRESULT QueryAnswer = S_OK;     // answer for a medium that is offered
  size_t BlockSize = 0;           // global block larger than the data (zero-filled tail)
  size_t StreamReportedSize = 0;  // Stat size of a stream, when not the data's size
};

class DataObject : public IDataObject {
 public:
  DataObject() = default;
  virtual ~DataObject() {
    for (HGLOBAL h : FBlocks) GlobalFree(h);
  }

  void Add(CLIPFORMAT Format, Offer O) {
    FOrder.push_back(Format);
    FOffers[Format] = std::move(O);
  }
  void AddGlobal(CLIPFORMAT Format, const Bytes& Data) { Add(Format, Offer{Data, TYMED_HGLOBAL}); }
  void AddStream(CLIPFORMAT Format, const Bytes& Data) { Add(Format, Offer{Data, TYMED_ISTREAM}); }

  // Counters.
  int MediaHandedOut = 0;
  int MediaReleased = 0;
  std::vector<CLIPFORMAT> GetDataCalls;
  std::vector<std::pair<CLIPFORMAT, DWORD>> QueryCalls;
  int StreamReads = 0;
  std::vector<ULONG> StreamReadSizes;
  // SetData: the answer, and what arrived.
  HRESULT SetDataAnswer = S_OK;
  std::map<CLIPFORMAT, Bytes> Received;
  std::map<CLIPFORMAT, DWORD> ReceivedMedium;
  int SetDataCalls = 0;
  FORMATETC ReceivedFormat{};
  IStream* RefusedStream = nullptr;  // one reference, the test's
  HRESULT EnumAnswer = S_OK;
  HRESULT EnumResetAnswer = S_OK;
  // Success codes other than S_OK that GetData and a stream's Stat answer with.
  HRESULT GetDataSuccess = S_OK;
  HRESULT StatSuccess = S_OK;

  ULONG RefCount() const { return FRefs; }

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
    if (riid == IID_IUnknown || riid == IID_IDataObject) {
      *ppv = static_cast<IDataObject*>(this);
      AddRef();
      return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++FRefs; }
  // Lives on the test's stack: the count only tells the test whether references balance.
  ULONG STDMETHODCALLTYPE Release() override { return --FRefs; }

  HRESULT STDMETHODCALLTYPE GetData(FORMATETC* f, STGMEDIUM* m) override {
    GetDataCalls.push_back(f->cfFormat);
    ZeroMemory(m, sizeof *m);
    auto it = FOffers.find(f->cfFormat);
    if (it == FOffers.end()) return DV_E_FORMATETC;
    const Offer& o = it->second;
    DWORD kind = o.HandOver;
    if (!kind) {
      if (f->tymed & o.Media & TYMED_HGLOBAL)
        kind = TYMED_HGLOBAL;
      else if (f->tymed & o.Media & TYMED_ISTREAM)
        kind = TYMED_ISTREAM;
      else if (f->tymed & o.Media & TYMED_ISTORAGE)
        kind = TYMED_ISTORAGE;
      else
        return DV_E_TYMED;
    }
    if (!Fill(o, kind, m)) return E_OUTOFMEMORY;
    ++MediaHandedOut;
    m->pUnkForRelease = new ReleaseCounter(&MediaReleased);
    return GetDataSuccess;
  }
  HRESULT STDMETHODCALLTYPE GetDataHere(FORMATETC*, STGMEDIUM*) override { return Unexpected("GetDataHere"); }
  HRESULT STDMETHODCALLTYPE QueryGetData(FORMATETC* f) override {
    QueryCalls.push_back({f->cfFormat, f->tymed});
    auto it = FOffers.find(f->cfFormat);
    if (it == FOffers.end()) return DV_E_FORMATETC;
    if (!(f->tymed & it->second.Media)) return DV_E_TYMED;
    return it->second.QueryAnswer;
  }
  HRESULT STDMETHODCALLTYPE GetCanonicalFormatEtc(FORMATETC*, FORMATETC* out) override {
    out->ptd = nullptr;
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE SetData(FORMATETC* f, STGMEDIUM* m, BOOL release) override {
    ++SetDataCalls;
    ReceivedFormat = *f;
    if (FAILED(SetDataAnswer)) {
      // Refused: the medium stays the caller's. Keep a reference so that the test can see
      // whether the caller released it.
      if (m->tymed == TYMED_ISTREAM && m->pstm && !RefusedStream) {
        RefusedStream = m->pstm;
        RefusedStream->AddRef();
      }
      return SetDataAnswer;
    }
    ReceivedMedium[f->cfFormat] = m->tymed;
    Bytes& got = Received[f->cfFormat];
    got.clear();
    if (m->tymed == TYMED_HGLOBAL) {
      const SIZE_T n = GlobalSize(m->hGlobal);
      const uint8_t* p = static_cast<const uint8_t*>(GlobalLock(m->hGlobal));
      got.assign(p, p + n);
      GlobalUnlock(m->hGlobal);
    } else if (m->tymed == TYMED_ISTREAM) {
      LARGE_INTEGER zero{};
      m->pstm->Seek(zero, STREAM_SEEK_SET, nullptr);
      uint8_t buf[256];
      ULONG n = 0;
      while (SUCCEEDED(m->pstm->Read(buf, sizeof buf, &n)) && n > 0) got.insert(got.end(), buf, buf + n);
    }
    if (release) ReleaseStgMedium(m);
    return SetDataAnswer;
  }
  HRESULT STDMETHODCALLTYPE EnumFormatEtc(DWORD dir, IEnumFORMATETC** out) override {
    *out = nullptr;
    if (dir != DATADIR_GET) return Unexpected("EnumFormatEtc(DATADIR_SET)");
    if (FAILED(EnumAnswer)) return EnumAnswer;
    std::vector<FORMATETC> formats;
    for (CLIPFORMAT cf : FOrder) formats.push_back({cf, nullptr, DVASPECT_CONTENT, -1, FOffers[cf].Media});
    *out = new FormatEnumerator(formats, EnumResetAnswer);
    return EnumAnswer;
  }
  HRESULT STDMETHODCALLTYPE DAdvise(FORMATETC*, DWORD, IAdviseSink*, DWORD*) override {
    return OLE_E_ADVISENOTSUPPORTED;
  }
  HRESULT STDMETHODCALLTYPE DUnadvise(DWORD) override { return OLE_E_ADVISENOTSUPPORTED; }
  HRESULT STDMETHODCALLTYPE EnumDAdvise(IEnumSTATDATA**) override { return OLE_E_ADVISENOTSUPPORTED; }

 private:
  // A stream that counts its reads and may report another size than it holds.
  bool Fill(const Offer& o, DWORD kind, STGMEDIUM* m) {
    m->tymed = kind;
    if (kind == TYMED_HGLOBAL) {
      const size_t size = std::max(o.Data.size(), o.BlockSize);
      HGLOBAL h = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, size ? size : 1);
      if (!h) return false;
      if (!o.Data.empty()) {
        std::memcpy(GlobalLock(h), o.Data.data(), o.Data.size());
        GlobalUnlock(h);
      }
      FBlocks.push_back(h);  // pUnkForRelease set: ReleaseStgMedium leaves the block to us
      m->hGlobal = h;
      return true;
    }
    if (kind == TYMED_ISTREAM) {
      m->pstm = new CountingStream(o.Data, o.StreamReportedSize ? o.StreamReportedSize : o.Data.size(), this);
      return true;
    }
    if (kind == TYMED_ISTORAGE) {
      ILockBytes* bytes = nullptr;
      if (FAILED(CreateILockBytesOnHGlobal(nullptr, TRUE, &bytes))) return false;
      HRESULT hr = StgCreateDocfileOnILockBytes(
          bytes, STGM_CREATE | STGM_READWRITE | STGM_SHARE_EXCLUSIVE, 0, &m->pstg);
      bytes->Release();
      return SUCCEEDED(hr);
    }
    return false;
  }

  class CountingStream final : public IStream {
   public:
    CountingStream(Bytes Data, size_t Reported, DataObject* Owner)
        : FData(std::move(Data)), FReported(Reported), FOwner(Owner) {}
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
      if (riid == IID_IUnknown || riid == IID_IStream || riid == IID_ISequentialStream) {
        *ppv = static_cast<IStream*>(this);
        AddRef();
        return S_OK;
      }
      *ppv = nullptr;
      return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++FRefs; }
    ULONG STDMETHODCALLTYPE Release() override {
      const ULONG n = --FRefs;
      if (n == 0) delete this;
      return n;
    }
    HRESULT STDMETHODCALLTYPE Read(void* pv, ULONG cb, ULONG* read) override {
      ++FOwner->StreamReads;
      FOwner->StreamReadSizes.push_back(cb);
      const size_t n = std::min<size_t>(cb, FData.size() - std::min(FPos, FData.size()));
      if (n) std::memcpy(pv, FData.data() + FPos, n);
      FPos += n;
      if (read) *read = static_cast<ULONG>(n);
      return n == cb ? S_OK : S_FALSE;
    }
    HRESULT STDMETHODCALLTYPE Write(const void*, ULONG, ULONG*) override {
      Unexpected("Write");
      return STG_E_ACCESSDENIED;
    }
    HRESULT STDMETHODCALLTYPE Seek(LARGE_INTEGER move, DWORD origin, ULARGE_INTEGER* pos) override {
      if (origin != STREAM_SEEK_SET) return Unexpected("Seek from elsewhere than the start");
      FPos = static_cast<size_t>(move.QuadPart);
      if (pos) pos->QuadPart = FPos;
      return S_OK;
    }
    HRESULT STDMETHODCALLTYPE SetSize(ULARGE_INTEGER) override { return Unexpected("SetSize"); }
    HRESULT STDMETHODCALLTYPE CopyTo(IStream*, ULARGE_INTEGER, ULARGE_INTEGER*, ULARGE_INTEGER*) override {
      return Unexpected("CopyTo");
    }
    HRESULT STDMETHODCALLTYPE Commit(DWORD) override { return Unexpected("Commit"); }
    HRESULT STDMETHODCALLTYPE Revert() override { return Unexpected("Revert"); }
    HRESULT STDMETHODCALLTYPE LockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override {
      return Unexpected("LockRegion");
    }
    HRESULT STDMETHODCALLTYPE UnlockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override {
      return Unexpected("UnlockRegion");
    }
    HRESULT STDMETHODCALLTYPE Stat(STATSTG* s, DWORD) override {
      ZeroMemory(s, sizeof *s);
      s->type = STGTY_STREAM;
      s->cbSize.QuadPart = FReported;
      return FOwner->StatSuccess;
    }
    HRESULT STDMETHODCALLTYPE Clone(IStream**) override { return Unexpected("Clone"); }

   private:
    ULONG FRefs = 1;
    Bytes FData;
    size_t FReported;
    size_t FPos = 0;
    DataObject* FOwner;
  };

  ULONG FRefs = 1;
  std::vector<CLIPFORMAT> FOrder;
  std::map<CLIPFORMAT, Offer> FOffers;
  std::vector<HGLOBAL> FBlocks;
};

// Byte builders for the wire formats.
inline void PutU16(Bytes& b, uint16_t v) {
  b.push_back(static_cast<uint8_t>(v));
  b.push_back(static_cast<uint8_t>(v >> 8));
}
inline void PutU32(Bytes& b, uint32_t v) {
  for (int i = 0; i < 4; ++i) b.push_back(static_cast<uint8_t>(v >> (8 * i)));
}
inline void PutWide(Bytes& b, const std::wstring& s) {
  for (wchar_t c : s) PutU16(b, static_cast<uint16_t>(c));
  PutU16(b, 0);
}

inline Bytes DropFilesWide(const std::vector<std::wstring>& names) {
  Bytes b;
  PutU32(b, 20);
  PutU32(b, 0);
  PutU32(b, 0);
  PutU32(b, 0);
  PutU32(b, 1);
  for (const auto& n : names) PutWide(b, n);
  PutU16(b, 0);
  return b;
}

inline Bytes DropFilesAnsi(const std::vector<std::string>& names) {
  Bytes b;
  PutU32(b, 20);
  PutU32(b, 0);
  PutU32(b, 0);
  PutU32(b, 0);
  PutU32(b, 0);
  for (const auto& n : names) {
    b.insert(b.end(), n.begin(), n.end());
    b.push_back(0);
  }
  b.push_back(0);
  return b;
}

inline Bytes WideNameList(const std::vector<std::wstring>& names) {
  Bytes b;
  for (const auto& n : names) PutWide(b, n);
  PutU16(b, 0);
  return b;
}

inline CLIPFORMAT Registered(const wchar_t* Name) {
  return static_cast<CLIPFORMAT>(RegisterClipboardFormatW(Name));
}

}  // namespace fake
