#include "monitor/TimeoutMonitor.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "monitor/monitor_fakes.h"
#include "platform/text.h"

namespace tarvel {
namespace {

using test::Data;
using test::DataRow;
using test::JournalSink;
using test::RecordingTimer;
using Journal = std::vector<std::string>;

constexpr uint32_t kStart = 100000;

MonitorSettings Watching(std::vector<MonitorSettings::Row> rows) {
  MonitorSettings s;
  s.rows = std::move(rows);
  return s;
}

// A client-ID item.
test::DataItem Id(OleVariant v) {
  return {"CLIENTID", std::move(v)};
}
// A variable item with some value.
test::DataItem Var(const char* name) {
  return {name, OleVariant(1)};
}

class MonitorTest : public ::testing::Test {
 protected:
  MonitorTest() : MonitorTest(kStart) {}
  explicit MonitorTest(uint32_t start) : clock_(start) {}

  void Start(MonitorSettings s) {
    monitor_ =
        std::make_unique<TimeoutMonitor>(sink_, timer_, std::make_shared<const MonitorSettings>(s));
    monitor_->ScheduleCheck();
  }
  void Feed(std::initializer_list<DataRow> rows) {
    ParamsListPtr data = Data(rows);
    monitor_->ProcessData(data.get());
  }
  // Run lets ms pass, ticking whenever the timer comes due, as the real one.
  void Run(int64_t ms) {
    for (;;) {
      ASSERT_TRUE(timer_.Armed()) << "the monitor left its timer stopped";
      const int64_t until = std::max<int64_t>(0, timer_.MsUntilTick());
      if (until > ms) break;
      clock_.Advance(static_cast<uint32_t>(until));
      ms -= until;
      monitor_->ChkTimeoutsTimer();
    }
    clock_.Advance(static_cast<uint32_t>(ms));
  }
  Journal Take() { return sink_.Take(); }
  std::optional<WatchStatus> Watch(const OleVariant& id, size_t row) {
    return monitor_->FindWatch(id, row);
  }

