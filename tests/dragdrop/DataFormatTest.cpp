// The data-format framework and the file-name formats, driven with fake data objects and with
// the shell's own data object for real files.
#include <gtest/gtest.h>

#include <windows.h>
#include <shlobj.h>

#include <filesystem>
#include <fstream>

#include "DragDrop.h"
#include "DragDropFile.h"
#include "DragDropPIDL.h"
#include "FakeDataObject.h"

using fake::Bytes;

namespace {

class DragDropEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    ASSERT_TRUE(DragDropInitialize());
    DragDropFileInitialize();
  }
  void TearDown() override { DragDropFinalize(); }
};
const auto* const gEnvironment = ::testing::AddGlobalTestEnvironment(new DragDropEnvironment);

// A component that reads, as the drop target does.
class TReadingComponent : public TDragDropComponent {
 public:
  TReadingComponent() : TDragDropComponent(nullptr) {}
  void GetCompatibleClipboardFormats(TDataFormatClass DataFormatClass, TClipboardFormats& Formats) override {
    TDataFormatMap::GetClipboardFormats(DataFormatClass, Formats, ddtTarget);
  }
};

std::vector<std::string> ClassNames(TClipboardFormats& formats) {
  std::vector<std::string> names;
  for (int i = 0; i < formats.Count(); ++i) names.push_back(formats[i]->ClassName());
  return names;
}

std::vector<std::wstring> Strings(const TUnicodeStrings& list) {
  std::vector<std::wstring> out;
  for (int i = 0; i < list.Count(); ++i) out.push_back(list[i]);
  return out;
}

// Every medium the data object handed out came back exactly once.
void ExpectAllReleased(const fake::DataObject& d) { EXPECT_EQ(d.MediaReleased, d.MediaHandedOut); }

const CLIPFORMAT kShellIdList = fake::Registered(CFSTR_SHELLIDLIST);
const CLIPFORMAT kFileNameW = fake::Registered(L"FileNameW");
const CLIPFORMAT kFileName = fake::Registered(L"FileName");
const CLIPFORMAT kFileNameMapW = fake::Registered(L"FileNameMapW");
const CLIPFORMAT kFileNameMap = fake::Registered(L"FileNameMap");

// ---------------------------------------------------------------------------------------------
// The map's placement rule, on classes of the test's own.

class TTestData : public TCustomDataFormat {
  DRAGDROP_DATA_CLASS(TTestData, TCustomDataFormat)
 public:
  explicit TTestData(TDragDropComponent* AOwner) : TCustomDataFormat(AOwner) {}
  void Clear() override {}
  bool HasData() override { return false; }
};
class TOtherTestData : public TTestData {
  DRAGDROP_DATA_CLASS(TOtherTestData, TTestData)
 public:
  using TTestData::TTestData;
};

// A format over a registered name of its own, whose content is the bytes it was given.
template <int N>
class TTestClip : public TCustomSimpleClipboardFormat {
  DRAGDROP_CLIPBOARD_CLASS(TTestClip, TCustomSimpleClipboardFormat)
 public:
  TTestClip() { CreateWithMedia(kMedia); }
  CLIPFORMAT GetClipboardFormat() override {
    return fake::Registered((L"Bandweave test format " + std::to_wstring(N)).c_str());
  }
  bool LoadBytes(const uint8_t* Buffer, int32_t Size) override {
    if (ThrowOnLoad) throw std::runtime_error("parser failure");
    Content.assign(Buffer, Buffer + Size);
    return true;
  }
  void Clear() override { Content.clear(); }
  bool HasData() override { return !Content.empty(); }
  Bytes Content;
  bool ThrowOnLoad = false;
};
using C1 = TTestClip<1>;
using C2 = TTestClip<2>;
using C3 = TTestClip<3>;

class FormatMapTest : public ::testing::Test {
 protected:
  void SetUp() override { TDataFormatMap::DestroyInstance(); }
  void TearDown() override {
    TDataFormatMap::DestroyInstance();
    DragDropFileInitialize();
  }
  static std::string Dump() {
    std::string s;
    const TDataFormatMap& map = TDataFormatMap::Instance();
    for (int i = 0; i < map.Count(); ++i) {
      const auto& e = map.Entry(i);
      s += std::string(e.DataFormatClass == TTestData::StaticClass() ? "A" : "B") + ":" +
           std::to_string(e.ClipboardFormatClass == C1::StaticClass()   ? 1
                          : e.ClipboardFormatClass == C2::StaticClass() ? 2
                                                                        : 3) +
           "(" + std::to_string(e.Priority) + ") ";
    }
    return s;
  }
  const TConversionCapabilities both = ccWriteToDataFormat | ccReadFromDataFormat;
};

