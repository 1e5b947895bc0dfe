// Registry variables against the real registry of the test's Wine prefix. Each test starts
// with the program's key removed and removes it again afterwards.
#include <windows.h>
#include <sddl.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "RegistryTestKit.h"
#include "qelRegistryKey.h"
#include "qelRegistryVariables.h"

namespace {

class RegistryVariables : public ::testing::Test {
 protected:
  void SetUp() override {
    qelRegistryVariablesInitialize();
    FRoot = RegistryRoot;
    FKey = regkit::ProgramKey(RegistryVendor);
    regkit::DeleteKey(FRoot, FKey);
    ASSERT_FALSE(regkit::KeyExists(FRoot, FKey));
  }
  void TearDown() override {
    qelRegistry::SetChangeObserver(nullptr);
    regkit::DeleteKey(FRoot, FKey);
    qelRegistryVariablesFinalize();
  }
  std::optional<uint32_t> Stored(const std::wstring& name) const {
    return regkit::ReadDword(FRoot, FKey, name);
  }
  void Store(const std::wstring& name, uint32_t value) const {
    ASSERT_TRUE(regkit::WriteDword(FRoot, FKey, name, value));
  }

  HKEY FRoot = nullptr;
  std::wstring FKey;
};

TEST_F(RegistryVariables, FirstRunUsesDefaultsAndCreatesTheKeyOnlyWhenWriting) {
  {
    auto flag = TRegistryBoolean::CreateValue(L"BeepWhenDone", true);
    auto index = TRegistryInteger::CreateValue(L"SaveFormat", 1);
    EXPECT_TRUE(flag->Value());
    EXPECT_EQ(index->Value(), 1);
    EXPECT_FALSE(regkit::KeyExists(FRoot, FKey)) << "reading must not create the key";
    EXPECT_EQ(qelRegistry::OpenKeyCount(), 0);
  }
  auto flag = regkit::Read(FRoot, FKey, L"BeepWhenDone");
  ASSERT_TRUE(flag);
  EXPECT_EQ(flag->type, DWORD(REG_DWORD));
  EXPECT_EQ(flag->Dword(), 1u);
  EXPECT_EQ(Stored(L"SaveFormat"), 1u);
  EXPECT_EQ(qelRegistry::OpenKeyCount(), 0);
}

TEST_F(RegistryVariables, StoredValuesReplaceTheDefaults) {
  Store(L"Off", 0);
  Store(L"Two", 2);
  Store(L"Count", 42);
  auto off = TRegistryBoolean::CreateValue(L"Off", true);
  auto two = TRegistryBoolean::CreateValue(L"Two", false);
  auto count = TRegistryInteger::CreateValue(L"Count", 7);
  EXPECT_FALSE(off->Value());
  EXPECT_TRUE(two->Value()) << "any non-zero number is true";
  EXPECT_EQ(count->Value(), 42);
  two.reset();
  EXPECT_EQ(Stored(L"Two"), 1u) << "a Boolean is written back as 1";
}

TEST_F(RegistryVariables, IntegersAreSigned32Bit) {
  Store(L"AllBits", 0xFFFFFFFFu);
  Store(L"Lowest", 0x80000000u);
  {
    auto allBits = TRegistryInteger::CreateValue(L"AllBits", 0);
    auto lowest = TRegistryInteger::CreateValue(L"Lowest", 0);
    EXPECT_EQ(allBits->Value(), -1);
    EXPECT_EQ(lowest->Value(), INT32_MIN);
    auto fresh = TRegistryInteger::CreateValue(L"Fresh", -5);
  }
  EXPECT_EQ(Stored(L"AllBits"), 0xFFFFFFFFu);
  EXPECT_EQ(Stored(L"Lowest"), 0x80000000u);
  EXPECT_EQ(Stored(L"Fresh"), 0xFFFFFFFBu);
}

// Anything but a 4-byte REG_DWORD is ignored on reading and replaced on writing.
TEST_F(RegistryVariables, UnusableStoredDataKeepsTheDefault) {
  struct Case {
    const wchar_t* name;
    DWORD type;
    std::vector<uint8_t> data;
  };
  const std::vector<Case> cases = {
      {L"TextOne", REG_SZ, {'1', 0, 0, 0}},  // the text "1" fits in 4 bytes
      {L"Binary", REG_BINARY, {1, 0, 0, 0}},
      {L"Qword", REG_QWORD, {1, 0, 0, 0, 0, 0, 0, 0}},
      {L"BigEndian", REG_DWORD_BIG_ENDIAN, {0, 0, 0, 1}},
      {L"ShortDword", REG_DWORD, {1, 0}},
      {L"LongDword", REG_DWORD, {1, 0, 0, 0, 0}},
      {L"EmptyDword", REG_DWORD, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "value " << c.name);
    auto prepare = [&] {
      return regkit::Write(FRoot, FKey, c.name, c.type, c.data.data(),
                           static_cast<DWORD>(c.data.size()));
    };
    ASSERT_TRUE(prepare());
    EXPECT_FALSE(TRegistryBoolean::CreateValue(c.name, false)->Value());
    EXPECT_EQ(Stored(c.name), 0u) << "the release writes a proper REG_DWORD";
    ASSERT_TRUE(prepare());
    EXPECT_EQ(TRegistryInteger::CreateValue(c.name, -3)->Value(), -3);
    EXPECT_EQ(Stored(c.name), 0xFFFFFFFDu);
  }
}

TEST_F(RegistryVariables, OnlyFlushAndReleaseWrite) {
  Store(L"Count", 5);
  auto count = TRegistryInteger::CreateValue(L"Count", 0);
  auto added = TRegistryBoolean::CreateValue(L"Added", false);
  count->SetValue(9);
  added->SetValue(true);
  EXPECT_EQ(Stored(L"Count"), 5u) << "setting Value must not write";
  EXPECT_FALSE(Stored(L"Added"));
  count->Flush();
  EXPECT_EQ(Stored(L"Count"), 9u);
  count->SetValue(11);
  EXPECT_EQ(Stored(L"Count"), 9u);
  count.reset();
  added.reset();
  EXPECT_EQ(Stored(L"Count"), 11u);
  EXPECT_EQ(Stored(L"Added"), 1u);
}

TEST_F(RegistryVariables, DeletePendingWritesThenDeletesAndKeepsTheKey) {
  std::vector<std::pair<qelRegistry::TRegChange, std::wstring>> changes;
  qelRegistry::SetChangeObserver(
      [&](qelRegistry::TRegChange change, const std::wstring& name, DWORD) {
        changes.emplace_back(change, name);
      });
  {
    // The key does not exist yet: the release creates it and leaves it empty.
    auto gone = TRegistryBoolean::CreateValue(L"Gone", true);
    EXPECT_FALSE(gone->DeletePending());
    gone->SetDeletePending(true);
  }
  EXPECT_TRUE(regkit::KeyExists(FRoot, FKey));
  EXPECT_FALSE(regkit::Read(FRoot, FKey, L"Gone"));
  using C = qelRegistry::TRegChange;
  const decltype(changes) expected = {{C::Write, L"Gone"}, {C::Delete, L"Gone"}};
  EXPECT_EQ(changes, expected);

  Store(L"Old", 3);
  Store(L"Kept", 4);
  {
    auto old = TRegistryInteger::CreateValue(L"Old", 0);
    old->SetDeletePending(true);
    auto kept = TRegistryInteger::CreateValue(L"Kept", 0);
    kept->SetDeletePending(true);
    kept->SetDeletePending(false);
  }
  EXPECT_FALSE(regkit::Read(FRoot, FKey, L"Old"));
  EXPECT_EQ(Stored(L"Kept"), 4u);
  EXPECT_EQ(qelRegistry::OpenKeyCount(), 0);
}

// The key as a user who may only read it sees it: every full-access open is refused.
class ReadOnlyKey {
 public:
  ReadOnlyKey(HKEY root, const std::wstring& path) : FRoot(root), FPath(path) { Apply(L"D:P(A;;KR;;;WD)"); }
  ~ReadOnlyKey() { Apply(L"D:(A;;KA;;;WD)"); }
  bool Applied() const { return FApplied; }

