#include "monitor/MonitorSettings.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "monitor/ProxyCodeObject.h"

namespace tarvel {
namespace {

TEST(MonitorSettings, RowRules) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  static const struct {
    const char* name;
    const char* var;
    int32_t unit;
    double value;
    const char* event;
    const char* key;  // null: the row is off
    int64_t timeout_ms;
  } cases[] = {
      {"fresh row", "", -1, 0.0, "", nullptr, 0},
      {"name trimmed and lowered, value cut", "  T1 ", 1, 2.9, "EV", "t1", 2000},
      {"control bytes are trimmed too",
       "\t\x01"
       "Abc\r\n",
       0, 10, "", "abc", 10},
      {"half a minute is no minute", "a", 2, 0.5, "EV", nullptr, 0},
      {"one hour", "a", 3, 1, "EV", "a", 3600000},
      {"1000 hours keep their length", "a", 3, 1000, "EV", "a", 3600000000LL},
      {"0.9 s is nothing", "a", 1, 0.9, "EV", nullptr, 0},
      {"1.9 s is one second", "a", 1, 1.9, "EV", "a", 1000},
      {"no unit chosen", "a", -1, 5, "EV", nullptr, 0},
      {"unknown unit", "a", 4, 5, "EV", nullptr, 0},
      {"negative timeout", "a", 0, -5, "EV", nullptr, 0},
      {"negative hours", "a", 3, -1000, "EV", nullptr, 0},
      {"NaN timeout", "a", 1, nan, "EV", nullptr, 0},
      {"blank name", "   ", 1, 5, "EV", nullptr, 0},
      {"absurd timeout is cut to the longest", "a", 3, 1e300, "EV", "a", kMaxTimeoutMs},
      {"empty event name still watches", "a", 1, 1, "", "a", 1000},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TProxyCodeObject cfg;
    cfg.var1_Text = c.var;
    cfg.type1_ItemIndex = c.unit;
    cfg.val1_Value = c.value;
    cfg.event1_Text = c.event;
    auto s = MakeMonitorSettings(cfg);
    if (!c.key) {
      EXPECT_TRUE(s->rows.empty());
      continue;
    }
    ASSERT_EQ(s->rows.size(), 1u);
    EXPECT_EQ(s->rows[0].var_name, c.key);
    EXPECT_EQ(s->rows[0].timeout_ms, c.timeout_ms);
    EXPECT_EQ(s->rows[0].event_name, c.event);
  }
}

TEST(MonitorSettings, RowsKeepTheirOrderAndGapsCloseUp) {
  TProxyCodeObject cfg;
  cfg.var1_Text = "One";
  cfg.type1_ItemIndex = 0;
  cfg.val1_Value = 100;
  cfg.event1_Text = "E1";
  cfg.var3_Text = "Three";
  cfg.type3_ItemIndex = 1;
  cfg.val3_Value = 3;
  cfg.event3_Text = " E3 ";
  auto s = MakeMonitorSettings(cfg);
  ASSERT_EQ(s->rows.size(), 2u);
  EXPECT_EQ(s->rows[0].var_name, "one");
  EXPECT_EQ(s->rows[0].timeout_ms, 100);
  EXPECT_EQ(s->rows[0].event_name, "E1");
  EXPECT_EQ(s->rows[1].var_name, "three");
  EXPECT_EQ(s->rows[1].timeout_ms, 3000);
  EXPECT_EQ(s->rows[1].event_name, " E3 ");  // as set, not trimmed
}

TEST(MonitorSettings, FlagsAndTextsAreCopied) {
  TProxyCodeObject cfg;
  auto defaults = MakeMonitorSettings(cfg);
  EXPECT_TRUE(defaults->rows.empty());
  EXPECT_TRUE(defaults->wait_data);
  EXPECT_TRUE(defaults->event_once);
  EXPECT_TRUE(defaults->check_client);
  EXPECT_FALSE(defaults->event_resume);
  EXPECT_EQ(defaults->client_var, "CLIENTID");
  EXPECT_EQ(defaults->resume_suffix, "-RESUME");

  cfg.chkWaitData_Checked = false;
  cfg.chkEvOnce_Checked = false;
  cfg.chkCheckClient_Checked = false;
  cfg.chkEventResume_Checked = true;
  cfg.edtClientVar_Text = " Station ";
  cfg.edtEventResume_Text = "_BACK";
  auto s = MakeMonitorSettings(cfg);
  EXPECT_FALSE(s->wait_data);
  EXPECT_FALSE(s->event_once);
  EXPECT_FALSE(s->check_client);
  EXPECT_TRUE(s->event_resume);
  EXPECT_EQ(s->client_var, " Station ");  // matched untrimmed, as the data carries it
  EXPECT_EQ(s->resume_suffix, "_BACK");
}

}  // namespace
}  // namespace tarvel