TEST_F(FormatMapTest, PlacementRule) {
  TDataFormatMap& map = TDataFormatMap::Instance();
  const auto A = TTestData::StaticClass();
  const auto B = TOtherTestData::StaticClass();
  map.Add(A, C1::StaticClass(), 5, both);
  map.Add(B, C1::StaticClass(), 0, both);
  EXPECT_EQ(Dump(), "A:1(5) B:1(0) ");
  // Its class's only entry stands first: still placed by priority, at the start of the run.
  map.Add(A, C2::StaticClass(), 3, both);
  EXPECT_EQ(Dump(), "A:2(3) A:1(5) B:1(0) ");
  // Equal priority: the latest registration goes first.
  map.Add(A, C3::StaticClass(), 3, both);
  EXPECT_EQ(Dump(), "A:3(3) A:2(3) A:1(5) B:1(0) ");
  // Registering a pair again with its own priority keeps its place.
  map.Add(A, C1::StaticClass(), 5, both);
  EXPECT_EQ(Dump(), "A:3(3) A:2(3) A:1(5) B:1(0) ");
  // Without ccReadFromDataFormat the priority stays; the capabilities add up.
  C1::StaticClass()->MapDataFormat(A);
  EXPECT_EQ(Dump(), "A:3(3) A:2(3) A:1(5) B:1(0) ");
  // A new pair without ccReadFromDataFormat has priority 0.
  map.Add(B, C2::StaticClass(), 9, ccWriteToDataFormat);
  EXPECT_EQ(Dump(), "A:3(3) A:2(3) A:1(5) B:2(0) B:1(0) ");
  // A data-format class with no entries yet goes to the end.
  TDataFormatMap::DestroyInstance();
  TDataFormatMap::Instance().Add(A, C3::StaticClass(), 0, both);
  TDataFormatMap::Instance().Add(B, C3::StaticClass(), -7, both);
  EXPECT_EQ(Dump(), "A:3(0) B:3(-7) ");
}

TEST_F(FormatMapTest, LookupAndDeletionFollowInheritance) {
  TDataFormatMap& map = TDataFormatMap::Instance();
  const auto A = TTestData::StaticClass();
  const auto B = TOtherTestData::StaticClass();
  map.Add(A, C1::StaticClass(), 0, both);
  map.Add(B, C2::StaticClass(), 0, both);
  map.Add(B, C3::StaticClass(), 1, both);
  EXPECT_TRUE(map.CanMap(A, C2::StaticClass()));  // B inherits from A
  EXPECT_FALSE(map.CanMap(B, C1::StaticClass()));
  EXPECT_TRUE(map.CanMap(B, TCustomSimpleClipboardFormat::StaticClass()));
  map.Delete(B, C3::StaticClass());
  EXPECT_EQ(Dump(), "A:1(0) B:2(0) ");
  map.DeleteByClipboardFormat(TCustomSimpleClipboardFormat::StaticClass());
  EXPECT_EQ(map.Count(), 0);
  map.Add(A, C1::StaticClass(), 0, both);
  map.Add(B, C2::StaticClass(), 0, both);
  map.DeleteByDataFormat(B);
  EXPECT_EQ(Dump(), "A:1(0) ");
}

TEST_F(FormatMapTest, TierAndProgrammingErrors) {
  const auto A = TTestData::StaticClass();
  TDataFormatMap::Instance().Add(A, C1::StaticClass(), 0, ccReadFromDataFormat);
  TClipboardFormats target(nullptr, true);
  // C1 reads (the base direction), so it fits the target tier whatever its capabilities.
  TDataFormatMap::GetClipboardFormats(A, target, ddtTarget);
  EXPECT_EQ(target.Count(), 1);
  TDataFormatMap::GetClipboardFormats(A, target, ddtSource);
  EXPECT_EQ(target.Count(), 1);
  TDataFormatMap::Instance().Add(A, C2::StaticClass(), 0, ccWriteToDataFormat);
  TDataFormatMap::GetClipboardFormats(A, target, ddtSource);
  // C2 only feeds the data format, and its class cannot write: not for a source.
  EXPECT_EQ(target.Count(), 1);
  EXPECT_EQ(target.FindFormat(C1::StaticClass()), target[0]);
  EXPECT_EQ(target.FindFormat(C2::StaticClass()), nullptr);
  EXPECT_THROW(target.GetFormat(C2::StaticClass()), EDragDropError);
  EXPECT_THROW(target.GetFormat(static_cast<CLIPFORMAT>(1)), EDragDropError);

  EXPECT_THROW(TCustomSimpleClipboardFormat::StaticClass()->Create(), EDragDropError);
  TTestData owner(nullptr);
  EXPECT_THROW(owner.CompatibleFormats(), EDragDropError);  // no owner, no list
  try {
    C1 c;
    c.PutClipboardFormatName(L"x");
    FAIL();
  } catch (const EDragDropError& e) {
    EXPECT_STREQ(e.what(), "TTestClip.ClipboardFormat is read-only");
  }
}

