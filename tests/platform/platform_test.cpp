// Contract tests of the platform services, run in both builds.
#include <gtest/gtest.h>

#include <cstring>
#include <regex>
#include <set>
#include <vector>

#ifdef _WIN32
#include <windows.h>
// After windows.h, which it needs.
#include <oleauto.h>
#endif

#include "Common/OleVariant.h"
#include "platform/clock.h"
#include "platform/memory.h"
#include "platform/module.h"
#include "platform/prefetch.h"
#include "platform/text.h"
#include "platform/thread.h"
#include "platform/variant.h"

namespace tarvel::platform {
namespace {

TEST(TickClock, ManualClockReplacesTheSystemCounterAndWraps) {
  {
    ManualTickClock clock(0xFFFFFFF0u);
    EXPECT_EQ(TickCount(), 0xFFFFFFF0u);
    clock.Advance(0x20);
    EXPECT_EQ(TickCount(), 0x10u);
    EXPECT_EQ(TickDiff(0x10u, 0xFFFFFFF0u), 0x20);
    EXPECT_EQ(TickDiff(0xFFFFFFF0u, 0x10u), -0x20);
    EXPECT_THROW(ManualTickClock second, std::logic_error);
  }
  // Without a manual clock the system counter is back, and it never runs backwards.
  uint32_t a = TickCount();
  SleepMs(5);
  EXPECT_GE(TickDiff(TickCount(), a), 0);
  EXPECT_LT(TickDiff(TickCount(), a), 60000);
}

#ifdef _WIN32
// SystemDateText: what Windows itself writes for the date in that locale
// (its short date, and its time unless midnight), which the module's own
// writing must match whatever the system's locale data say.
std::string SystemDateText(uint32_t lcid, double date) {
  SYSTEMTIME st{};
  if (!::VariantTimeToSystemTime(date, &st)) return "?";
  char d[128] = {}, t[128] = {};
  ::GetDateFormatA(lcid, DATE_SHORTDATE | LOCALE_USE_CP_ACP, &st, nullptr, d, sizeof d);
  if (st.wHour == 0 && st.wMinute == 0 && st.wSecond == 0) return d;
  ::GetTimeFormatA(lcid, LOCALE_USE_CP_ACP, &st, nullptr, t, sizeof t);
  return std::string(d) + " " + t;
}
#endif

// Restores the user's own formats when a test that chose others ends.
struct UserFormatsAfter {
  ~UserFormatsAfter() { UseFormatsOf(0); }
};

TEST(Formats, DatesTimesAndNumbersInTheFormatsOfTheLocaleInForce) {
  UserFormatsAfter restore;
  const struct {
    uint32_t lcid;
    double date;
    const char* text;
  } cases[] = {
      {1033, 45000.5, "3/15/2023 12:00:00 PM"},
      {1033, 45000, "3/15/2023"},  // midnight: the date alone
      {1033, 45000.25, "3/15/2023 6:00:00 AM"},
      {1033, 2 + 13.5 / 24, "1/1/1900 1:30:00 PM"},
      {1033, 0.25, "12/30/1899 6:00:00 AM"},     // day 0
      {1033, -1.25, "12/29/1899 6:00:00 AM"},    // before day 0 the fraction is still the time
      {1033, 45000 + 0.4 / 86400, "3/15/2023"},  // midnight to the second
      {1031, 45000.5, "15.03.2023 12:00:00"},
      {1031, 45000.75, "15.03.2023 18:00:00"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.lcid) + " " + std::to_string(c.date));
    ASSERT_TRUE(UseFormatsOf(c.lcid));
#ifdef _WIN32
    EXPECT_EQ(DateTimeText(c.date), SystemDateText(c.lcid, c.date));
#else
    EXPECT_EQ(DateTimeText(c.date), c.text);
#endif
  }
  ASSERT_TRUE(UseFormatsOf(1033));
  EXPECT_EQ(DecimalSeparator(), '.');
  ASSERT_TRUE(UseFormatsOf(1031));
  EXPECT_EQ(DecimalSeparator(), ',');
  EXPECT_EQ(OleVariant(2.5).ToAnsi(), "2,5");
  // A locale the system does not know changes nothing.
  EXPECT_FALSE(UseFormatsOf(0x7F7F));
  EXPECT_EQ(DecimalSeparator(), ',');
}

TEST(Threads, IdsAreNonZeroAndDistinct) {
  uint32_t main_id = CurrentThreadId();
  uint32_t other = 0;
  std::thread t([&] { other = CurrentThreadId(); });
  t.join();
  EXPECT_NE(main_id, 0u);
  EXPECT_NE(other, 0u);
  EXPECT_NE(main_id, other);
  EXPECT_EQ(main_id, CurrentThreadId());
}

TEST(AnsiText, CaseFoldingCoversTheCodePageLetters) {
  struct {
    const char* in;
    const char* lower;
    const char* upper;
  } cases[] = {
      {"ClientID", "clientid", "CLIENTID"},
      {"$NEW_ROW$", "$new_row$", "$NEW_ROW$"},
      {"\xC4rger \xD6l", "\xE4rger \xF6l", "\xC4RGER \xD6L"},  // Ärger Öl
      {"\xD7\xF7", "\xD7\xF7", "\xD7\xF7"},                    // × ÷ are no letters
      {"", "", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.in);
    EXPECT_EQ(AnsiLowerCase(c.in), c.lower);
    EXPECT_EQ(AnsiUpperCase(c.in), c.upper);
  }
}

TEST(AnsiText, RoundTripsThroughUtf16) {
  std::string text =
      "Temp \xB0"
      "C \x80 5";  // degree sign and euro sign
  std::u16string wide = AnsiToWide(text);
  EXPECT_EQ(wide[5], u'\u00B0');
  EXPECT_EQ(wide[8], u'\u20AC');
  EXPECT_EQ(WideToAnsi(wide), text);
  EXPECT_EQ(WideToAnsi(u"\u4E2D"), "?");
}

TEST(Guid, RegistryFormUpperCaseAndFresh) {
  std::regex form("^\\{[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}\\}$");
  std::set<std::string> seen;
  for (int i = 0; i < 100; ++i) {
    std::string g = NewGuidText();
    ASSERT_EQ(g.size(), 38u);
    EXPECT_TRUE(std::regex_match(g, form)) << g;
    seen.insert(g);
  }
  EXPECT_EQ(seen.size(), 100u);
}

TEST(Variant, BstrCarriesItsLengthAndEmbeddedZeros) {
  const OleChar text[] = {u'a', 0, u'b'};
  Bstr b = SysAllocStringLen(text, 3);
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(SysStringLen(b), 3u);
  EXPECT_EQ(reinterpret_cast<uint32_t*>(b)[-1], 6u);
  EXPECT_EQ(b[3], 0);
  SysFreeString(b);
  EXPECT_EQ(SysStringLen(nullptr), 0u);
}

TEST(Variant, CopyIsDeepAndClearEmpties) {
  Variant a, b;
  VariantInit(&a);
  VariantInit(&b);
  a.vt = VT_BSTR;
  a.bstrVal = SysAllocStringLen(u"abc", 3);
  ASSERT_TRUE(VariantCopy(&b, &a));
  EXPECT_EQ(b.vt, VT_BSTR);
  EXPECT_NE(b.bstrVal, a.bstrVal);
  EXPECT_EQ(std::u16string(b.bstrVal, 3), u"abc");
  EXPECT_TRUE(VariantClear(&a));
  EXPECT_EQ(a.vt, VT_EMPTY);
  EXPECT_TRUE(VariantClear(&b));
}

TEST(Variant, ForeignAnsiStringTypeIsRefused) {
  Variant a, b;
  VariantInit(&a);
  VariantInit(&b);
  a.vt = VT_ANSISTRING;
  a.byref = nullptr;
  EXPECT_FALSE(VariantCopy(&b, &a));
  EXPECT_EQ(b.vt, VT_EMPTY);
}

TEST(Module, OwnPathAndVersion) {
  EXPECT_FALSE(OwnModulePath().empty());
  EXPECT_EQ(LoadModule("no-such-module-here.bin"), 0u);
  EXPECT_FALSE(LastLoadError().empty());
}

TEST(Memory, PrivateBytesGrowWithTouchedAllocations) {
  constexpr size_t kBlock = 32u << 20;
  const size_t before = PrivateBytes();
  ASSERT_GT(before, 0u);
  std::vector<char> block(kBlock, 1);  // touched, so it is committed and resident
  const size_t after = PrivateBytes();
  EXPECT_GE(after, before + kBlock * 3 / 4) << "before " << before << " after " << after;
  EXPECT_EQ(block[kBlock - 1], 1);
}

// Every processor the module is tested on has the prefetch instructions, so
// the 32-bit build must have found them; and a prefetch is only a hint, so
// addresses no one may read cost nothing.
TEST(Prefetch, ActiveHereAndHarmlessOnAnyAddress) {
  EXPECT_TRUE(PrefetchSupported());
  auto* doomed = new char[64];
  volatile uintptr_t freed = reinterpret_cast<uintptr_t>(doomed);
  delete[] doomed;
  for (uintptr_t address : {uintptr_t{0}, uintptr_t{freed}, uintptr_t{0x10}})
    Prefetch(reinterpret_cast<const void*>(address));
  std::vector<char> block(4096, 1);
  Prefetch(block.data() + 4000);
  EXPECT_EQ(block[4000], 1);
}

}  // namespace
}  // namespace tarvel::platform