  platform::ManualTickClock clock_;
  JournalSink sink_;
  RecordingTimer timer_;
  std::unique_ptr<TimeoutMonitor> monitor_;
};

// ---- The states of a watch ----

TEST_F(MonitorTest, WatchStatesFollowDataAndDeadlines) {
  MonitorSettings s = Watching({{"a", 1000, "EA"}, {"b", 2000, "EB"}});
  s.event_resume = true;
  Start(s);
  const OleVariant seven(7);

  SCOPED_TRACE("creation: the row's variable runs, the other waits");
  Feed({{Id(7), Var("a")}});
  auto a = Watch(seven, 0);
  auto b = Watch(seven, 1);
  ASSERT_TRUE(a && b);
  EXPECT_FALSE(a->waiting_for_data || a->timed_out || a->fired);
  EXPECT_EQ(a->deadline, monitor_->Now() + 1000);
  EXPECT_TRUE(b->waiting_for_data);
  EXPECT_FALSE(b->timed_out || b->fired);

  SCOPED_TRACE("deadline in event-once mode: reported (T and F), one event");
  Run(999);
  EXPECT_EQ(Take(), Journal{});
  Run(1);
  EXPECT_EQ(Take(),
            (Journal{"log1 Timeout: 7", "event EA i4:7 bstr:a", "log1 Generating event: EA"}));
  a = Watch(seven, 0);
  EXPECT_TRUE(a->timed_out && a->fired);
  Run(10000);
  EXPECT_EQ(Take(), Journal{}) << "a reported watch fires no more";
  EXPECT_TRUE(Watch(seven, 1)->waiting_for_data) << "a waiting watch never fires";

  SCOPED_TRACE("data after the report: resume event, running again");
  Feed({{Id(7), Var("a")}});
  EXPECT_EQ(Take(), (Journal{"log2 Generating event: EA-RESUME", "event EA-RESUME i4:7 bstr:a"}));
  a = Watch(seven, 0);
  EXPECT_FALSE(a->waiting_for_data || a->timed_out || a->fired);
  EXPECT_EQ(a->deadline, monitor_->Now() + 1000);
  Feed({{Id(7), Var("a")}});
  EXPECT_EQ(Take(), Journal{}) << "one resume per silence";

  SCOPED_TRACE("first data for the waiting watch");
  Feed({{Id(7), Var("b")}});
  EXPECT_EQ(Take(), Journal{}) << "a waiting watch had not timed out";
  b = Watch(seven, 1);
  EXPECT_FALSE(b->waiting_for_data || b->timed_out || b->fired);
}

TEST_F(MonitorTest, WithoutWaitForDataEveryWatchRunsFromCreation) {
  MonitorSettings s = Watching({{"a", 1000, "EA"}, {"b", 2000, "EB"}});
  s.wait_data = false;
  Start(s);
  Feed({{Id(7), Var("other")}});
  EXPECT_FALSE(Watch(OleVariant(7), 1)->waiting_for_data);
  Run(999);
  EXPECT_EQ(Take(), Journal{}) << "an unfed watch still has its whole timeout";
  Run(1);
  EXPECT_EQ(Take(),
            (Journal{"log1 Timeout: 7", "event EA i4:7 bstr:a", "log1 Generating event: EA"}));
  Run(1000);
  EXPECT_EQ(Take(),
            (Journal{"log1 Timeout: 7", "event EB i4:7 bstr:b", "log1 Generating event: EB"}));
}

TEST_F(MonitorTest, WithEventOnceOffTheEventRepeatsAndResumesOnce) {
  MonitorSettings s = Watching({{"a", 5000, "EA"}});
  s.event_once = false;
  s.event_resume = true;
  Start(s);
  const Journal timeout{"log1 Timeout: 7", "event EA i4:7 bstr:a", "log1 Generating event: EA"};
  Feed({{Id(7), Var("a")}});
  Run(5000);
  EXPECT_EQ(Take(), timeout);
  // The tick comes 3 ms late; the next period counts from that tick.
  clock_.Advance(4999 + 3);
  monitor_->ChkTimeoutsTimer();
  EXPECT_EQ(Take(), timeout);
  Run(4999);
  EXPECT_EQ(Take(), Journal{});
  Run(1);
  EXPECT_EQ(Take(), timeout);
  auto a = Watch(OleVariant(7), 0);
  EXPECT_TRUE(a->timed_out) << "the mark stays while the silence lasts";
  EXPECT_FALSE(a->fired);

  Feed({{Id(7), Var("a")}});
  EXPECT_EQ(Take(), (Journal{"log2 Generating event: EA-RESUME", "event EA-RESUME i4:7 bstr:a"}));
  Feed({{Id(7), Var("a")}});
  EXPECT_EQ(Take(), Journal{});
  Run(4999);
  EXPECT_EQ(Take(), Journal{});
}

TEST_F(MonitorTest, WithoutResumeEventsDataOnlyRestarts) {
  Start(Watching({{"a", 1000, "EA"}}));
  Feed({{Id(7), Var("a")}});
  Run(1000);
  Take();
  Feed({{Id(7), Var("a")}});
  EXPECT_EQ(Take(), Journal{});
  Run(1000);
  EXPECT_EQ(Take().size(), 3u) << "the restarted watch times out again";
}

TEST_F(MonitorTest, ResumeEventNames) {
  static const struct {
    const char* event;
    const char* suffix;
    const char* resume;  // null: no resume event
  } cases[] = {
      {"EA", "-RESUME", "EA-RESUME"},
      {"", "-RESUME", "-RESUME"},  // the suffix alone
      {"EA", "", "EA"},            // the timeout event's own name
      {"", "", nullptr},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.event) + "|" + c.suffix);
    MonitorSettings s = Watching({{"a", 1000, c.event}});
    s.event_resume = true;
    s.resume_suffix = c.suffix;
    Start(s);
    Feed({{Id(7), Var("a")}});
    Run(1000);
    Take();
    Feed({{Id(7), Var("a")}});
    if (c.resume) {
      EXPECT_EQ(Take(), (Journal{std::string("log2 Generating event: ") + c.resume,
                                 std::string("event ") + c.resume + " i4:7 bstr:a"}));
    } else {
      EXPECT_EQ(Take(), Journal{});
    }
    auto a = Watch(OleVariant(7), 0);
    EXPECT_FALSE(a->timed_out || a->fired) << "the watch restarts in any case";
    EXPECT_EQ(a->deadline, monitor_->Now() + 1000);
  }
}

TEST_F(MonitorTest, EmptyEventNameOnlyLogsTheTimeout) {
  Start(Watching({{"a", 1000, ""}}));
  Feed({{Id(7), Var("a")}});
  Run(1000);
  EXPECT_EQ(Take(), Journal{"log1 Timeout: 7"});
}

// ---- What a timeout reports ----

OleVariant Date(double days) {
  Variant raw;
  platform::VariantInit(&raw);
  raw.vt = platform::VT_DATE;
  raw.dblVal = days;
  return OleVariant::CopyOf(raw);
}