// ---------------------------------------------------------------------------------------------
// The registered file formats.

TEST(FileFormats, CompatibleOrderFollowsTheRegistrations) {
  TReadingComponent owner;
  TFileDataFormat files(&owner);
  TFileMapDataFormat maps(&owner);
  EXPECT_EQ(ClassNames(files.CompatibleFormats()),
            (std::vector<std::string>{"TFileClipboardFormat", "TPIDLClipboardFormat",
                                      "TUnicodeFilenameClipboardFormat", "TAnsiFilenameClipboardFormat"}));
  EXPECT_EQ(ClassNames(maps.CompatibleFormats()),
            (std::vector<std::string>{"TUnicodeFilenameMapClipboardFormat", "TAnsiFilenameMapClipboardFormat"}));
  EXPECT_EQ(owner.DataFormats().Count(), 2);
  EXPECT_EQ(owner.DataFormats()[0], &files);

  // The priorities behind that order.
  std::vector<int> priorities;
  const TDataFormatMap& map = TDataFormatMap::Instance();
  for (int i = 0; i < map.Count(); ++i)
    if (map.Entry(i).DataFormatClass == TFileDataFormat::StaticClass()) priorities.push_back(map.Entry(i).Priority);
  EXPECT_EQ(priorities, (std::vector<int>{0, 1, 2, 3}));

  // Formats built at another time hold instances of their own; the owner-less form agrees.
  TFileDataFormat later(&owner);
  EXPECT_NE(later.CompatibleFormats()[0], files.CompatibleFormats()[0]);
  EXPECT_EQ(later.CompatibleFormats()[0]->DataFormat(), &later);
  std::unique_ptr<TFileDataFormat> free(TCustomDataFormat::CreateForDirection<TFileDataFormat>(dfdProvider));
  EXPECT_EQ(ClassNames(free->CompatibleFormats()), ClassNames(files.CompatibleFormats()));
  EXPECT_EQ(files.CompatibleFormats()[0]->ClipboardFormat(), CF_HDROP);
  EXPECT_EQ(files.CompatibleFormats()[1]->ClipboardFormatName(), L"Shell IDList Array");
}

TEST(FileFormats, AcceptFormatAndAvailability) {
  TReadingComponent owner;
  TFileDataFormat files(&owner);
  FORMATETC f{CF_HDROP, nullptr, DVASPECT_CONTENT, 7, TYMED_HGLOBAL};
  EXPECT_TRUE(files.AcceptFormat(f));  // lindex is not compared
  f.tymed = TYMED_ISTORAGE;
  EXPECT_FALSE(files.AcceptFormat(f));
  f.tymed = TYMED_ISTREAM | TYMED_ISTORAGE;
  EXPECT_TRUE(files.AcceptFormat(f));
  DVTARGETDEVICE device{};
  f.ptd = &device;
  EXPECT_FALSE(files.AcceptFormat(f));
  f.ptd = nullptr;
  f.dwAspect = DVASPECT_ICON;
  EXPECT_FALSE(files.AcceptFormat(f));
  f = {CF_UNICODETEXT, nullptr, DVASPECT_CONTENT, -1, TYMED_HGLOBAL};
  EXPECT_FALSE(files.AcceptFormat(f));

  // S_FALSE counts as able to deliver; a failure for both media does not.
  fake::DataObject d;
  d.Add(CF_HDROP, {fake::DropFilesWide({L"C:\\a"}), TYMED_HGLOBAL, 0, S_FALSE});
  EXPECT_TRUE(files.HasValidFormats(&d));
  fake::DataObject none;
  none.Add(CF_HDROP, {fake::DropFilesWide({L"C:\\a"}), TYMED_HGLOBAL, 0, DV_E_FORMATETC});
  EXPECT_FALSE(files.HasValidFormats(&none));
  // Asked medium by medium: global memory first, then stream.
  ASSERT_GE(none.QueryCalls.size(), 2u);
  EXPECT_EQ(none.QueryCalls[0], std::make_pair(CLIPFORMAT(CF_HDROP), DWORD(TYMED_HGLOBAL)));
  EXPECT_EQ(none.QueryCalls[1], std::make_pair(CLIPFORMAT(CF_HDROP), DWORD(TYMED_ISTREAM)));
  EXPECT_TRUE(none.GetDataCalls.empty());
}