 private:
  void Apply(const wchar_t* sddl) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(FRoot, FPath.c_str(), 0, WRITE_DAC, &key) != ERROR_SUCCESS) return;
    PSECURITY_DESCRIPTOR sd = nullptr;
    if (ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl, SDDL_REVISION_1, &sd, nullptr)) {
      FApplied = RegSetKeySecurity(key, DACL_SECURITY_INFORMATION, sd) == ERROR_SUCCESS;
      LocalFree(sd);
    }
    RegCloseKey(key);
  }
  HKEY FRoot;
  std::wstring FPath;
  bool FApplied = false;
};

TEST_F(RegistryVariables, AKeyTheUserMayOnlyReadIsReadAndLosesWritesQuietly) {
  Store(L"Count", 42);
  Store(L"Flag", 1);
  {
    ReadOnlyKey readOnly(FRoot, FKey);
    ASSERT_TRUE(readOnly.Applied());
    HKEY probe = nullptr;
    ASSERT_NE(RegOpenKeyExW(FRoot, FKey.c_str(), 0, KEY_ALL_ACCESS, &probe), ERROR_SUCCESS)
        << "the key must refuse a full-access open, or the read-only path is not tested";
    {
      auto count = TRegistryInteger::CreateValue(L"Count", 7);
      auto flag = TRegistryBoolean::CreateValue(L"Flag", false);
      EXPECT_EQ(count->Value(), 42) << "what is stored is read with read access";
      EXPECT_TRUE(flag->Value());
      count->SetValue(8);
      count->Flush();
      EXPECT_EQ(count->Value(), 8) << "the value in memory survives a failed write";
      flag->SetDeletePending(true);
    }
    EXPECT_EQ(Stored(L"Count"), 42u);
    EXPECT_EQ(Stored(L"Flag"), 1u);
    EXPECT_EQ(qelRegistry::OpenKeyCount(), 0);
  }
}

