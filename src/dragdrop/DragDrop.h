// The data-format framework: clipboard formats (one wire format each), data formats (what a
// component reads, fed by the clipboard formats that can serve it) and the process-wide map
// that says which clipboard formats feed which data format, and in which order.
//
// Data errors are Boolean results throughout (the next format is then tried); exceptions mark
// programming errors only. HRESULTs are tested by their sign bit, so S_FALSE is success.
#pragma once
#include <windows.h>
#include <ole2.h>

#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <type_traits>
#include <vector>

#include "Classes.h"

class TClipboardFormat;
class TCustomDataFormat;
class TClipboardFormats;
class TDataFormats;
class TDragDropComponent;

// Programming errors of the drag-and-drop layer; never raised for bad data.
class EDragDropError : public std::logic_error {
 public:
  using std::logic_error::logic_error;
};

// printf-style message for the errors above.
std::string DragDropFormat(const char* Fmt, ...);

// The id of the clipboard format registered under Name, asked of the system once and kept in
// Cache (one per format); 0, a registration that failed, is asked again next time.
CLIPFORMAT RegisteredClipboardFormat(CLIPFORMAT& Cache, const wchar_t* Name);

// Sets: each member is its own bit.
enum TDataDirection : uint8_t { ddRead = 1, ddWrite = 2 };
using TDataDirections = uint8_t;
enum TConversionCapability : uint8_t { ccWriteToDataFormat = 1, ccReadFromDataFormat = 2 };
using TConversionCapabilities = uint8_t;
enum TDragDropTier { ddtSource = 0, ddtTarget = 1 };
enum TDataFormatDirection { dfdConsumer = 0, dfdProvider = 1 };

// ---------------------------------------------------------------------------------------------
// Class references. Registration works with classes, not instances: each class has one
// descriptor object that can make an instance (the virtual constructor), tell whether the
// class inherits from another one, and run the class-level virtual operations.

class TClassInfo {
 public:
  TClassInfo(const char* AName, const TClassInfo* AParent) : FName(AName), FParent(AParent) {}
  virtual ~TClassInfo() = default;
  TClassInfo(const TClassInfo&) = delete;
  TClassInfo& operator=(const TClassInfo&) = delete;
  const char* ClassName() const { return FName; }
  // Every class inherits from itself.
  bool InheritsFrom(const TClassInfo* AClass) const;

 private:
  const char* FName;
  const TClassInfo* FParent;
};

class TDataFormatClassInfo;
using TDataFormatClass = const TDataFormatClassInfo*;

class TClipboardFormatClassInfo : public TClassInfo {
 public:
  using TClassInfo::TClassInfo;
  virtual TClipboardFormat* Create() const = 0;
  virtual void DeclareConversions() const = 0;
  virtual TDataDirections DataDirection() const = 0;
  virtual void RegisterFormat() const { DeclareConversions(); }
  // Removes every map entry whose clipboard-format class inherits from this one.
  void UnregisterClipboardFormat() const;
  void MapDataFormat(TDataFormatClass DataFormatClass, int32_t Priority,
                     TConversionCapabilities Capabilities) const;
  void MapDataFormat(TDataFormatClass DataFormatClass) const;
};
using TClipboardFormatClass = const TClipboardFormatClassInfo*;

class TDataFormatClassInfo : public TClassInfo {
 public:
  using TClassInfo::TClassInfo;
  virtual TCustomDataFormat* Create(TDragDropComponent* AOwner) const = 0;
  virtual void DeclareConversions() const = 0;
  void RegisterDataFormat() const;
  void UnregisterDataFormat() const;
  void MapClipboardFormat(TClipboardFormatClass ClipboardFormatClass, int32_t Priority,
                          TConversionCapabilities Capabilities) const;
};

// The descriptor of clipboard-format class T (parent: Parent's descriptor). T supplies the
// static DeclareConversions and DataDirection; a class that does not inherits its parent's.
template <class T, class Parent>
class TClipboardFormatClassOf final : public TClipboardFormatClassInfo {
 public:
  explicit TClipboardFormatClassOf(const char* AName)
      : TClipboardFormatClassInfo(AName, Parent::StaticClass()) {}
  TClipboardFormat* Create() const override {
    if constexpr (std::is_default_constructible_v<T> && !std::is_abstract_v<T>)
      return new T();
    else
      throw EDragDropError(DragDropFormat("Cannot create an instance of abstract class %s", ClassName()));
  }
  void DeclareConversions() const override { T::DeclareConversions(); }
  TDataDirections DataDirection() const override { return T::DataDirection(); }
};