TEST(FileFormats, DropFilesNamesInOrder) {
  TReadingComponent owner;
  TFileDataFormat files(&owner);
  fake::DataObject d;
  d.AddGlobal(CF_HDROP, fake::DropFilesWide({L"D:\\a.jp2", L"D:\\a.jp2", L"E:\\b.jp2", L"\u4E00\\c.jp2"}));
  ASSERT_TRUE(files.GetData(&d));
  EXPECT_EQ(Strings(files.Files()),
            (std::vector<std::wstring>{L"D:\\a.jp2", L"D:\\a.jp2", L"E:\\b.jp2", L"\u4E00\\c.jp2"}));
  EXPECT_EQ(files.Files().IndexOf(L"D:\\a.jp2"), 1);  // the later duplicate
  EXPECT_EQ(files.Files().IndexOf(L"d:\\a.jp2"), -1);
  ExpectAllReleased(d);

  // Already holding names: nothing is asked of the data object.
  fake::DataObject again;
  again.AddGlobal(CF_HDROP, fake::DropFilesWide({L"X:\\x"}));
  EXPECT_FALSE(files.GetData(&again));
  EXPECT_TRUE(again.GetDataCalls.empty());
  EXPECT_TRUE(again.QueryCalls.empty());
}

TEST(FileFormats, AnsiNamesComeFromTheCodePage) {
  TReadingComponent owner;
  TFileDataFormat files(&owner);
  fake::DataObject d;
  d.AddGlobal(CF_HDROP, fake::DropFilesAnsi({"C:\\caf\xe9.jp2", "C:\\b.jp2"}));
  ASSERT_TRUE(files.GetData(&d));
  ASSERT_EQ(files.Files().Count(), 2);
  if (GetACP() == 1252) {
    EXPECT_EQ(files.Files()[0], L"C:\\caf\u00e9.jp2");
  }
  EXPECT_EQ(files.Files()[1], L"C:\\b.jp2");
}

TEST(FileFormats, ShortOrEmptyDropFilesFallsThrough) {
  TReadingComponent owner;
  TFileDataFormat files(&owner);
  Bytes header = fake::DropFilesWide({});
  header.resize(20);
  Bytes name;
  fake::PutWide(name, L"C:\\from FileNameW.jp2");
  fake::DataObject d;
  d.AddGlobal(CF_HDROP, header);
  d.AddGlobal(kFileNameW, name);
  ASSERT_TRUE(files.GetData(&d));
  EXPECT_EQ(files.Files()[0], std::wstring(L"C:\\from FileNameW.jp2") + L'\0');
  // Every format is asked in turn, even one the data object never claimed to have.
  EXPECT_EQ(d.GetDataCalls, (std::vector<CLIPFORMAT>{CF_HDROP, kShellIdList, kFileNameW}));
  ExpectAllReleased(d);

  // A list offset past the end and an empty first name give no names either.
  for (uint32_t offset : {200u, 22u}) {
    Bytes block = fake::DropFilesWide({});
    block[0] = static_cast<uint8_t>(offset);
    fake::DataObject e;
    e.AddGlobal(CF_HDROP, block);
    files.Clear();
    EXPECT_FALSE(files.GetData(&e)) << offset;
    EXPECT_EQ(files.Files().Count(), 0);
  }
}