TEST_F(MonitorTest, TimeoutLinesAndParametersByClientId) {
  // The formats of en-US, whatever the user's are.
  ASSERT_TRUE(platform::UseFormatsOf(1033));
  struct UserFormatsAfter {
    ~UserFormatsAfter() { platform::UseFormatsOf(0); }
  } restore;
  const struct {
    const char* name;
    OleVariant id;
    bool no_id_item;
    const char* log;
    const char* client;
  } cases[] = {
      {"integer", OleVariant(7), false, "log1 Timeout: 7", "i4:7"},
      {"fraction", OleVariant(5.5), false, "log1 Timeout: 5.5", "r8:5.5"},
      {"text", OleVariant("Ab c"), false, "log1 Timeout: Ab c", "bstr:Ab c"},
      {"row without the client variable", OleVariant(), true, "log1 Timeout", "null"},
      {"empty text", OleVariant(""), false, "log1 Timeout", "bstr:"},
      // A date is a date and a time in the system's format, as the host's
      // runtime writes one, not the number it is made of.
      {"date and time", Date(45000.5), false, "log1 Timeout: 3/15/2023 12:00:00 PM",
       "vt7:3/15/2023 12:00:00 PM"},
      {"date at midnight", Date(45000), false, "log1 Timeout: 3/15/2023", "vt7:3/15/2023"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Start(Watching({{"a", 1000, "EA"}}));
    if (c.no_id_item)
      Feed({{Var("A")}});
    else
      Feed({{Id(c.id), Var("A")}});
    Run(1000);
    EXPECT_EQ(Take(), (Journal{c.log, std::string("event EA ") + c.client + " bstr:a",
                               "log1 Generating event: EA"}));
  }
}

TEST_F(MonitorTest, TextsComeFromOutside) {
  Start(Watching({{"a", 1000, "EA"}}));
  monitor_->SetTexts({"Zeit um", "Ereignis"});
  Feed({{Id(7), Var("a")}});
  Run(1000);
  EXPECT_EQ(Take(), (Journal{"log1 Zeit um: 7", "event EA i4:7 bstr:a", "log1 Ereignis: EA"}));
}

TEST_F(MonitorTest, WatchesDueInOneTickFireInCreationThenRowOrder) {
  MonitorSettings s = Watching({{"a", 1000, "EA"}, {"b", 1000, "EB"}});
  s.wait_data = false;
  Start(s);
  // IDs of mixed kinds, so neither their values nor their hashes give the
  // creation order.
  std::vector<OleVariant> ids;
  for (int i = 0; i < 24; ++i) {
    if (i % 3 == 0) ids.emplace_back(std::string(1, static_cast<char>('z' - i)));
    if (i % 3 == 1) ids.emplace_back(int32_t{1000 - i});
    if (i % 3 == 2) ids.emplace_back(0.5 + i);
  }
  for (const OleVariant& id : ids) Feed({{Id(id), Var("other")}});
  // Restart a in reverse order: the later a client was created, the earlier
  // its watch of a falls due; b stays due first everywhere.
  for (size_t i = ids.size(); i-- > 0;) {
    clock_.Advance(1);
    Feed({{Id(ids[i]), Var("a")}});
  }
  clock_.Advance(2000);
  monitor_->ChkTimeoutsTimer();
  std::vector<test::SeenEvent> events = sink_.Events();
  ASSERT_EQ(events.size(), 2 * ids.size());
  for (size_t i = 0; i < ids.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(events[2 * i].name, "EA");
    EXPECT_EQ(events[2 * i].client, test::Describe(ids[i].Raw()));
    EXPECT_EQ(events[2 * i].parser, "bstr:a");
    EXPECT_EQ(events[2 * i + 1].name, "EB");
    EXPECT_EQ(events[2 * i + 1].client, test::Describe(ids[i].Raw()));
    EXPECT_EQ(events[2 * i + 1].parser, "bstr:b");
  }
}

TEST_F(MonitorTest, TimeoutCarriesTheClientsIdResumeTheRowsId) {
  MonitorSettings s = Watching({{"a", 1000, "EA"}});
  s.event_resume = true;
  Start(s);
  Feed({{Id(5), Var("a")}});
  Run(1000);
  EXPECT_EQ(sink_.Events().at(0).client, "i4:5");
  Take();
  Feed({{Id(5.0), Var("a")}});
  EXPECT_EQ(sink_.Events().at(0).client, "r8:5");
}

// ---- Data intake ----

TEST_F(MonitorTest, RowsAndTheirClients) {
  Start(Watching({{"a", 1000, "EA"}, {"b", 1000, "EB"}}));
  const OleVariant null = OleVariant::Null();
  auto running = [&](const OleVariant& id, size_t row) {
    auto w = Watch(id, row);
    return w && !w->waiting_for_data;
  };

  SCOPED_TRACE("a list without markers is one row; its last item may carry the ID");
  Feed({{Var("a"), Id(1)}});
  EXPECT_TRUE(running(OleVariant(1), 0));
  EXPECT_FALSE(Watch(null, 0));

  SCOPED_TRACE("the client variable in any letter case; a later one wins");
  Feed({{{"clientId", OleVariant(9)}, Var("b"), {"CLIENTID", OleVariant(2)}}});
  EXPECT_TRUE(running(OleVariant(2), 1));
  EXPECT_FALSE(Watch(OleVariant(9), 1));

  SCOPED_TRACE("each row finds its own client; a row without the variable is the null client");
  Feed({{Id(3), Var("a")}, {Var("b")}, {Id(3), Var("b")}});
  EXPECT_TRUE(running(OleVariant(3), 0));
  EXPECT_TRUE(running(OleVariant(3), 1));
  EXPECT_TRUE(running(null, 1));
  EXPECT_FALSE(running(null, 0));
  EXPECT_EQ(monitor_->ClientCount(), 4u);

  SCOPED_TRACE("the marker is matched with its letter case");
  ParamsListPtr data = Data({{Id(4), Var("a")}});
  data->Add("$new_row$", OleVariant::Null());
  data->Add("Clientid", OleVariant(5));
  data->Add("b", OleVariant(1));
  monitor_->ProcessData(data.get());
  EXPECT_FALSE(Watch(OleVariant(4), 0));
  EXPECT_TRUE(running(OleVariant(5), 0));
  EXPECT_TRUE(running(OleVariant(5), 1));

  SCOPED_TRACE("a variable no watch names still creates the client, nothing else");
  Feed({{Id(6), Var("zzz")}});
  EXPECT_FALSE(running(OleVariant(6), 0));
  EXPECT_FALSE(running(OleVariant(6), 1));
  EXPECT_EQ(monitor_->ClientCount(), 6u);

  SCOPED_TRACE("no data at all");
  monitor_->ProcessData(nullptr);
  Feed({});
  EXPECT_EQ(monitor_->ClientCount(), 6u);
  EXPECT_TRUE(timer_.Armed());
}

TEST_F(MonitorTest, WithoutPerClientControlAllDataFeedsOneClient) {
  MonitorSettings s = Watching({{"a", 1000, "EA"}});
  s.check_client = false;
  Start(s);
  Feed({{Id(1), Var("a")}, {Id(2)}});
  clock_.Advance(600);
  Feed({{Id(2), Var("a")}});
  EXPECT_EQ(monitor_->ClientCount(), 1u);
  Run(999);
  EXPECT_EQ(Take(), Journal{}) << "client 2's data restarted the one watch";
  Run(1);
  EXPECT_EQ(Take(), (Journal{"log1 Timeout", "event EA null bstr:a", "log1 Generating event: EA"}));
}

TEST_F(MonitorTest, OnlyTheFirstWatchOfAVariableIsFed) {
  MonitorSettings s = Watching({{"a", 1000, "E1"}, {"a", 1500, "E2"}});
  s.wait_data = false;
  Start(s);
  for (int i = 0; i < 4; ++i) {
    Feed({{Id(7), Var("a"), Var("a")}});
    Run(500);
  }
  const std::vector<test::SeenEvent> events = sink_.Events();
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].name, "E2");
}

