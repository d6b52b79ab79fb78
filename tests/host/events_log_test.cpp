// Events, log lines, custom commands and data calls between the module and
// a real host window, through the exports.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <future>
#include <thread>

#include "Plugins/vopPluginModule.h"
#include "host/host_test_util.h"
#include "host/host_window.h"
#include "platform/thread.h"

namespace tarvel::test {
namespace {

using platform::kWmCopyData;

constexpr uint32_t kTag = 0x5150;

// A host window on a thread that never pumps its messages, so that every
// send to it times out; the thread ends with the object.
class StalledHostWindow {
 public:
  StalledHostWindow()
      : owner_([this] {
          RecordingWindow window;
          made_.set_value(window.handle());
          done_.get_future().wait();
        }) {
    handle_ = made_.get_future().get();
  }
  ~StalledHostWindow() {
    done_.set_value();
    owner_.join();
  }
  platform::WindowHandle handle() const { return handle_; }

 private:
  std::promise<platform::WindowHandle> made_;
  std::promise<void> done_;
  platform::WindowHandle handle_{};
  std::thread owner_;
};

class HostedProbeTest : public ProbeModuleTest {
 protected:
  // Load loads an instance whose host window is window (0: none).
  void Load(uint32_t id, platform::WindowHandle host_window) {
    HostCall load(id, "LOAD");
    load.rec.HostTag = kTag;
    load.Param("MessagesProcessorHandle", OleVariant(static_cast<int32_t>(host_window)));
    ASSERT_EQ(module->ExecutePluginCommand(load), 0);
  }
  int32_t Run(uint32_t id, const char* command,
              std::initializer_list<std::pair<const char*, OleVariant>> params) {
    HostCall call(id, command);
    for (const auto& [name, value] : params) call.Param(name, value);
    return module->ExecutePluginCommand(call);
  }
  // Collect runs the host's two-call protocol and returns the rows as text.
  std::vector<std::string> Collect(uint32_t id) {
    HostCall first(id);
    EXPECT_EQ(module->GetEvents(first), 0);
    EXPECT_EQ(+first.rec.Output.Kind, 1);
    auto* list = reinterpret_cast<TvopParamsList*>(first.rec.Output.Data);
    std::vector<std::string> rows;
    std::string row;
    for (int32_t i = 0; list && i < list->Count; ++i) {
      const TvopParamsListItem* item = list->Item(i);
      if (item->NameView() == "$NEW_ROW$") {
        EXPECT_EQ(item->Value.vt, platform::VT_NULL);
        rows.push_back(row);
        row.clear();
        continue;
      }
      row += std::string(item->NameView()) + "=" + OleVariant::CopyOf(item->Value).ToAnsi() + ";";
    }
    EXPECT_TRUE(row.empty()) << "unclosed row " << row;
    HostCall second(id);
    second.rec.Output = first.rec.Output;
    EXPECT_EQ(module->GetEvents(second), 0);
    EXPECT_EQ(+second.rec.Output.Data, +first.rec.Output.Data);
    return rows;
  }
  std::string LogText(uint32_t id, int32_t size = 4096) {
    std::vector<char> buf(static_cast<size_t>(size) + 1);
    HostCall call(id);
    call.rec.Input.Data = reinterpret_cast<uintptr_t>(buf.data());
    call.rec.Input.Size = size;
    int32_t n = module->GetLogEx(call);
    return std::string(buf.data(), static_cast<size_t>(n > 0 ? n : 0));
  }
  RecordingWindow host;
};

TEST_F(HostedProbeTest, EventRowsAreQueuedAndAnnounced) {
  Load(1, host.handle());
  host.Take();
  EXPECT_EQ(Run(1, "RAISE",
                {{"NAME", OleVariant("client-timeout")},
                 {"P1", OleVariant(5)},
                 {"P2", OleVariant("TEMP")}}),
            0);
  EXPECT_EQ(Run(1, "RAISE", {{"NAME", OleVariant("g\xe4")}, {"GLOBAL", OleVariant(1)}}), 0);
  // One notice stands for everything queued until the host collects.
  auto messages = host.Take();
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0].msg, PLUGIN_MSG_EVENTS);
  EXPECT_EQ(messages[0].wparam, kTag);
  auto rows = Collect(1);
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[0], "EVENT-TYPE=CLIENT-TIMEOUT;CLIENTID-ITEM=5;PARSER-ITEM=TEMP;");
  EXPECT_EQ(rows[1], "EVENT-GLOBAL=True;EVENT-TYPE=G\xc4;");
  EXPECT_TRUE(Collect(1).empty());
  // Once the host has collected, the next event is announced again.
  Run(1, "RAISE", {{"NAME", OleVariant("later")}});
  messages = host.Take();
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0].msg, PLUGIN_MSG_EVENTS);
  EXPECT_EQ(Collect(1).size(), 1u);
}