TEST(FileFormats, SingleNameFormats) {
  TReadingComponent owner;
  TFileDataFormat files(&owner);
  {  // "FileNameW" in a larger, zero-filled block keeps its terminator and tail.
    Bytes name;
    fake::PutWide(name, L"C:\\t.jp2");
    fake::DataObject d;
    d.Add(kFileNameW, {name, TYMED_HGLOBAL, 0, S_OK, 64});
    ASSERT_TRUE(files.GetData(&d));
    std::wstring expected = L"C:\\t.jp2";
    expected.resize(32, L'\0');
    EXPECT_EQ(files.Files()[0], expected);
  }
  {  // "FileName": the bytes before the first zero.
    files.Clear();
    const std::string raw("C:\\n.jp2\0junk", 13);
    fake::DataObject d;
    d.AddGlobal(kFileName, Bytes(raw.begin(), raw.end()));
    ASSERT_TRUE(files.GetData(&d));
    EXPECT_EQ(Strings(files.Files()), std::vector<std::wstring>{L"C:\\n.jp2"});
  }
  {  // Empty names: nothing, whatever is offered.
    files.Clear();
    fake::DataObject d;
    d.AddGlobal(kFileNameW, Bytes{'C'});
    d.AddGlobal(kFileName, Bytes{0, 'C', 0});
    EXPECT_FALSE(files.GetData(&d));
    EXPECT_EQ(files.Files().Count(), 0);
    ExpectAllReleased(d);
  }
}

TEST(FileFormats, MappedNamesPreferTheWideList) {
  TReadingComponent owner;
  TFileMapDataFormat maps(&owner);
  const std::string narrow("a.jp2\0b.jp2\0\0", 13);
  {
    fake::DataObject d;
    d.AddGlobal(kFileNameMap, Bytes(narrow.begin(), narrow.end()));
    d.AddGlobal(kFileNameMapW, fake::WideNameList({L"w1.jp2", L"w2.jp2"}));
    ASSERT_TRUE(maps.GetData(&d));
    EXPECT_EQ(Strings(maps.FileMaps()), (std::vector<std::wstring>{L"w1.jp2", L"w2.jp2"}));
    EXPECT_EQ(d.GetDataCalls, std::vector<CLIPFORMAT>{kFileNameMapW});
  }
  {
    maps.Clear();
    fake::DataObject d;
    d.AddGlobal(kFileNameMap, Bytes(narrow.begin(), narrow.end()));
    ASSERT_TRUE(maps.GetData(&d));
    EXPECT_EQ(Strings(maps.FileMaps()), (std::vector<std::wstring>{L"a.jp2", L"b.jp2"}));
  }
}

// ---------------------------------------------------------------------------------------------
// Media.

Bytes BigNameList(size_t size) {
  Bytes b;
  for (int i = 0; b.size() + 600 < size; ++i) fake::PutWide(b, L"C:\\" + std::wstring(250, L'a' + i % 26));
  b.resize(size, 0);
  return b;
}

TEST(Media, StreamIsReadInMegabyteChunksLikeGlobalMemory) {
  const Bytes list = BigNameList(3 * 1024 * 1024);
  TReadingComponent owner;
  TFileMapDataFormat fromGlobal(&owner);
  TFileMapDataFormat fromStream(&owner);
  fake::DataObject g;
  g.AddGlobal(kFileNameMapW, list);
  fake::DataObject s;
  s.AddStream(kFileNameMapW, list);
  ASSERT_TRUE(fromGlobal.GetData(&g));
  ASSERT_TRUE(fromStream.GetData(&s));
  EXPECT_GT(fromGlobal.FileMaps().Count(), 5000);
  EXPECT_EQ(Strings(fromStream.FileMaps()), Strings(fromGlobal.FileMaps()));
  EXPECT_EQ(s.StreamReadSizes, (std::vector<ULONG>{1048576, 1048576, 1048576}));
  ExpectAllReleased(g);
  ExpectAllReleased(s);
}