TEST_F(MonitorTest, OnlyItsOwnVariableFeedsAWatch) {
  // Names alike in length and in their first and last letters: three
  // letters (two watched), a few, more than two words.
  Start(Watching({{"a1b", 1000, "E1"},
                  {"t1_temp", 1000, "E2"},
                  {"pressure_north_inlet", 1000, "E3"},
                  {"a3b", 1000, "E4"}}));
  Feed({{Id(1), Var("a2b"), Var("t2_temp"), Var("pressure_south_inlet")}});
  for (size_t row = 0; row < 4; ++row)
    EXPECT_TRUE(Watch(OleVariant(1), row)->waiting_for_data) << row;
  Feed({{Id(1), Var("A1B"), Var("T1_temp"), Var("pressure_NORTH_inlet")}});
  for (size_t row = 0; row < 3; ++row)
    EXPECT_FALSE(Watch(OleVariant(1), row)->waiting_for_data) << row;
  EXPECT_TRUE(Watch(OleVariant(1), 3)->waiting_for_data);
}

TEST_F(MonitorTest, TheClientVariableCanBeWatchedItself) {
  Start(Watching({{"clientid", 1000, "EC"}}));
  Feed({{Id(7)}});
  EXPECT_FALSE(Watch(OleVariant(7), 0)->waiting_for_data);
  Run(1000);
  EXPECT_EQ(sink_.Events().size(), 1u);
}

TEST_F(MonitorTest, ClientsAreIndependent) {
  Start(Watching({{"a", 1000, "EA"}}));
  Feed({{Id(1), Var("a")}, {Id(2), Var("a")}});
  Run(600);
  Feed({{Id(1), Var("a")}});
  Run(400);
  EXPECT_EQ(Take(),
            (Journal{"log1 Timeout: 2", "event EA i4:2 bstr:a", "log1 Generating event: EA"}));
  Run(599);
  EXPECT_EQ(Take(), Journal{});
  Run(1);
  EXPECT_EQ(Take(),
            (Journal{"log1 Timeout: 1", "event EA i4:1 bstr:a", "log1 Generating event: EA"}));
}

Variant RawVariant(uint16_t vt, const void* value, size_t size) {
  Variant v;
  platform::VariantInit(&v);
  v.vt = vt;
  std::memcpy(&v.llVal, value, size);
  return v;
}
template <typename T>
OleVariant Typed(uint16_t vt, T value) {
  return OleVariant::CopyOf(RawVariant(vt, &value, sizeof value));
}