TEST_F(HostedProbeTest, ABurstPastTheQueueLimitReachesAHostOnTheRaisingThread) {
  // The host window belongs to the thread that raises the events, as the
  // check timer's thread does in a real host: it cannot collect until the
  // burst ends, so the module hands it the queue before the limit.
  constexpr int kEvents = 25000;  // two items each: past the limit twice
  std::vector<std::string> got;
  platform::WindowHandle collector = platform::CreateMessageWindow(
      [&](platform::WindowHandle, uint32_t msg, uintptr_t, intptr_t) -> intptr_t {
        if (msg == PLUGIN_MSG_EVENTS)
          for (std::string& row : Collect(13)) got.push_back(std::move(row));
        return 0;
      });
  ASSERT_NE(collector, 0u);
  Load(13, collector);
  ASSERT_EQ(Run(13, "RAISE-MANY", {{"NAME", OleVariant("e")}, {"COUNT", OleVariant(kEvents)}}), 0);
  platform::ProcessPendingMessages();
  platform::DestroyMessageWindow(collector);
  ASSERT_EQ(got.size(), static_cast<size_t>(kEvents));
  for (int i = 0; i < kEvents; i += 997)
    EXPECT_EQ(got[static_cast<size_t>(i)], "EVENT-TYPE=E-" + std::to_string(i) + ";");
}

TEST_F(HostedProbeTest, GetEventsProtocolAndEventsRaisedWhileTheHostReads) {
  Load(2, host.handle());
  Run(2, "RAISE", {{"NAME", OleVariant("one")}});
  HostCall first(2);
  ASSERT_EQ(module->GetEvents(first), 0);
  auto* handed = reinterpret_cast<TvopParamsList*>(first.rec.Output.Data);
  ASSERT_NE(handed, nullptr);
  EXPECT_EQ(handed->Count, 2);
  // Raised while the host reads: the handed-out list does not change.
  Run(2, "RAISE", {{"NAME", OleVariant("two")}});
  EXPECT_EQ(handed->Count, 2);
  // A host may take the notice of "two" for the collection it is in the
  // middle of; the module announces what waits once more when the host
  // ends that collection.
  host.Take();
  HostCall second(2);
  second.rec.Output = first.rec.Output;
  ASSERT_EQ(module->GetEvents(second), 0);
  EXPECT_EQ(handed->Count, 0);
  auto notices = host.Take();
  ASSERT_EQ(notices.size(), 1u);
  EXPECT_EQ(notices[0].msg, PLUGIN_MSG_EVENTS);
  EXPECT_EQ(notices[0].wparam, kTag);
  // Emptying again is harmless (and announces "two" again).
  ASSERT_EQ(module->GetEvents(second), 0);
  host.Take();
  // The event raised in between is collected next time, once.
  auto rows = Collect(2);
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0], "EVENT-TYPE=TWO;");
  EXPECT_TRUE(Collect(2).empty());
  // With nothing left waiting, ending a collection announces nothing.
  EXPECT_TRUE(host.Take().empty());
}