template <class T, class Parent>
class TDataFormatClassOf final : public TDataFormatClassInfo {
 public:
  explicit TDataFormatClassOf(const char* AName) : TDataFormatClassInfo(AName, Parent::StaticClass()) {}
  TCustomDataFormat* Create(TDragDropComponent* AOwner) const override {
    if constexpr (std::is_constructible_v<T, TDragDropComponent*> && !std::is_abstract_v<T>)
      return new T(AOwner);
    else
      throw EDragDropError(DragDropFormat("Cannot create an instance of abstract class %s", ClassName()));
  }
  void DeclareConversions() const override { T::DeclareConversions(); }
};

// In a class body: the class's descriptor and its run-time class.
#define DRAGDROP_CLIPBOARD_CLASS(T, Parent)                                 \
 public:                                                                    \
  static TClipboardFormatClass StaticClass() {                              \
    static const TClipboardFormatClassOf<T, Parent> Info(#T);               \
    return &Info;                                                           \
  }                                                                         \
  TClipboardFormatClass ClassType() const override { return StaticClass(); }

#define DRAGDROP_DATA_CLASS(T, Parent)                                      \
 public:                                                                    \
  static TDataFormatClass StaticClass() {                                   \
    static const TDataFormatClassOf<T, Parent> Info(#T);                    \
    return &Info;                                                           \
  }                                                                         \
  TDataFormatClass ClassType() const override { return StaticClass(); }

// ---------------------------------------------------------------------------------------------

// One wire format: its id, the media it accepts, how it is asked for, read and parsed.
class TClipboardFormat : public TObject {
 public:
  ~TClipboardFormat() override = default;

  static TClipboardFormatClass StaticClass();
  virtual TClipboardFormatClass ClassType() const;
  const char* ClassName() const { return ClassType()->ClassName(); }

  // Class-level operations (through the descriptor for dispatch by class).
  static void DeclareConversions() {}
  static TDataDirections DataDirection() { return ddRead; }

  virtual bool ReadMedium(IDataObject* ADataObject, const STGMEDIUM& AMedium);
  virtual CLIPFORMAT GetClipboardFormat();
  virtual void PutClipboardFormat(CLIPFORMAT Value);
  virtual std::wstring FetchClipboardFormatName();
  virtual void PutClipboardFormatName(const std::wstring& Value);
  // The media (TYMED bits) the data object says it can deliver this format in.
  virtual DWORD QueryMedia(IDataObject* ADataObject);
  virtual bool HasValidFormats(IDataObject* ADataObject);
  virtual bool AcceptFormat(const FORMATETC& AFormatEtc);
  virtual bool GetData(IDataObject* ADataObject);
  // Reads a medium the data object handed over and releases it, on every path.
  virtual bool GetDataFromMedium(IDataObject* ADataObject, STGMEDIUM& AMedium);
  virtual bool Assign(TCustomDataFormat* Source);
  virtual bool AssignTo(TCustomDataFormat* Dest);
  virtual void Clear() = 0;
  virtual bool HasData() { return true; }

  CLIPFORMAT ClipboardFormat() { return GetClipboardFormat(); }
  std::wstring ClipboardFormatName() { return FetchClipboardFormatName(); }
  const FORMATETC& FormatEtc() const { return FFormatEtc; }
  TCustomDataFormat* DataFormat() const { return FDataFormat; }

 protected:
  TClipboardFormat();
  // Two-step construction: the most derived class calls one of these from its own
  // constructor, where GetClipboardFormat already answers for it.
  void CreateWithMedia(DWORD Media);
  void CreateFromFormatEtc(const FORMATETC& AFormatEtc);
  // The media the data object says it can deliver, all of them or only the first that it can.
  DWORD AskMedia(IDataObject* ADataObject, bool FirstOnly) const;

  TCustomDataFormat* FDataFormat = nullptr;  // the data format whose list holds this one
  FORMATETC FFormatEtc;

  friend class TClipboardFormats;
};

// The clipboard formats that can feed one data format, in the order they are tried.
class TClipboardFormats : public TObject {
 public:
  TClipboardFormats(TCustomDataFormat* ADataFormat, bool AOwnsObjects);
  ~TClipboardFormats() override;

  int Add(TClipboardFormat* ClipboardFormat);
  // Frees the items, last first, when the list owns them; then empties the list.
  void Clear();
  TClipboardFormat* FindFormat(CLIPFORMAT ClipboardFormat) const;
  TClipboardFormat* FindFormat(TClipboardFormatClass ClipboardFormatClass) const;
  TClipboardFormat* GetFormat(CLIPFORMAT ClipboardFormat) const;
  TClipboardFormat* GetFormat(TClipboardFormatClass ClipboardFormatClass) const;
  TClipboardFormat* DoGetFormat(int Index) const { return FList.at(static_cast<size_t>(Index)); }
  TClipboardFormat* operator[](int Index) const { return DoGetFormat(Index); }
  // Copies the item references; the list then no longer owns anything.
  void Assign(const TClipboardFormats& Source);

  int Count() const { return static_cast<int>(FList.size()); }
  TCustomDataFormat* DataFormat() const { return FDataFormat; }
  bool OwnsObjects() const { return FOwnsObjects; }

 private:
  std::vector<TClipboardFormat*> FList;
  bool FOwnsObjects;
  TCustomDataFormat* FDataFormat;
};

// What a component reads (for example the list of dropped files).
class TCustomDataFormat : public TObject {
 public:
  explicit TCustomDataFormat(TDragDropComponent* AOwner);
  ~TCustomDataFormat() override;

  static TDataFormatClass StaticClass();
  virtual TDataFormatClass ClassType() const;
  const char* ClassName() const { return ClassType()->ClassName(); }
  static void DeclareConversions() {}

  // A data format without owner, its compatible list filled from the map at once.
  template <class T>
  static T* CreateForDirection(TDataFormatDirection Direction) {
    T* Format = new T(nullptr);
    Format->FillFromMap(Direction == dfdConsumer ? ddtSource : ddtTarget);
    return Format;
  }

  virtual void NotifyChanging();
  virtual void Clear() = 0;
  virtual bool Assign(TClipboardFormat* Source);
  virtual bool AssignTo(TClipboardFormat* Dest);
  // Tries the compatible formats in order and keeps the first that yields data.
  virtual bool GetData(IDataObject* DataObject);
  virtual bool HasData() = 0;
  virtual bool NeedsData() { return !HasData(); }
  virtual bool HasValidFormats(IDataObject* ADataObject);
  virtual bool AcceptFormat(const FORMATETC& FormatEtc);

  // Built on first read (through the owner) and kept for the data format's life.
  TClipboardFormats& CompatibleFormats();
  TDragDropComponent* Owner() const { return FOwner; }
  TNotifyEvent OnChanging;

 private:
  void FillFromMap(TDragDropTier Tier);

  std::unique_ptr<TClipboardFormats> FCompatibleFormats;
  TDragDropComponent* FOwner;

  friend class TDragDropComponent;
};

// A component's data formats, in creation order. Does not own them.
class TDataFormats : public TObject {
 public:
  ~TDataFormats() override;
  // The existing index when the format is already listed.
  int Add(TCustomDataFormat* DataFormat);
  int IndexOf(const TCustomDataFormat* DataFormat) const;
  void Remove(TCustomDataFormat* DataFormat);
  TCustomDataFormat* GetFormat(int Index) const { return FList.at(static_cast<size_t>(Index)); }
  TCustomDataFormat* operator[](int Index) const { return GetFormat(Index); }
  int Count() const { return static_cast<int>(FList.size()); }

 private:
  std::vector<TCustomDataFormat*> FList;
};

// The data-format classes that were registered (process-wide).
class TDataFormatClasses : public TObject {
 public:
  static TDataFormatClasses& Instance();
  static void DestroyInstance();
  void Add(TDataFormatClass DataFormat);
  void Remove(TDataFormatClass DataFormat);
  TDataFormatClass GetFormat(int Index) const { return FList.at(static_cast<size_t>(Index)); }
  int Count() const { return static_cast<int>(FList.size()); }

 private:
  TDataFormatClasses();
  ~TDataFormatClasses() override;
  std::vector<TDataFormatClass> FList;
};

struct FormatMapEntry {
  TDataFormatClass DataFormatClass;
  TClipboardFormatClass ClipboardFormatClass;
  int32_t Priority;  // lower first
  TConversionCapabilities Capabilities;
};

// Which clipboard-format classes feed which data-format class, in which order (process-wide).
// Invariant: the entries of one data-format class stand together, in ascending priority.
class TDataFormatMap : public TObject {
 public:
  static TDataFormatMap& Instance();
  static void DestroyInstance();

  void Add(TDataFormatClass DataFormatClass, TClipboardFormatClass ClipboardFormatClass,
           int32_t Priority, TConversionCapabilities Capabilities);
  void RegisterFormatMap(TDataFormatClass DataFormatClass, TClipboardFormatClass ClipboardFormatClass,
                         int32_t Priority, TConversionCapabilities Capabilities) {
    Add(DataFormatClass, ClipboardFormatClass, Priority, Capabilities);
  }
  void Delete(TDataFormatClass DataFormatClass, TClipboardFormatClass ClipboardFormatClass);
  void UnregisterFormatMap(TDataFormatClass DataFormatClass, TClipboardFormatClass ClipboardFormatClass) {
    Delete(DataFormatClass, ClipboardFormatClass);
  }
  void DeleteByClipboardFormat(TClipboardFormatClass ClipboardFormatClass);
  void DeleteByDataFormat(TDataFormatClass DataFormatClass);
  bool CanMap(TDataFormatClass DataFormatClass, TClipboardFormatClass ClipboardFormatClass) const;
  // Fills ClipboardFormats with new instances of the clipboard formats that fit the tier.
  static void GetClipboardFormats(TDataFormatClass DataFormatClass, TClipboardFormats& ClipboardFormats,
                                  TDragDropTier Tier);

  int Count() const { return static_cast<int>(FList.size()); }
  const FormatMapEntry& Entry(int Index) const { return *FList.at(static_cast<size_t>(Index)); }

 private:
  TDataFormatMap();
  ~TDataFormatMap() override;
  int Find(TDataFormatClass DataFormatClass, TClipboardFormatClass ClipboardFormatClass) const;
  std::vector<std::unique_ptr<FormatMapEntry>> FList;
};

// ---------------------------------------------------------------------------------------------
// Components.

// A component that is a COM object whose reference counting counts nothing: it lives exactly
// as long as its owner keeps it. Subclasses implement their interfaces and route IUnknown here.
class TInterfacedComponent : public TComponent {
 public:
  explicit TInterfacedComponent(TComponent* AOwner) : TComponent(AOwner) {}
  IUnknown* GetComponentUnknown() override;

 protected:
  HRESULT InterfaceQuery(REFIID riid, void** ppvObject);
  ULONG InterfaceAddRef();
  ULONG InterfaceRelease();
  // The interface pointer for riid, or null; IID_IUnknown must answer too.
  virtual void* GetInterface(REFIID riid) { (void)riid; return nullptr; }
};

class TDragDropComponent : public TInterfacedComponent {
 public:
  explicit TDragDropComponent(TComponent* AOwner);
  ~TDragDropComponent() override;

  // The clipboard formats this component can use for a data-format class. The base only
  // empties the list.
  virtual void GetCompatibleClipboardFormats(TDataFormatClass DataFormatClass,
                                             TClipboardFormats& ClipboardFormats);
  TDataFormats& DataFormats() { return *FDataFormats; }

 protected:
  std::unique_ptr<TDataFormats> FDataFormats;
};

// ---------------------------------------------------------------------------------------------
// Start-up and shut-down, run once each by the program's start-up sequence.

// OLE for the calling (GUI) thread. True when OLE is usable.
bool DragDropInitialize();
// Destroys the format map and the class list; uninitialises OLE when DragDropInitialize did
// initialise it.
void DragDropFinalize();
bool ShuttingDown();