TEST(Media, ShortStreamsAndEmptyMedia) {
  TReadingComponent owner;
  TFileMapDataFormat maps(&owner);
  // A stream that holds less than it reports: what it delivered is parsed.
  fake::DataObject shortStream;
  shortStream.Add(kFileNameMapW, {fake::WideNameList({L"x"}), TYMED_ISTREAM, 0, S_OK, 0, 4096});
  ASSERT_TRUE(maps.GetData(&shortStream));
  EXPECT_EQ(Strings(maps.FileMaps()), std::vector<std::wstring>{L"x"});
  // ...also when it claims almost 2 GiB: the name alone, not a string of the claimed size.
  TFileDataFormat files(&owner);
  Bytes name;
  fake::PutWide(name, L"C:\\s_B04.jp2");
  fake::DataObject liar;
  liar.Add(kFileNameW, {name, TYMED_ISTREAM, 0, S_OK, 0, 0x7FFFFFF0});
  ASSERT_TRUE(files.GetData(&liar));
  EXPECT_EQ(Strings(files.Files()), std::vector<std::wstring>{std::wstring(L"C:\\s_B04.jp2") + L'\0'});
  EXPECT_EQ(liar.StreamReads, 2);
  ExpectAllReleased(liar);

  // A stream of size 0 yields nothing and the next format is tried.
  maps.Clear();
  const std::string narrow("n.jp2\0\0", 7);
  fake::DataObject empty;
  empty.AddStream(kFileNameMapW, {});
  empty.AddGlobal(kFileNameMap, Bytes(narrow.begin(), narrow.end()));
  ASSERT_TRUE(maps.GetData(&empty));
  EXPECT_EQ(Strings(maps.FileMaps()), std::vector<std::wstring>{L"n.jp2"});
  EXPECT_EQ(empty.StreamReads, 0);
  ExpectAllReleased(empty);
}

TEST(Media, FalseIsSuccessAtEveryStep) {
  // QueryGetData, GetData, Stat and the short Read all answer S_FALSE.
  TReadingComponent owner;
  TFileDataFormat files(&owner);
  const Bytes block = fake::DropFilesWide({L"C:\\f_B02.jp2"});
  fake::DataObject d;
  d.Add(CF_HDROP, {block, TYMED_ISTREAM, 0, S_FALSE, 0, block.size() + 64});
  d.GetDataSuccess = S_FALSE;
  d.StatSuccess = S_FALSE;
  EXPECT_TRUE(files.HasValidFormats(&d));
  ASSERT_TRUE(files.GetData(&d));
  EXPECT_EQ(Strings(files.Files()), std::vector<std::wstring>{L"C:\\f_B02.jp2"});
  EXPECT_EQ(d.GetDataCalls, std::vector<CLIPFORMAT>{CF_HDROP});
  ExpectAllReleased(d);
}

TEST(Media, WrongKindOfMedium) {
  TReadingComponent owner;
  TFileDataFormat files(&owner);
  // Only global memory queried successfully, a stream handed over: read as a stream.
  fake::DataObject d;
  d.Add(CF_HDROP, {fake::DropFilesWide({L"C:\\s.jp2"}), TYMED_HGLOBAL, TYMED_ISTREAM});
  ASSERT_TRUE(files.GetData(&d));
  EXPECT_EQ(Strings(files.Files()), std::vector<std::wstring>{L"C:\\s.jp2"});
  EXPECT_GT(d.StreamReads, 0);

  // A storage yields nothing and is released.
  files.Clear();
  fake::DataObject st;
  st.Add(CF_HDROP, {fake::DropFilesWide({L"C:\\s.jp2"}), TYMED_HGLOBAL, TYMED_ISTORAGE});
  EXPECT_FALSE(files.GetData(&st));
  EXPECT_EQ(st.MediaHandedOut, 1);
  ExpectAllReleased(st);
}

TEST(Media, ReleasedWhenParsingThrows) {
  C1 format;
  fake::DataObject d;
  d.AddGlobal(format.ClipboardFormat(), Bytes{1, 2, 3});
  format.ThrowOnLoad = true;
  EXPECT_THROW(format.GetData(&d), std::runtime_error);
  EXPECT_EQ(d.MediaHandedOut, 1);
  ExpectAllReleased(d);
  format.ThrowOnLoad = false;
  d.AddStream(format.ClipboardFormat(), Bytes{4, 5});
  ASSERT_TRUE(format.GetData(&d));
  EXPECT_EQ(format.Content, (Bytes{4, 5}));
  ExpectAllReleased(d);

  // Nothing offered at all: the data object is still asked, with no media, and nothing leaks.
  fake::DataObject nothing;
  EXPECT_FALSE(format.GetData(&nothing));
  EXPECT_EQ(nothing.GetDataCalls.size(), 1u);
  EXPECT_EQ(nothing.MediaHandedOut, 0);
}

// ---------------------------------------------------------------------------------------------
// String lists.