TEST_F(HostedProbeTest, AFullQueueIsDroppedBeforeTheNextEvent) {
  Load(3, 0);
  ASSERT_EQ(Run(3, "RAISE-MANY", {{"NAME", OleVariant("e")}, {"COUNT", OleVariant(10001)}}), 0);
  EXPECT_EQ(State(module, 3)["pending"], "20002");
  ASSERT_EQ(Run(3, "RAISE", {{"NAME", OleVariant("last")}}), 0);
  auto rows = Collect(3);
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0], "EVENT-TYPE=LAST;");
}

TEST_F(HostedProbeTest, WithoutAHostWindowEventsWaitSilentlyAndLogLinesAreDropped) {
  Load(4, 0);
  Run(4, "RAISE", {{"NAME", OleVariant("quiet")}});
  Run(4, "LOG", {{"TEXT", OleVariant("dropped")}});
  Run(4, "ADDLOG", {{"TEXT", OleVariant("dropped too")}});
  EXPECT_TRUE(host.Take().empty());
  EXPECT_EQ(LogText(4), "");
  EXPECT_EQ(Collect(4).size(), 1u);
}

TEST_F(HostedProbeTest, LogLinesGoStraightToAnAnsweringHost) {
  Load(5, host.handle());
  host.Take();
  struct {
    int level;
    const char* text;
    const char* wire;
  } cases[] = {
      {1, "No data for processing", "\x02Probe. No data for processing"},
      {2, "two\r\nlines", "\x03Probe. two  lines"},
      {0, "", "\x01Probe. "},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    Run(5, "LOG", {{"LEVEL", OleVariant(c.level)}, {"TEXT", OleVariant(c.text)}});
    auto messages = host.Take();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].msg, kWmCopyData);
    EXPECT_EQ(messages[0].wparam, kTag);
    EXPECT_EQ(messages[0].copydata_kind, 2u);
    EXPECT_EQ(messages[0].text, c.wire);
  }
  // Queued lines go first, as one batch, then the new line.
  for (const char* t : {"a", "b", "c"}) Run(5, "ADDLOG", {{"TEXT", OleVariant(t)}});
  auto notices = host.Take();
  ASSERT_EQ(notices.size(), 3u);
  EXPECT_EQ(notices[0].msg, PLUGIN_MSG_LOG);
  Run(5, "LOG", {{"TEXT", OleVariant("d")}});
  auto messages = host.Take();
  ASSERT_EQ(messages.size(), 2u);
  EXPECT_EQ(messages[0].copydata_kind, 1u);
  EXPECT_EQ(messages[0].text, "\x02Probe. a\r\n\x02Probe. b\r\n\x02Probe. c\r\n");
  EXPECT_EQ(messages[1].copydata_kind, 2u);
  EXPECT_EQ(messages[1].text, "\x02Probe. d");
  EXPECT_EQ(LogText(5), "");
}

TEST_F(HostedProbeTest, AHostThatDoesNotAnswerGetsItsLinesThroughGetLogEx) {
  StalledHostWindow stalled;
  Load(6, stalled.handle());
  Run(6, "ADDLOG", {{"TEXT", OleVariant("queued")}});
  Run(6, "LOG", {{"TEXT", OleVariant("late")}});  // waits out the send, then queues
  EXPECT_EQ(LogText(6), "\x02Probe. queued\r\n\x02Probe. late\r\n");
}

