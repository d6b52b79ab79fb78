// Contract of the platform registry and the INI lock, run against Wine's
// registry in the win32 build and the file-backed store natively.
#include "platform/registry.h"

#include <gtest/gtest.h>

#include "platform/ini_lock.h"
#include "settings_support.h"

namespace tarvel::platform {
namespace {

using test::RegistrySandbox;

TEST(RegistryContract, KeysValuesAndTypes) {
  RegistrySandbox sandbox;
  RegistryKey key;
  EXPECT_FALSE(key.Open(RegistryRootKey::kCurrentUser, sandbox.KeyPath())) << "not there yet";
  ASSERT_TRUE(key.Create(RegistryRootKey::kCurrentUser, sandbox.KeyPath() + "\\Sub\\Deeper"));
  EXPECT_TRUE(key.IsOpen());
  static const struct {
    const char* name;
    uint32_t type;
    std::string data;
  } values[] = {
      {"Dword", kRegDword, std::string("\x01\x02\x03\x04", 4)},
      {"Binary", kRegBinary, std::string("\0\xFF\x10", 3)},
      {"Text", kRegSz, std::string("hello\0", 6)},
      {"Expand", kRegExpandSz, std::string("%X%\0", 4)},
      {"", kRegSz, std::string("default\0", 8)},
      {"odd \x01 name", kRegSz, std::string("x\0", 2)},
  };
  for (const auto& v : values) {
    SCOPED_TRACE(v.name);
    ASSERT_TRUE(key.SetValue(v.name, v.type, v.data));
  }
  RegistryKey again;
  ASSERT_TRUE(again.Open(RegistryRootKey::kCurrentUser, sandbox.KeyPath() + "\\SUB\\deeper"))
      << "key names ignore case";
  for (const auto& v : values) {
    SCOPED_TRACE(v.name);
    RegistryValue got;
    ASSERT_EQ(again.Query(v.name, &got), RegistryQuery::kOk);
    EXPECT_EQ(got.type, v.type);
    EXPECT_EQ(got.data, v.data);
  }
  EXPECT_TRUE(again.ValueExists("DWORD")) << "value names ignore case";
  ASSERT_TRUE(again.SetValue("dword", kRegSz, std::string("r\0", 2)));
  RegistryValue replaced;
  ASSERT_EQ(again.Query("Dword", &replaced), RegistryQuery::kOk);
  EXPECT_EQ(replaced.type, kRegSz);
  EXPECT_EQ(again.Query("Missing", nullptr), RegistryQuery::kMissing);
  EXPECT_TRUE(again.DeleteValue("Binary"));
  EXPECT_FALSE(again.DeleteValue("Binary"));
  EXPECT_FALSE(again.ValueExists("Binary"));
  EXPECT_TRUE(again.ValueExists("Text"));
  again.Close();
  EXPECT_FALSE(again.IsOpen());
  EXPECT_EQ(again.Query("Text", nullptr), RegistryQuery::kFailed);
  RegistryKey root;
  EXPECT_TRUE(root.Open(RegistryRootKey::kCurrentUser, "")) << "the root itself";
}

#ifndef _WIN32
TEST(RegistryContract, ReadOnlyRootsRefuseFullAccess) {
  RegistrySandbox sandbox;
  RegistryKey key;
  ASSERT_TRUE(key.Create(RegistryRootKey::kLocalMachine, sandbox.KeyPath()));
  test::SetEnv("TARVEL_REGISTRY_READONLY", "hkey_local_machine, HKEY_USERS");
  EXPECT_FALSE(key.Open(RegistryRootKey::kLocalMachine, sandbox.KeyPath()));
  EXPECT_FALSE(key.Create(RegistryRootKey::kLocalMachine, sandbox.KeyPath()));
  EXPECT_FALSE(key.Create(RegistryRootKey::kUsers, sandbox.KeyPath()));
  EXPECT_TRUE(key.Create(RegistryRootKey::kCurrentUser, sandbox.KeyPath()));
}
#endif

TEST(IniLock, NameDerivation) {
  static const struct {
    const char* file;
    const char* name;
  } cases[] = {
      {"C:\\Data\\Tarvel.INI", "c__data_tarvel_ini"},
      {"/tmp/a b/x.ini", "_tmp_a_b_x_ini"},
      {"AZaz09", "azaz09"},
      {"\xC4.ini", "__ini"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.file);
    EXPECT_EQ(IniLockName(c.file), c.name);
  }
}

TEST(IniLock, RecursiveForTheHolderAndSharedByName) {
  RegistrySandbox sandbox;
  std::string file = sandbox.Dir().File("x.ini");
  IniFileLock a(file);
  IniFileLock b(file);  // same name: the same lock
  EXPECT_EQ(a.Name(), b.Name());
  EXPECT_EQ(BoundedLockName(a.Name()), a.Name()) << "short names are kept";
  std::string long_a = BoundedLockName(std::string(300, 'a'));
  EXPECT_EQ(long_a.size(), 200u);
  EXPECT_EQ(long_a, BoundedLockName(std::string(300, 'a')));
  EXPECT_NE(long_a, BoundedLockName(std::string(301, 'a')));
  a.Acquire();
  b.Acquire();  // the holder enters again at once
  a.Acquire();
  b.Release();
  a.Release();
  a.Release();
  // Free again: a very long name also works.
  IniFileLock long_name(sandbox.Dir().File(std::string(300, 'L') + ".ini"));
  IniLockHold hold(long_name);
  IniLockHold again(a);
}

}  // namespace
}  // namespace tarvel::platform