TEST(UnicodeStrings, BoundsAndEvents) {
  TUnicodeStringList list;
  int changing = 0, changed = 0;
  list.OnChanging = [&](TObject*) { ++changing; };
  list.OnChange = [&](TObject*) { ++changed; };
  list.Add(L"a");
  list.Add(L"");
  list.Insert(0, std::wstring(L"z\0z", 3));
  EXPECT_EQ(changing, 3);
  EXPECT_EQ(changed, 3);
  EXPECT_EQ(list[0].size(), 3u);
  EXPECT_EQ(list[2], L"");
  try {
    list.Get(3);
    FAIL();
  } catch (const std::out_of_range& e) {
    EXPECT_STREQ(e.what(), "List index out of bounds (3)");
  }
  EXPECT_THROW(list.Insert(4, L"x"), std::out_of_range);
  EXPECT_THROW(list.Delete(-1), std::out_of_range);

  // Assign brackets the whole copy: one OnChanging, one OnChange.
  TStringList source;
  source.Add(L"p");
  source.Add(L"p");
  changing = changed = 0;
  list.Assign(&source);
  EXPECT_EQ(Strings(list), (std::vector<std::wstring>{L"p", L"p"}));
  EXPECT_EQ(changing, 1);
  EXPECT_EQ(changed, 1);
  TUnicodeStringList other;
  TPIDLList notStrings;
  EXPECT_THROW(other.Assign(&notStrings), EDragDropError);

  // Many entries: growth keeps every string.
  for (int i = 0; i < 1000; ++i) other.Add(std::to_wstring(i));
  EXPECT_EQ(other.Count(), 1000);
  EXPECT_EQ(other[999], L"999");
  other.Delete(0);
  EXPECT_EQ(other[0], L"1");
}

// ---------------------------------------------------------------------------------------------
// Shell item ID lists, and the shell's own data object for real files.

class TempFiles {
 public:
  explicit TempFiles(const std::vector<std::wstring>& names) {
    wchar_t temp[MAX_PATH + 1];
    GetTempPathW(MAX_PATH + 1, temp);
    Dir = std::filesystem::path(temp) / (L"bandweave-dd-" + std::to_wstring(GetCurrentProcessId()));
    std::filesystem::create_directories(Dir);
    for (const auto& n : names) {
      Paths.push_back((Dir / n).wstring());
      std::ofstream(Dir / n) << "band";
    }
  }
  ~TempFiles() {
    std::error_code ec;
    std::filesystem::remove_all(Dir, ec);
  }
  std::filesystem::path Dir;
  std::vector<std::wstring> Paths;
};

std::wstring Lower(std::wstring s) {
  for (auto& c : s) c = static_cast<wchar_t>(towlower(c));
  return s;
}

Bytes PidlBytes(LPCITEMIDLIST pidl) {
  const auto* p = reinterpret_cast<const uint8_t*>(pidl);
  return Bytes(p, p + ILGetSize(pidl));
}

Bytes Cida(const std::vector<Bytes>& lists) {
  Bytes b;
  fake::PutU32(b, static_cast<uint32_t>(lists.size() - 1));
  uint32_t offset = static_cast<uint32_t>(4 + 4 * lists.size());
  for (const auto& l : lists) {
    fake::PutU32(b, offset);
    offset += static_cast<uint32_t>(l.size());
  }
  for (const auto& l : lists) b.insert(b.end(), l.begin(), l.end());
  return b;
}

TEST(ShellItems, DesktopParentAndNonFileItem) {
  TempFiles t({L"T32_B03.jp2"});
  LPITEMIDLIST file = ILCreateFromPathW(t.Paths[0].c_str());
  LPITEMIDLIST computer = nullptr;
  ASSERT_TRUE(file);
  ASSERT_EQ(SHGetSpecialFolderLocation(nullptr, CSIDL_DRIVES, &computer), S_OK);
  const Bytes block = Cida({Bytes{0, 0}, PidlBytes(file), PidlBytes(computer)});
  ILFree(file);
  ILFree(computer);

  TReadingComponent owner;
  TFileDataFormat files(&owner);
  fake::DataObject d;
  d.AddGlobal(kShellIdList, block);
  ASSERT_TRUE(files.GetData(&d));
  ASSERT_EQ(files.Files().Count(), 2);
  EXPECT_EQ(Lower(files.Files()[0]), Lower(t.Paths[0]));
  EXPECT_EQ(files.Files()[1], L"");
  ExpectAllReleased(d);
}