// A log batch: the lines reach the host together, after the lines queued
// before, in as few messages as its size allows, in order.
TEST_F(HostedProbeTest, ALogBatchReachesTheHostTogetherAfterTheQueuedLines) {
  Load(14, host.handle());
  for (const char* t : {"a", "b"}) Run(14, "ADDLOG", {{"TEXT", OleVariant(t)}});
  host.Take();
  ASSERT_EQ(Run(14, "LOG-BATCH", {{"TEXT", OleVariant("x")}, {"COUNT", OleVariant(3)}}), 0);
  auto messages = host.Take();
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0].msg, kWmCopyData);
  EXPECT_EQ(messages[0].wparam, kTag);
  EXPECT_EQ(messages[0].copydata_kind, 1u);
  EXPECT_EQ(
      messages[0].text,
      "\x02Probe. a\r\n\x02Probe. b\r\n\x02Probe. x-0\r\n\x02Probe. x-1\r\n\x02Probe. x-2\r\n");
  EXPECT_EQ(LogText(14), "");

  // Past the batch's size the lines go in several messages.
  const std::string long_text(1000, 'y');
  ASSERT_EQ(Run(14, "LOG-BATCH", {{"TEXT", OleVariant(long_text)}, {"COUNT", OleVariant(100)}}), 0);
  messages = host.Take();
  EXPECT_GT(messages.size(), 1u);
  std::string all;
  for (const auto& m : messages) {
    EXPECT_EQ(m.copydata_kind, 1u);
    EXPECT_LE(m.text.size(), TvopPlugin::kLogBatchBytes + long_text.size() + 16);
    all += m.text;
  }
  std::string expected;
  for (int i = 0; i < 100; ++i)
    expected += "\x02Probe. " + long_text + "-" + std::to_string(i) + "\r\n";
  EXPECT_EQ(all, expected);
}

TEST_F(HostedProbeTest, ALogBatchAHostDoesNotAnswerWaitsForGetLogEx) {
  StalledHostWindow stalled;
  Load(15, stalled.handle());
  Run(15, "ADDLOG", {{"TEXT", OleVariant("queued")}});
  ASSERT_EQ(Run(15, "LOG-BATCH", {{"TEXT", OleVariant("x")}, {"COUNT", OleVariant(2)}}), 0);
  EXPECT_EQ(LogText(15), "\x02Probe. queued\r\n\x02Probe. x-0\r\n\x02Probe. x-1\r\n");
}

// A host whose window is on the raising thread and that is handed a full
// event queue mid-batch has the lines of those events already.
TEST_F(HostedProbeTest, AnEventQueueOfferedMidBatchComesAfterItsLines) {
  constexpr int kEvents = 12000;  // two items each: one offer past the limit
  size_t lines = 0, events = 0, offers_with_lines_behind = 0;
  platform::WindowHandle collector = platform::CreateMessageWindow(
      [&](platform::WindowHandle, uint32_t msg, uintptr_t, intptr_t lparam) -> intptr_t {
        if (msg == PLUGIN_MSG_EVENTS) {
          events += Collect(16).size();
          if (lines < events) ++offers_with_lines_behind;
        } else if (msg == kWmCopyData) {
          const auto* cd = reinterpret_cast<const platform::CopyData*>(lparam);
          const char* text = static_cast<const char*>(cd->lpData);
          lines += static_cast<size_t>(std::count(text, text + cd->cbData, '\n'));
          return 1;
        }
        return 0;
      });
  ASSERT_NE(collector, 0u);
  Load(16, collector);
  ASSERT_EQ(
      Run(16, "LOG-BATCH",
          {{"TEXT", OleVariant("e")}, {"COUNT", OleVariant(kEvents)}, {"EVENTS", OleVariant(1)}}),
      0);
  platform::ProcessPendingMessages();
  platform::DestroyMessageWindow(collector);
  EXPECT_EQ(events, static_cast<size_t>(kEvents));
  EXPECT_EQ(lines, static_cast<size_t>(kEvents));
  EXPECT_EQ(offers_with_lines_behind, 0u);
}