// The location rule's pieces, independent of the name this program runs under.
TEST(LocationRuleParts, FileNameAndExtension) {
  using namespace qelRegistryLocation;
  EXPECT_EQ(FileNamePart(L"C:\\Program Files\\Bandweave.exe"), L"Bandweave.exe");
  EXPECT_EQ(FileNamePart(L"C:veldamap.exe"), L"veldamap.exe");
  EXPECT_EQ(FileNamePart(L"plain.exe"), L"plain.exe");
  EXPECT_EQ(WithoutExtension(L"my.tool.exe"), L"my.tool");
  EXPECT_EQ(WithoutExtension(L"NoExtension"), L"NoExtension");
  EXPECT_EQ(ProfilePathFor(L"Korvane", L"D:\\a.b\\Bandweave.exe"),
            L"\\Software\\Korvane\\Bandweave");
  EXPECT_EQ(ProfilePathFor(L"Mireton", L"D:\\x\\VeldaMap.EXE"), L"\\Software\\Mireton\\VeldaMap");
}

TEST(LocationRuleParts, OnlyVeldamapExeMovesToTheMachineHive) {
  struct Case {
    const wchar_t* path;
    bool veldamap;
  };
  const Case cases[] = {
      {L"C:\\tools\\veldamap.exe", true},   {L"C:\\tools\\VELDAMAP.EXE", true},
      {L"C:\\tools\\VeLdAmAp.ExE", true},   {L"veldamap.exe", true},
      {L"C:\\veldamap.exe\\other.exe", false}, {L"C:\\tools\\veldamap.exe.bak", false},
      {L"C:\\tools\\veldamap", false},      {L"C:\\tools\\xveldamap.exe", false},
      {L"C:\\tools\\Bandweave.exe", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "path " << c.path);
    qelRegistryLocation::Apply(c.path);
    EXPECT_EQ(RegistryRoot, c.veldamap ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER);
    EXPECT_EQ(RegistryVendor, c.veldamap ? L"Mireton" : L"Korvane");
  }
  qelRegistryVariablesFinalize();
}

// Run under several names (see CMakeLists.txt): where does a value really end up?
TEST(LocationRule, FollowsTheRunningExecutable) {
  struct Case {
    const wchar_t* exe;
    HKEY root;
    const wchar_t* key;
    HKEY otherRoot;
    const wchar_t* otherKey;
  };
  const Case cases[] = {
      {L"qelRegistryVariablesTest.exe", HKEY_CURRENT_USER,
       L"Software\\Korvane\\qelRegistryVariablesTest", HKEY_LOCAL_MACHINE,
       L"Software\\Mireton\\qelRegistryVariablesTest"},
      {L"veldamap.exe", HKEY_LOCAL_MACHINE, L"Software\\Mireton\\veldamap", HKEY_CURRENT_USER,
       L"Software\\Korvane\\veldamap"},
      {L"VeldaMap.EXE", HKEY_LOCAL_MACHINE, L"Software\\Mireton\\VeldaMap", HKEY_CURRENT_USER,
       L"Software\\Korvane\\VeldaMap"},
      {L"my.tool.exe", HKEY_CURRENT_USER, L"Software\\Korvane\\my.tool", HKEY_LOCAL_MACHINE,
       L"Software\\Mireton\\my.tool"},
  };
  const std::wstring exe = regkit::ExeFileName();
  const Case* c = nullptr;
  for (const Case& candidate : cases)
    if (exe == candidate.exe) c = &candidate;
  if (!c) GTEST_SKIP() << "not one of the names this test knows";

  regkit::DeleteKey(c->root, c->key);
  regkit::DeleteKey(c->otherRoot, c->otherKey);
  qelRegistryVariablesInitialize();
  { auto value = TRegistryInteger::CreateValue(L"Where", 1234); }
  EXPECT_EQ(regkit::ReadDword(c->root, c->key, L"Where"), 1234u);
  EXPECT_FALSE(regkit::KeyExists(c->otherRoot, c->otherKey));
  // And it is read back from there.
  regkit::WriteDword(c->root, c->key, L"Where", 99);
  EXPECT_EQ(TRegistryInteger::CreateValue(L"Where", 0)->Value(), 99);
  qelRegistryVariablesFinalize();
  regkit::DeleteKey(c->root, c->key);
}

}  // namespace