TEST(ShellItems, ItemsRelativeToTheirFolder) {
  TempFiles t({L"a_B02.jp2", L"b_B04.jp2"});
  LPITEMIDLIST dir = ILCreateFromPathW(t.Dir.wstring().c_str());
  LPITEMIDLIST a = ILCreateFromPathW(t.Paths[0].c_str());
  LPITEMIDLIST b = ILCreateFromPathW(t.Paths[1].c_str());
  ASSERT_TRUE(dir && a && b);
  const Bytes lastOfB = PidlBytes(ILFindLastID(b));
  const Bytes block = Cida({PidlBytes(dir), lastOfB, PidlBytes(ILFindLastID(a))});
  ILFree(dir);
  ILFree(a);
  ILFree(b);

  TPIDLClipboardFormat format;
  fake::DataObject d;
  d.AddStream(kShellIdList, block);
  ASSERT_TRUE(format.GetData(&d));
  ASSERT_EQ(format.PIDLs().Count(), 3);
  EXPECT_EQ(format.PIDLs().GetString(1), std::string(lastOfB.begin(), lastOfB.end()));  // an exact copy
  ASSERT_EQ(format.Filenames().Count(), 2);
  EXPECT_EQ(Lower(format.Filenames()[0]), Lower(t.Paths[1]));
  EXPECT_EQ(Lower(format.Filenames()[1]), Lower(t.Paths[0]));
  EXPECT_THROW(format.Filenames().Get(2), std::out_of_range);
  ExpectAllReleased(d);
}

TEST(ShellItems, DropFilesIsPreferredToTheIdList) {
  fake::DataObject d;
  d.AddGlobal(kShellIdList, Cida({Bytes{0, 0}, Bytes{0, 0}}));
  d.AddGlobal(CF_HDROP, fake::DropFilesWide({L"C:\\h.jp2"}));
  TReadingComponent owner;
  TFileDataFormat files(&owner);
  ASSERT_TRUE(files.GetData(&d));
  EXPECT_EQ(Strings(files.Files()), std::vector<std::wstring>{L"C:\\h.jp2"});
  EXPECT_EQ(d.GetDataCalls, std::vector<CLIPFORMAT>{CF_HDROP});
}

TEST(ShellItems, ShellDataObjectGivesTheSamePathsBothWays) {
  TempFiles t({L"S2_B03.jp2", L"S2_B08.jp2"});
  IShellFolder* desktop = nullptr;
  ASSERT_EQ(SHGetDesktopFolder(&desktop), S_OK);
  LPITEMIDLIST dirPidl = nullptr;
  std::wstring dirName = t.Dir.wstring();
  ASSERT_EQ(desktop->ParseDisplayName(nullptr, nullptr, dirName.data(), nullptr, &dirPidl, nullptr), S_OK);
  IShellFolder* folder = nullptr;
  ASSERT_EQ(desktop->BindToObject(dirPidl, nullptr, IID_IShellFolder, reinterpret_cast<void**>(&folder)), S_OK);
  std::vector<LPITEMIDLIST> children;
  for (const auto& p : t.Paths) {
    std::wstring name = std::filesystem::path(p).filename().wstring();
    LPITEMIDLIST child = nullptr;
    ASSERT_EQ(folder->ParseDisplayName(nullptr, nullptr, name.data(), nullptr, &child, nullptr), S_OK);
    children.push_back(child);
  }
  IDataObject* data = nullptr;
  ASSERT_EQ(folder->GetUIObjectOf(nullptr, static_cast<UINT>(children.size()),
                                  const_cast<LPCITEMIDLIST*>(children.data()), IID_IDataObject, nullptr,
                                  reinterpret_cast<void**>(&data)),
            S_OK);

  TFileClipboardFormat hdrop;
  TPIDLClipboardFormat idlist;
  ASSERT_TRUE(hdrop.GetData(data));
  ASSERT_TRUE(idlist.GetData(data));
  std::vector<std::wstring> viaHdrop = Strings(hdrop.Files());
  std::vector<std::wstring> viaIdList = Strings(idlist.Filenames());
  EXPECT_EQ(viaHdrop, viaIdList);
  ASSERT_EQ(viaHdrop.size(), 2u);
  EXPECT_EQ(Lower(viaHdrop[0]), Lower(t.Paths[0]));
  EXPECT_EQ(Lower(viaHdrop[1]), Lower(t.Paths[1]));

  // Through the data format the shell's object is read by CF_HDROP.
  TReadingComponent owner;
  TFileDataFormat files(&owner);
  ASSERT_TRUE(files.GetData(data));
  EXPECT_EQ(Strings(files.Files()), viaHdrop);

  data->Release();
  for (auto c : children) CoTaskMemFree(c);
  CoTaskMemFree(dirPidl);
  folder->Release();
  desktop->Release();
}

}  // namespace