TEST_F(HostedProbeTest, GetLogExBufferProtocol) {
  Load(7, host.handle());
  for (const char* t : {"1", "2", "3"}) Run(7, "ADDLOG", {{"TEXT", OleVariant(t)}});
  const std::string expected = "\x02Probe. 1\r\n\x02Probe. 2\r\n\x02Probe. 3\r\n";
  const auto total = static_cast<int32_t>(expected.size());
  std::vector<char> buf(64, '#');
  HostCall small(7);
  small.rec.Input.Data = reinterpret_cast<uintptr_t>(buf.data());
  small.rec.Input.Size = total - 1;
  EXPECT_EQ(module->GetLogEx(small), 0);
  EXPECT_EQ(+small.rec.Output.Data, static_cast<uintptr_t>(total));
  EXPECT_EQ(+small.rec.Output.Kind, 5);
  HostCall no_buffer(7);
  no_buffer.rec.Input.Size = total;  // a size but no buffer
  EXPECT_EQ(module->GetLogEx(no_buffer), 0);
  HostCall exact(7);
  exact.rec.Input.Data = reinterpret_cast<uintptr_t>(buf.data());
  exact.rec.Input.Size = total;
  EXPECT_EQ(module->GetLogEx(exact), total);
  EXPECT_EQ(std::string(buf.data(), static_cast<size_t>(total)), expected);
  EXPECT_EQ(buf[static_cast<size_t>(total)], '#');  // no terminating zero
  EXPECT_EQ(LogText(7), "");
  Run(7, "ADDLOG", {{"TEXT", OleVariant("x")}});
  HostCall zero(7);
  EXPECT_EQ(module->GetLogEx(zero), 0);  // size 0 discards
  EXPECT_EQ(LogText(7), "");
}

TEST_F(HostedProbeTest, TheQueueKeepsTheNewestHundredLines) {
  Load(8, host.handle());
  for (int i = 0; i < 101; ++i) Run(8, "ADDLOG", {{"TEXT", OleVariant(std::to_string(i))}});
  std::string text = LogText(8, 1 << 16);
  EXPECT_EQ(text.find("Probe. 0\r\n"), std::string::npos);
  EXPECT_EQ(text.substr(0, 11), "\x02Probe. 1\r\n");
  EXPECT_NE(text.find("Probe. 100\r\n"), std::string::npos);
  EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 100);
}

TEST_F(HostedProbeTest, ACommandThatThrowsIsReportedAtLevelZero) {
  Load(9, host.handle());
  // A custom handler's exception is the command's own result, not a report.
  EXPECT_EQ(Run(9, "THROW", {}), -3);
  EXPECT_EQ(LogText(9), "");
  // One that escapes the command is reported.
  EXPECT_EQ(Run(9, "SET-ITEMS", {{"ITEMS", OleVariant("s|THROW")}}), -3);
  std::string text = LogText(9);
  ASSERT_FALSE(text.empty());
  EXPECT_EQ(text[0], '\x01');
  EXPECT_NE(text.find("probe failure"), std::string::npos);
  EXPECT_NE(text.find("runtime_error"), std::string::npos);
}

TEST_F(HostedProbeTest, CustomCommandsForAMenuExtension) {
  Run(10, "ADD-CUSTOM",
      {{"F1", OleVariant("A")},
       {"F2", OleVariant("B")},
       {"F3", OleVariant("C")},
       {"N1", OleVariant(1)},
       {"N2", OleVariant(0)}});
  Run(10, "ADD-CUSTOM",
      {{"F1", OleVariant("D")},
       {"F2", OleVariant("E")},
       {"F3", OleVariant("F")},
       {"N1", OleVariant(12)},
       {"N2", OleVariant(255)}});
  char buf[64] = {};
  HostCall call(10);
  call.rec.Input.Data = reinterpret_cast<uintptr_t>(buf);
  call.rec.Input.Size = 25;
  EXPECT_EQ(module->GetCustomCommands(call), 0);  // not a menu extension
  EXPECT_EQ(+call.rec.Output.Data, 0u);
  Run(10, "SET-TYPE", {{"TYPES", OleVariant(32 + 128)}});
  EXPECT_EQ(module->GetCustomCommands(call), 25);
  EXPECT_EQ(std::string(buf, 25), "A|B|C|1|0\r\nD|E|F|12|255\r\n");
  call.rec.Input.Size = 24;
  EXPECT_EQ(module->GetCustomCommands(call), 0);
  EXPECT_EQ(+call.rec.Output.Data, 25u);
}