TEST_F(MonitorTest, ClientIdentity) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const OleVariant null = OleVariant::Null();
  const struct {
    const char* name;
    OleVariant first;
    OleVariant second;
    bool same;
  } cases[] = {
      {"integer and double of one value", OleVariant(5), OleVariant(5.0), true},
      {"two doubles", OleVariant(2.25), OleVariant(2.25), true},
      {"16-bit and 32-bit integer", Typed(platform::VT_I2, int16_t{5}), OleVariant(5), true},
      {"byte and integer", Typed(platform::VT_UI1, uint8_t{200}), OleVariant(200), true},
      {"currency 5.0000 and integer", Typed(platform::VT_CY, int64_t{50000}), OleVariant(5), true},
      {"single 0.5 and double 0.5", Typed(platform::VT_R4, 0.5f), OleVariant(0.5), true},
      {"-0.0 and 0", OleVariant(-0.0), OleVariant(0), true},
      {"NaN and NaN", OleVariant(nan), OleVariant(nan), true},
      {"5.5 and 5", OleVariant(5.5), OleVariant(5), false},
      {"2^53+1 and the nearest double", Typed(platform::VT_I8, (int64_t{1} << 53) + 1),
       OleVariant(9007199254740992.0), false},
      {"number and its text", OleVariant(5), OleVariant("5"), false},
      {"same text", OleVariant("abc"), OleVariant("abc"), true},
      {"OLE and 8-bit text", OleVariant("abc"), OleVariant::AnsiString("abc"), true},
      {"letter case counts", OleVariant("abc"), OleVariant("ABC"), false},
      {"spaces count", OleVariant("abc"), OleVariant("abc "), false},
      {"long texts", OleVariant("a client id of some length 1"),
       OleVariant("a client id of some length 1"), true},
      {"long texts, last byte differs", OleVariant("a client id of some length 1"),
       OleVariant("a client id of some length 2"), false},
      {"empty text and empty", OleVariant(""), OleVariant(), false},
      {"null and empty", null, OleVariant(), false},
      {"null and null", null, null, true},
      {"empty and empty", OleVariant(), OleVariant(), true},
      {"null and 0", null, OleVariant(0), false},
      {"true and -1", OleVariant(true), OleVariant(-1), false},
      {"true and true", OleVariant(true), OleVariant(true), true},
      // Characters the 8-bit code page lacks are still characters of their own.
      {"OLE texts differing outside the code page",
       OleVariant(std::u16string_view(u"\u0100"
                                      u"1")),
       OleVariant(std::u16string_view(u"\u4E00"
                                      u"1")),
       false},
      {"same OLE text outside the code page",
       OleVariant(std::u16string_view(u"\u4E00"
                                      u"1")),
       OleVariant(std::u16string_view(u"\u4E00"
                                      u"1")),
       true},
      {"long OLE texts differing outside the code page",
       OleVariant(std::u16string_view(u"station \u0100 north")),
       OleVariant(std::u16string_view(u"station \u4E00 north")), false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Start(Watching({{"a", 1000, "EA"}}));
    ParamsListPtr data = Data({{Var("a")}});
    // Values go in raw, as a host list carries them (an 8-bit string too).
    OleVariant::CopyInto(&data->Add("CLIENTID", null)->Value, c.first.Raw());
    data->AddNewRow();
    OleVariant::CopyInto(&data->Add("CLIENTID", null)->Value, c.second.Raw());
    monitor_->ProcessData(data.get());
    EXPECT_EQ(monitor_->ClientCount(), c.same ? 1u : 2u);
    EXPECT_TRUE(Watch(c.first, 0));
    EXPECT_TRUE(Watch(c.second, 0));
  }
}

TEST_F(MonitorTest, OleTextIdsKeepTheirOwnCharacters) {
  Start(Watching({{"a", 1000, "EA"}}));
  const OleVariant macron(
      std::u16string_view(u"\u0100"
                          u"1"));
  const OleVariant cjk(
      std::u16string_view(u"\u4E00"
                          u"1"));
  Feed({{Id(macron), Var("a")}, {Id(cjk), Var("a")}});
  EXPECT_EQ(monitor_->ClientCount(), 2u);
  Run(1000);
  const std::vector<test::SeenEvent> events = sink_.Events();
  ASSERT_EQ(events.size(), 2u);
  EXPECT_EQ(events[0].client, "bstr:\\u01001");
  EXPECT_EQ(events[1].client, "bstr:\\u4E001");
}

