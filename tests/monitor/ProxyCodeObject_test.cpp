#include "monitor/ProxyCodeObject.h"

#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <string>

namespace tarvel {
namespace {

TEST(ProxyCodeObject, DefaultsWatchNothing) {
  TProxyCodeObject s;
  EXPECT_EQ(s.Left, 314);
  EXPECT_EQ(s.Top, 184);
  EXPECT_EQ(s.Height, 402);
  EXPECT_EQ(s.Width, 541);
  for (int row = 0; row < TProxyCodeObject::kRows; ++row) {
    SCOPED_TRACE(row);
    EXPECT_EQ(s.VarText(row), "");
    EXPECT_EQ(s.TypeItemIndex(row), -1);
    EXPECT_EQ(s.ValValue(row), 0.0);
    EXPECT_EQ(s.EventText(row), "");
    EXPECT_FALSE(s.WatchRowAt(row));
  }
  EXPECT_TRUE(s.chkWaitData_Checked);
  EXPECT_TRUE(s.chkEvOnce_Checked);
  EXPECT_TRUE(s.chkCheckClient_Checked);
  EXPECT_EQ(s.edtClientVar_Text, "CLIENTID");
  EXPECT_EQ(s.edtEventResume_Text, "-RESUME");
  EXPECT_FALSE(s.chkEventResume_Checked);
  EXPECT_FALSE(s.WatchRowAt(4));
}

TEST(ProxyCodeObject, PropertiesFollowTheControlNames) {
  TProxyCodeObject s;
  EXPECT_TRUE(IsProxyObject(&s));
  static const struct {
    const char* name;
    TTypeKind kind;
  } props[] = {
      {"Left", tkInteger},
      {"VAR1_TEXT", tkString},
      {"type4_ItemIndex", tkInteger},
      {"val2_Value", tkFloat},
      {"event3_Text", tkString},
      {"chkWaitData_Checked", tkEnumeration},
      {"edtClientVar_Text", tkString},
      {"chkEventResume_Checked", tkEnumeration},
  };
  for (const auto& p : props) {
    SCOPED_TRACE(p.name);
    const TPropInfo* info = LookupProperty(s, p.name);
    ASSERT_NE(info, nullptr);
    EXPECT_EQ(info->kind, p.kind);
  }
  EXPECT_EQ(TProxyCodeObject::StaticClass().properties.size(), 26u);
  EXPECT_EQ(ReadPropertyValue(s, "chkEvOnce_Checked").ToAnsi(), "True");
  WriteEnumByName(s, "chkEvOnce_Checked", "false");
  EXPECT_FALSE(s.chkEvOnce_Checked);
  WritePropertyValue(s, "var2_Text", OleVariant("X"));
  EXPECT_EQ(s.var2_Text, "X");
}

TEST(ProxyCodeObject, AssignCopiesEveryField) {
  TProxyCodeObject a, b;
  // Every field gets a value unlike its default, different per field.
  std::map<std::string, std::string> written;
  int n = 0;
  for (const TPropInfo& p : TProxyCodeObject::StaticClass().properties) {
    ++n;
    switch (p.kind) {
      case tkInteger:
        WritePropertyValue(a, p.name, OleVariant(int32_t{1000 + n}));
        break;
      case tkFloat:
        WritePropertyValue(a, p.name, OleVariant(n + 0.5));
        break;
      case tkString:
        WritePropertyValue(a, p.name, OleVariant(p.name + "!"));
        break;
      default:
        WriteEnumByName(a, p.name,
                        ReadPropertyValue(a, p.name).ToAnsi() == "True" ? "False" : "True");
    }
    written[p.name] = ReadPropertyValue(a, p.name).ToAnsi();
    EXPECT_NE(written[p.name], ReadPropertyValue(b, p.name).ToAnsi())
        << p.name << " did not take the value written";
  }
  a.SetName("keepname");
  b.Assign(a);
  for (const TPropInfo& p : TProxyCodeObject::StaticClass().properties) {
    SCOPED_TRACE(p.name);
    EXPECT_EQ(ReadPropertyValue(b, p.name).ToAnsi(), written[p.name]);
  }
  EXPECT_EQ(b.Name(), "") << "Assign copies the settings only";
}

TEST(WatchRow, Interpretation) {
  static const struct {
    const char* name;
    std::string variable;
    int32_t unit;
    double value;
    std::optional<int32_t> timeout;
  } cases[] = {
      {"trimmed, seconds cut", "  T1 ", 1, 2.9, 2000},
      {"half a minute is none", "v", 2, 0.5, std::nullopt},
      {"one hour", "v", 3, 1, 3600000},
      {"milliseconds", "v", 0, 250.7, 250},
      {"0.9 s", "v", 1, 0.9, std::nullopt},
      {"1.9 s", "v", 1, 1.9, 1000},
      {"empty name", " \t\x01 ", 1, 5, std::nullopt},
      {"unit -1", "v", -1, 5, std::nullopt},
      {"unit 4", "v", 4, 5, std::nullopt},
      {"zero", "v", 1, 0, std::nullopt},
      {"negative", "v", 1, -5, std::nullopt},
      {"not a number", "v", 1, std::nan(""), std::nullopt},
      {"beyond 32 bits clamps", "v", 3, 1000, 2147483647},
      {"huge value clamps", "v", 0, 1e300, 2147483647},
      {"just fits", "v", 0, 2147483647.0, 2147483647},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto row = InterpretWatchRow(c.variable, c.unit, c.value, "EV");
    ASSERT_EQ(row.has_value(), c.timeout.has_value());
    if (row) {
      EXPECT_EQ(row->timeout_ms, *c.timeout);
    }
  }
  auto row = InterpretWatchRow("  T1 ", 1, 2.9, "");
  ASSERT_TRUE(row);
  EXPECT_EQ(row->variable, "T1");
  EXPECT_EQ(row->key, "t1");
  EXPECT_EQ(row->event, "") << "an empty event name still watches";
}

TEST(WatchRow, FromTheSettingsObject) {
  TProxyCodeObject s;
  s.var1_Text = "a";
  s.type1_ItemIndex = 1;
  s.val1_Value = 3;
  s.event1_Text = " E ";
  s.var3_Text = "c";
  s.type3_ItemIndex = 0;
  s.val3_Value = 10;
  auto r1 = s.WatchRowAt(0);
  ASSERT_TRUE(r1);
  EXPECT_EQ(r1->timeout_ms, 3000);
  EXPECT_EQ(r1->event, " E ") << "event names are taken as set";
  EXPECT_FALSE(s.WatchRowAt(1));
  ASSERT_TRUE(s.WatchRowAt(2));
  EXPECT_EQ(s.WatchRowAt(2)->timeout_ms, 10);
}

}  // namespace
}  // namespace tarvel