TEST_F(HostedProbeTest, DataCallsFollowTheRolesTheHostNames) {
  Load(11, host.handle());
  auto rows = NewParamsList(kRowsParamsListClass);
  rows->Add("A", OleVariant(1));
  rows->AddNewRow();
  auto empty = NewParamsList(kRowsParamsListClass);
  struct Case {
    const char* name;
    TModuleTypes types;
    TvopParamsList* input;
    const char* mode;
    int32_t expected;
    const char* seen;  // items the handler saw; -2 not called, -1 no input
    const char* log;   // the single log line sent, or ""
    bool result_rows;
  } cases[] = {
      {"no roles: handler not called", 0, rows.get(), "count", 0, "-2", "", false},
      {"export without data", ModuleTypeBit(mttDataExport), nullptr, "count", 0, "-2",
       "\x02Probe. No data for processing", false},
      {"filter with an empty list", ModuleTypeBit(mttFilter), empty.get(), "count", 0, "-1", "",
       false},
      {"filter with rows", ModuleTypeBit(mttFilter), rows.get(), "count", 1, "2", "", false},
      {"positive result without data", ModuleTypeBit(mttFilter), rows.get(), "result3", 0, "2", "",
       false},
      {"handler throws", ModuleTypeBit(mttFilter), rows.get(), "throw", -3, "2",
       "\x02Probe. Data have been processed with errors", false},
      {"events handling succeeds", ModuleTypeBit(mttEventsHandling), rows.get(), "count", 1, "2",
       "\x03Probe. Data have been processed successfully", false},
      {"export fails", ModuleTypeBit(mttDataExport), rows.get(), "error", -5, "2",
       "\x02Probe. Data have been processed with errors", false},
      {"result rows handed back", ModuleTypeBit(mttFilter), rows.get(), "rows2", 2, "2", "", true},
  };
  uint32_t id = 100;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ++id;
    Load(id, host.handle());
    Run(id, "DATA-MODE", {{"MODE", OleVariant(c.mode)}});
    host.Take();
    HostCall data(id);
    data.Types(c.types);
    data.rec.Input.Kind = 1;
    data.rec.Input.Data = reinterpret_cast<uintptr_t>(c.input);
    data.rec.Output.Data = 99;
    EXPECT_EQ(module->ProcessData(data), c.expected);
    EXPECT_EQ(+data.rec.Input.Data, 0u);  // the host's pointer is never handed back
    EXPECT_EQ(State(module, id)["seen"], c.seen);
    auto messages = host.Take();
    if (*c.log) {
      ASSERT_EQ(messages.size(), 1u);
      EXPECT_EQ(messages[0].text, c.log);
    } else {
      EXPECT_TRUE(messages.empty());
    }
    if (c.result_rows) {
      EXPECT_EQ(+data.rec.Output.Kind, 1);
      auto* out = reinterpret_cast<TvopParamsList*>(data.rec.Output.Data);
      ASSERT_NE(out, nullptr);
      EXPECT_EQ(out->Count, 4);
    } else {
      EXPECT_EQ(+data.rec.Output.Data, 0u);
    }
  }
}