// Texts of one length differ only in their bytes: enough of them that some
// meet in the index, in both the OLE and the 8-bit form (the same clients).
TEST_F(MonitorTest, ManyTextIdsOfOneLengthStayApart) {
  constexpr int kIds = 20000;
  static const struct {
    const char* name;
    const char* format;
  } cases[] = {
      {"short texts", "id%05d"},
      {"long texts", "a client named %05d"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Start(Watching({{"a", 1000, "EA"}}));
    for (bool ansi : {false, true}) {
      ParamsListPtr data = NewParamsList(kRowsParamsListClass);
      for (int i = 0; i < kIds; ++i) {
        char id[32];
        std::snprintf(id, sizeof id, c.format, i);
        if (i > 0) data->AddNewRow();
        data->Add("CLIENTID", ansi ? OleVariant::AnsiString(id) : OleVariant(id));
      }
      monitor_->ProcessData(data.get());
      EXPECT_EQ(monitor_->ClientCount(), static_cast<size_t>(kIds));
    }
  }
}

TEST_F(MonitorTest, ClientIdsOfUnsupportedTypesFailTheCallAfterTheRowsBefore) {
  static const struct {
    const char* name;
    uint16_t vt;
  } cases[] = {
      {"error code", platform::VT_ERROR},
      {"object", 9},
      {"unknown object", platform::VT_UNKNOWN},
      {"variant", platform::VT_VARIANT},
      {"decimal", 14},
      {"reference to an integer", platform::VT_BYREF | platform::VT_I4},
      {"array of integers", 0x2000 | platform::VT_I4},
      {"undefined type code", 0x48},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Start(Watching({{"a", 1000, "EA"}}));
    ParamsListPtr data = Data({{Id(1), Var("a")}, {Id(2), Var("a")}, {Id(3), Var("a")}});
    // The second row's ID, item 3 (after the first row and its marker).
    Variant& id = data->Item(3)->Value;
    ASSERT_EQ(test::Describe(id), "i4:2");
    OleVariant::ClearRaw(&id);
    id.vt = c.vt;
    id.llVal = 0;
    EXPECT_ANY_THROW(monitor_->ProcessData(data.get()));
    id.vt = platform::VT_EMPTY;  // nothing for the list to free
    EXPECT_EQ(monitor_->ClientCount(), 1u) << "only the row before the failing one";
    ASSERT_TRUE(Watch(OleVariant(1), 0));
    EXPECT_FALSE(Watch(OleVariant(1), 0)->waiting_for_data);
    EXPECT_FALSE(Watch(OleVariant::Null(), 0)) << "no row joined the null client";
    EXPECT_TRUE(timer_.Armed());
    Run(1000);
    EXPECT_EQ(sink_.Events().size(), 1u);
    Take();
  }
}

// ---- Scheduling ----

TEST_F(MonitorTest, NextIntervalFollowsTheEarliestDeadline) {
  Start(Watching({{"a", 5000, "EA"}, {"b", 2000, "EB"}}));
  EXPECT_EQ(timer_.Interval(), TimeoutMonitor::kIdleIntervalMs) << "no clients";
  Feed({{Id(1)}});
  EXPECT_EQ(timer_.MsUntilTick(), 3000) << "every watch waits";
  Feed({{Id(1), Var("a")}});
  EXPECT_EQ(timer_.MsUntilTick(), 5000);
  clock_.Advance(1000);
  Feed({{Id(2), Var("b")}});
  EXPECT_EQ(timer_.MsUntilTick(), 2000);
  clock_.Advance(500);
  Feed({{Id(1), Var("a")}});
  EXPECT_EQ(timer_.MsUntilTick(), 1500) << "client 2 is still first";
  Feed({{Id(2), Var("b")}});
  EXPECT_EQ(timer_.MsUntilTick(), 2000) << "restarting the earliest moves the tick";
  Run(2000);
  EXPECT_EQ(sink_.Events().size(), 1u);
  EXPECT_EQ(timer_.MsUntilTick(), 3000) << "client 1, restarted at 1500";
  Run(3000);
  EXPECT_EQ(sink_.Events().size(), 2u);
  EXPECT_EQ(timer_.Interval(), TimeoutMonitor::kIdleIntervalMs) << "every watch reported";
}

// Data for a client that is not the next due leaves the timer as it is set
// (no call to the timer per data portion); data for the next due client
// moves the tick to the one due after it.
TEST_F(MonitorTest, OnlyDataForTheNextDueClientMovesTheTick) {
  Start(Watching({{"a", 1000, "EA"}}));
  Feed({{Id(1), Var("a")}});
  clock_.Advance(100);
  Feed({{Id(2), Var("a")}});
  const int set = timer_.Schedules();
  for (int i = 0; i < 5; ++i) {
    clock_.Advance(100);
    Feed({{Id(2), Var("a")}, {Id(3), Var("a")}});
  }
  EXPECT_EQ(timer_.Schedules(), set) << "no call to the timer: client 1 stays the next due";
  EXPECT_EQ(timer_.MsUntilTick(), 400);
  Feed({{Id(1), Var("a")}});
  EXPECT_EQ(timer_.MsUntilTick(), 1000) << "clients 2 and 3, fed just now as well";
  Run(1000);
  EXPECT_EQ(sink_.Events().size(), 3u);
}

// Clients whose short watch times out and comes back every cycle, beside a
// watch of an hour: each client's one entry in the deadline queue moves,
// rather than a new one being added per cycle.
TEST_F(MonitorTest, TheDeadlineQueueStaysWithinTheClientsUnderFlappingData) {
  Start(Watching({{"short", 1000, "ES"}, {"long", 3600000, "EL"}}));
  constexpr int kClients = 200;
  constexpr int kCycles = 50;
  auto feed_all = [&](std::initializer_list<const char*> vars) {
    ParamsListPtr data = NewParamsList(kRowsParamsListClass);
    for (int c = 0; c < kClients; ++c) {
      if (c > 0) data->AddNewRow();
      data->Add("CLIENTID", OleVariant(c));
      for (const char* v : vars) data->Add(v, OleVariant(1));
    }
    monitor_->ProcessData(data.get());
  };
  feed_all({"short", "long"});
  size_t most = 0;
  for (int cycle = 0; cycle < kCycles; ++cycle) {
    Run(1500);
    feed_all({"short"});
    most = std::max(most, monitor_->QueuedDeadlines());
  }
  EXPECT_LE(most, static_cast<size_t>(kClients));
  EXPECT_EQ(sink_.Events().size(), static_cast<size_t>(kClients * kCycles));
}

TEST_F(MonitorTest, DeadlinesPassingDuringATickAreTakenAtOnce) {
  Start(Watching({{"a", 1000, "EA"}}));
  Feed({{Id(1), Var("a")}});
  clock_.Advance(5);
  Feed({{Id(2), Var("a")}});
  // A slow event: client 2 falls due while client 1's event is raised.
  sink_.on_event = [&] { clock_.Advance(20); };
  Run(995);
  sink_.on_event = nullptr;
  const std::vector<test::SeenEvent> events = sink_.Events();
  ASSERT_EQ(events.size(), 2u);
  EXPECT_EQ(events[0].client, "i4:1");
  EXPECT_EQ(events[1].client, "i4:2");
  EXPECT_EQ(timer_.Interval(), TimeoutMonitor::kIdleIntervalMs);
}

TEST_F(MonitorTest, PassedDeadlineAsksForATickIn10MsThatDataCannotDelay) {
  Start(Watching({{"a", 1000, "EA"}}));
  Feed({{Id(1), Var("a")}, {Id(2), Var("a")}});
  clock_.Advance(1000);
  sink_.FailNextEvents(1);
  EXPECT_THROW(monitor_->ChkTimeoutsTimer(), std::runtime_error);
  EXPECT_EQ(timer_.Interval(), TimeoutMonitor::kOverdueIntervalMs) << "client 2 waits";
  EXPECT_EQ(timer_.MsUntilTick(), 10);
  EXPECT_EQ(monitor_->ScheduleCheck(), TimeoutMonitor::kOverdueIntervalMs);
  for (int i = 0; i < 3; ++i) {
    clock_.Advance(4);
    Feed({{Id(3), Var("a")}});
  }
  EXPECT_EQ(timer_.MsUntilTick(), -2) << "data did not move the due tick";
  monitor_->ChkTimeoutsTimer();
  ASSERT_EQ(sink_.Events().size(), 1u);
  EXPECT_EQ(sink_.Events()[0].client, "i4:2");
  EXPECT_EQ(timer_.MsUntilTick(), 1000) << "client 3, fed just now";
}

TEST_F(MonitorTest, TimerStopsDuringATick) {
  class StopCheckingSink : public MonitorSink {
   public:
    explicit StopCheckingSink(RecordingTimer& t) : timer(t) {}
    void RaiseEvent(bool, std::string_view, const TvopParamsList*) override {
      stopped_while_firing = !timer.Armed();
    }
    void SendLog(uint8_t, std::string_view) override {}
    RecordingTimer& timer;
    bool stopped_while_firing = false;
  } sink(timer_);
  TimeoutMonitor monitor(sink, timer_,
                         std::make_shared<const MonitorSettings>(Watching({{"a", 1000, "EA"}})));
  ParamsListPtr data = Data({{Id(1), Var("a")}});
  monitor.ProcessData(data.get());
  clock_.Advance(1000);
  monitor.ChkTimeoutsTimer();
  EXPECT_TRUE(sink.stopped_while_firing);
  EXPECT_TRUE(timer_.Armed());
}

// The engine's account of its memory grows with its clients, and each part
// is at least what the clients need of it.
TEST_F(MonitorTest, MemoryAccountFollowsTheClients) {
  Start(Watching({{"a", 1000, "EA"}}));
  const TimeoutMonitor::MemoryUse empty = monitor_->Memory();
  constexpr int kClients = 5000;
  ParamsListPtr data = NewParamsList(kRowsParamsListClass);
  for (int c = 0; c < kClients; ++c) {
    if (c > 0) data->AddNewRow();
    data->Add("CLIENTID", OleVariant(c));
    data->Add("a", OleVariant(1));
  }
  monitor_->ProcessData(data.get());
  const TimeoutMonitor::MemoryUse use = monitor_->Memory();
  EXPECT_GE(use.records, kClients * sizeof(TClientListItem));
  EXPECT_GE(use.index_in_use, kClients * 4 * 4 / 3) << "four bytes a slot, at most 3/4 full";
  EXPECT_GE(use.index_blocks, use.index_in_use);
  EXPECT_GE(use.queue, kClients * (sizeof(int64_t) + sizeof(void*))) << "an entry per client";
  EXPECT_GT(use.records, empty.records);
  monitor_->ClearClients();
  EXPECT_EQ(monitor_->Memory().records, 0u);
}

// ---- Settings replacement ----

TEST_F(MonitorTest, ReplacingSettingsDropsEveryClient) {
  Start(Watching({{"a", 1000, "EA"}}));
  Feed({{Id(1), Var("a")}, {Id(2), Var("a")}});
  EXPECT_EQ(monitor_->ClientCount(), 2u);
  monitor_->ReplaceSettings(
      std::make_shared<const MonitorSettings>(Watching({{"b", 2000, "EB"}, {"a", 500, "EA2"}})));
  EXPECT_EQ(monitor_->ClientCount(), 0u);
  EXPECT_EQ(timer_.MsUntilTick(), 3000);
  Run(5000);
  EXPECT_EQ(Take(), Journal{}) << "the old watches are gone";
  Feed({{Id(1), Var("a")}});
  EXPECT_TRUE(Watch(OleVariant(1), 0)->waiting_for_data);
  Run(500);
  EXPECT_EQ(sink_.Events().at(0).name, "EA2");

  monitor_->ClearClients();
  EXPECT_EQ(monitor_->ClientCount(), 0u);
  EXPECT_EQ(monitor_->Settings()->rows.size(), 2u);
  monitor_->ReplaceSettings(nullptr);
  EXPECT_TRUE(monitor_->Settings()->rows.empty());
}

// ---- Failures ----

TEST_F(MonitorTest, AFailingEventNeitherStopsTheTimerNorLosesOtherClients) {
  Start(Watching({{"a", 1000, "EA"}}));
  Feed({{Id(1), Var("a")}, {Id(2), Var("a")}, {Id(3), Var("a")}});
  clock_.Advance(1000);
  sink_.FailNextEvents(1);
  EXPECT_THROW(monitor_->ChkTimeoutsTimer(), std::runtime_error);
  EXPECT_EQ(Take(), Journal{"log1 Timeout: 1"}) << "client 1's event failed";
  ASSERT_TRUE(timer_.Armed());
  EXPECT_EQ(timer_.MsUntilTick(), 10);
  Run(10);
  EXPECT_EQ(Take(),
            (Journal{"log1 Timeout: 2", "event EA i4:2 bstr:a", "log1 Generating event: EA",
                     "log1 Timeout: 3", "event EA i4:3 bstr:a", "log1 Generating event: EA"}));
}

// A resume event that fails fails its data call; the data still restarted
// the watch, and the events after the failing one go out all the same.
TEST_F(MonitorTest, AFailingResumeEventLeavesTheMonitorUsable) {
  MonitorSettings s = Watching({{"a", 1000, "EA"}});
  s.event_resume = true;
  Start(s);
  Feed({{Id(1), Var("a")}, {Id(2), Var("a")}});
  Run(1000);
  Take();
  sink_.FailNextEvents(1);
  ParamsListPtr data = Data({{Id(1), Var("a")}, {Id(2), Var("a")}});
  EXPECT_THROW(monitor_->ProcessData(data.get()), std::runtime_error);
  EXPECT_EQ(Take(), (Journal{"log2 Generating event: EA-RESUME", "log2 Generating event: EA-RESUME",
                             "event EA-RESUME i4:2 bstr:a"}))
      << "client 1's event failed";
  EXPECT_FALSE(Watch(OleVariant(1), 0)->timed_out) << "the data restarted the watch";
  ASSERT_TRUE(timer_.Armed());
  Run(1000);
  EXPECT_EQ(Take().size(), 6u) << "both silences reported";
  Feed({{Id(1), Var("a")}});
  EXPECT_EQ(Take(), (Journal{"log2 Generating event: EA-RESUME", "event EA-RESUME i4:1 bstr:a"}));
}

// ---- The wrap of the tick counter and long timeouts ----

class MonitorWrapTest : public MonitorTest {
 protected:
  MonitorWrapTest() : MonitorTest(0xFFFFFFFFu - 4095) {}
};

TEST_F(MonitorWrapTest, NothingFiresEarlyOrLateAcrossTheWrap) {
  static const struct {
    uint32_t fed_after;  // ms after the start, which lies 4096 ms before the wrap
    int64_t timeout;
  } cases[] = {
      {0, 1000}, {0, 5000}, {3000, 1096}, {3000, 2000}, {4095, 1}, {4096, 1000}, {0, 50000},
  };
  const uint32_t start = clock_.Now();
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.fed_after) + "+" + std::to_string(c.timeout));
    clock_.Set(start);
    Start(Watching({{"a", c.timeout, "EA"}}));
    Run(c.fed_after);
    Feed({{Id(1), Var("a")}});
    Run(c.timeout - 1);
    EXPECT_EQ(sink_.Events().size(), 0u);
    Run(1);
    EXPECT_EQ(sink_.Events().size(), 1u);
    Take();
  }
}

TEST_F(MonitorWrapTest, LongTimeoutsNeitherOverflowNorFireEarly) {
  const int64_t kThousandHours = int64_t{1000} * 3600000;
  Start(Watching({{"a", kThousandHours, "EA"}, {"b", kMaxTimeoutMs, "EB"}}));
  Feed({{Id(1), Var("a"), Var("b")}});
  EXPECT_EQ(timer_.Interval(), TimeoutMonitor::kMaxIntervalMs);
  Run(kThousandHours - 1);
  EXPECT_EQ(sink_.Events().size(), 0u);
  Run(1);
  ASSERT_EQ(sink_.Events().size(), 1u);
  EXPECT_EQ(sink_.Events()[0].name, "EA");
  EXPECT_EQ(timer_.Interval(), TimeoutMonitor::kMaxIntervalMs);
}

}  // namespace
}  // namespace tarvel
