// Threads of one process saving into one INI file at once: the named lock
// must serialise them (per-process record on POSIX, the optex on Win32).
#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "monitor/ProxyCodeObject.h"
#include "platform/ini_lock.h"
#include "settings/BigIni.h"
#include "settings/TWregistry.h"
#include "support/test_support.h"

namespace tarvel {
namespace {

TEST(IniLockConcurrency, ThreadsSavingToOneFileLoseNoUpdate) {
  test::TempDir dir;
  std::string ini = dir.File("threads.ini");
  constexpr int kThreads = 4, kSaves = 20;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      TProxyCodeObject s;
      for (int n = 0; n < kSaves; ++n) {
        TWreg reg;
        reg.INIFile = ini;
        reg.Components.SetText("Left,T" + std::to_string(t) + "_" + std::to_string(n));
        s.Left = n;
        EXPECT_TRUE(reg.SaveProperties(&s));
      }
    });
  }
  for (auto& th : threads) th.join();
  TBigIniFile file(ini);
  for (int t = 0; t < kThreads; ++t)
    for (int n = 0; n < kSaves; ++n) {
      std::string key = "T" + std::to_string(t) + "_" + std::to_string(n);
      EXPECT_EQ(file.ReadInteger("Common", key, -1), n) << key;
    }
}

TEST(IniLockConcurrency, OneHolderAtATime) {
  test::TempDir dir;
  std::string file = dir.File("count.ini");
  int inside = 0, max_inside = 0;  // guarded by the lock under test
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&] {
      platform::IniFileLock lock(file);
      for (int i = 0; i < 200; ++i) {
        platform::IniLockHold hold(lock);
        platform::IniLockHold nested(lock);
        ++inside;
        if (inside > max_inside) max_inside = inside;
        --inside;
      }
    });
  }
  for (auto& th : threads) th.join();
  EXPECT_EQ(max_inside, 1);
}

}  // namespace
}  // namespace tarvel