// An export gets the last row of a rows list closed, by the list's class
// name, whoever made the list: the host's lists come from its own copy of
// the classes (here the test's), with the name in any letter case. The
// host's list itself is never grown: the handler sees a closed copy.
TEST_F(HostedProbeTest, AnExportSeesTheLastRowOfARowsListClosedWhoeverMadeIt) {
  static const TListClassInfo kUpperRows{"TVOPROWSPARAMSLIST", &kParamsListClass,
                                         sizeof(TvopRowsParamsList)};
  static const TListClassInfo kOtherList{"TvopRowsParamsListEx", &kParamsListClass,
                                         sizeof(TvopRowsParamsList)};
  static const struct {
    const char* name;
    TModuleTypes types;
    const TListClassInfo* cls;  // null: the host's own rows list class
    bool closed;                // the host's last row is closed already
    const char* seen;
    const char* last;
  } cases[] = {
      {"host's rows list", ModuleTypeBit(mttDataExport), nullptr, false, "3", "$NEW_ROW$"},
      {"its class name in capitals", ModuleTypeBit(mttDataExport), &kUpperRows, false, "3",
       "$NEW_ROW$"},
      {"already closed", ModuleTypeBit(mttDataExport), nullptr, true, "3", "$NEW_ROW$"},
      {"a plain list", ModuleTypeBit(mttDataExport), &kParamsListClass, false, "2", "B"},
      {"another class", ModuleTypeBit(mttDataExport), &kOtherList, false, "2", "B"},
      {"not an export", ModuleTypeBit(mttFilter), nullptr, false, "2", "B"},
  };
  uint32_t id = 140;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Load(++id, 0);
    auto rows = NewParamsList(kRowsParamsListClass);
    rows->Add("A", OleVariant(1));
    rows->Add("B", OleVariant(2));
    if (c.closed) rows->AddNewRow();
    const int32_t count = rows->Count;
    if (c.cls) rows->class_ref = c.cls;
    HostCall data(id);
    data.Types(c.types);
    data.rec.Input.Kind = kValueKindList;
    data.rec.Input.Data = reinterpret_cast<uintptr_t>(rows.get());
    EXPECT_EQ(module->ProcessData(data), 1);  // one row
    const auto state = State(module, id);
    EXPECT_EQ(state.at("seen"), c.seen);
    EXPECT_EQ(state.at("lastseen"), c.last);
    EXPECT_EQ(rows->Count, count) << "the host's list as it was";
    rows->class_ref = &kRowsParamsListClass;  // freed as what it is
  }
}

TEST_F(HostedProbeTest, DataThatIsNoListIsNeverReadAsOne) {
  // Input.Data holds a list only when Input.Kind is 1. For an export, data
  // of another kind cannot be exported: the call fails with -3 instead of
  // reading whatever the number points at.
  std::vector<unsigned char> not_a_list(64, 0xAB);  // no list signature in it
  auto rows = NewParamsList(kRowsParamsListClass);
  rows->Add("A", OleVariant(1));
  const struct {
    const char* name;
    TModuleTypes types;
    uint8_t kind;
    uintptr_t data;
    int32_t expected;
    const char* seen;  // items the handler saw; -2 not called, -1 no list
  } cases[] = {
      {"export, an integer", ModuleTypeBit(mttDataExport), 5, 12345, -3, "-2"},
      {"export, an integer 0", ModuleTypeBit(mttDataExport), 5, 0, 0, "-2"},
      {"export, no list behind kind 1", ModuleTypeBit(mttDataExport), 1,
       reinterpret_cast<uintptr_t>(not_a_list.data()), -3, "-2"},
      // A rows list: the export sees its last row closed.
      {"export, a list", ModuleTypeBit(mttDataExport), 1, reinterpret_cast<uintptr_t>(rows.get()),
       1, "2"},
      {"filter, an integer", ModuleTypeBit(mttFilter), 5, 12345, 0, "-1"},
      {"filter, no list behind kind 1", ModuleTypeBit(mttFilter), 1,
       reinterpret_cast<uintptr_t>(not_a_list.data()), -3, "-2"},
  };
  uint32_t id = 120;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Load(++id, host.handle());
    HostCall data(id);
    data.Types(c.types);
    data.rec.Input.Kind = c.kind;
    data.rec.Input.Data = c.data;
    EXPECT_EQ(module->ProcessData(data), c.expected);
    EXPECT_EQ(State(module, id)["seen"], c.seen);
  }
}

TEST_F(HostedProbeTest, DataCallsRefuseBrokenParameterLists) {
  Load(12, host.handle());
  HostCall data(12);
  data.Types(ModuleTypeBit(mttFilter));
  data.params->Signature = 0;
  EXPECT_EQ(module->ProcessData(data), -3);
  data.params->Signature = kParamsListSignature;
  HostCall get(12);
  get.Types(ModuleTypeBit(mttFilter));
  get.rec.Input.Data = 1234;
  EXPECT_EQ(module->GetData(get), 0);  // no handler
  EXPECT_EQ(+get.rec.Input.Data, 0u);
}

}  // namespace
}  // namespace tarvel::test
