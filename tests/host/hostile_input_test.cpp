// Hostile input from the host, through the exports of the built modules:
// parameter and data lists of every broken shape, every VARIANT type as a
// value and as a client ID (as a context parameter: tests/faults), names of 64 KB and a portion of
// 10^6 items. Each call must answer a clear result code, and the module must go on working normally
// afterwards.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "host/host_test_util.h"
#include "host/product_host.h"
#include "host/variant_cases.h"

namespace tarvel::test {
namespace {

// ---- Broken list shapes ----

// Shape names a way a list from the host can be broken; Break applies it to
// a list built by this test and Restore undoes it before the list goes.
enum class Shape { kCountBeyondCapacity, kNegativeCount, kNoItemArray, kNullItem, kWrongSignature };

struct ShapeCase {
  const char* name;
  Shape shape;
};
const ShapeCase kShapes[] = {
    {"count beyond capacity", Shape::kCountBeyondCapacity},
    {"negative count", Shape::kNegativeCount},
    {"no item array", Shape::kNoItemArray},
    {"a null item first", Shape::kNullItem},
    {"wrong signature", Shape::kWrongSignature},
};

class BrokenList {
 public:
  BrokenList(TvopParamsList* list, Shape shape) : list_(list), saved_(*list) {
    switch (shape) {
      case Shape::kCountBeyondCapacity:
        list->Count = 0x7FFFFFFF;
        break;
      case Shape::kNegativeCount:
        list->Count = -5;
        break;
      case Shape::kNoItemArray:
        list->items = nullptr;
        break;
      case Shape::kNullItem:
        // The list's first slot is empty; the item it held comes back later.
        first_ = list->items[0];
        list->items[0] = nullptr;
        break;
      case Shape::kWrongSignature:
        list->Signature = 0xDEADBEEF;
        break;
    }
  }
  ~BrokenList() {
    if (first_) saved_.items[0] = first_;
    *list_ = saved_;
  }
  BrokenList(const BrokenList&) = delete;
  BrokenList& operator=(const BrokenList&) = delete;

 private:
  TvopParamsList* list_;
  TvopParamsList saved_;
  TvopParamsListItem* first_ = nullptr;
};

// A block that is no list: 64 bytes without the list signature.
struct NotAList {
  unsigned char bytes[64];
  NotAList() { std::fill(std::begin(bytes), std::end(bytes), 0xAB); }
};

// What each export answers for a parameter list of each shape. The command
// is EVENTS-SUPPORT (0 in every module); its parameter list starts with a
// dummy item, so a null first item hides nothing the command needs.
struct ExportAnswers {
  int32_t command, process, get_data, get_events;
  uintptr_t options;  // ShowOptionsDialog's status (probe module only)
};
ExportAnswers Expected(Shape shape) {
  switch (shape) {
    case Shape::kCountBeyondCapacity:
    case Shape::kNoItemArray:
    case Shape::kWrongSignature:
      return {-3, -3, 0, 0, kOptionsCancelled};
    case Shape::kNegativeCount:  // an empty list: no COMMAND in it
      return {-1, 0, 0, 0, kOptionsConfirmed};
    case Shape::kNullItem:
      return {0, 0, 0, 0, kOptionsConfirmed};
  }
  return {};
}

// CallEveryExport calls every export with a record whose parameter list has
// the shape, on a loaded instance, and checks the answers.
void CallEveryExport(const LoadedModule& m, uint32_t id, Shape shape, bool probe,
                     const char* description) {
  const ExportAnswers want = Expected(shape);
  auto call = [&](auto&& export_fn) {
    HostCall rec(id, "EVENTS-SUPPORT");
    rec.params->Add("DUMMY", OleVariant(1));
    // DUMMY first: move it before COMMAND.
    std::swap(rec.params->items[0], rec.params->items[1]);
    rec.Types(ModuleTypeBit(mttFilter));
    BrokenList broken(rec.params.get(), shape);
    return export_fn(rec);
  };
  EXPECT_EQ(call([&](HostCall& r) { return m->ExecutePluginCommand(r); }), want.command);
  EXPECT_EQ(call([&](HostCall& r) { return m->ProcessData(r); }), want.process);
  EXPECT_EQ(call([&](HostCall& r) { return m->GetData(r); }), want.get_data);
  EXPECT_EQ(call([&](HostCall& r) { return m->GetEvents(r); }), want.get_events);
  EXPECT_EQ(call([&](HostCall& r) { return m->GetModuleType(r); }), 32);
  EXPECT_FLOAT_EQ(call([&](HostCall& r) { return m->GetAppMinVersion(r); }), 4.0f);
  EXPECT_STREQ(call([&](HostCall& r) { return m->GetModuleDescription(r); }), description);
  EXPECT_TRUE(call([&](HostCall& r) { return m->MultiThreadSupport(r); }));
  EXPECT_EQ(call([&](HostCall& r) { return m->GetCustomCommands(r); }), 0);
  EXPECT_EQ(call([&](HostCall& r) { return m->GetLogEx(r); }), 0);
  if (probe) {  // the product would show its dialog
    uintptr_t status = 99;
    call([&](HostCall& r) {
      m->ShowOptionsDialog(r);
      status = r.rec.Output.Data;
      return 0;
    });
    EXPECT_EQ(status, want.options);
  }
}

TEST_F(ProbeModuleTest, BrokenParameterListsGetClearAnswersFromEveryExport) {
  uint32_t id = 500;
  for (const ShapeCase& c : kShapes) {
    SCOPED_TRACE(c.name);
    ASSERT_EQ(Command(module, ++id, "LOAD"), 0);
    CallEveryExport(module, id, c.shape, true, "Probe");
    // The instance goes on working.
    EXPECT_EQ(State(module, id)["load"], "1");
  }
  // A block that is no list at all, as the parameter list of each export.
  NotAList junk;
  HostCall call(++id, "LOAD");
  ASSERT_EQ(module->ExecutePluginCommand(call), 0);
  call.rec.Params = reinterpret_cast<TvopParamsList*>(&junk);
  EXPECT_EQ(module->ExecutePluginCommand(call), -3);
  call.Types(ModuleTypeBit(mttFilter));
  EXPECT_EQ(module->ProcessData(call), -3);
  EXPECT_EQ(module->GetModuleType(call), 32);
  module->ShowOptionsDialog(call);
  EXPECT_EQ(+call.rec.Output.Data, kOptionsCancelled);
}

TEST_F(ProductModuleTest, BrokenParameterListsGetClearAnswersFromEveryExport) {
  ProductHost host;
  ASSERT_TRUE(host.ok());
  uint32_t id = 520;
  for (const ShapeCase& c : kShapes) {
    SCOPED_TRACE(c.name);
    ASSERT_EQ(host.Load(++id), 0);
    CallEveryExport(host.module, id, c.shape, false, "Tarvel");
  }
  // The last instance still watches: a client that falls silent times out.
  ASSERT_EQ(host.Feed(id, Portion().Item("CLIENTID", OleVariant(1)).Item("T", OleVariant(1))), 0);
  auto events = host.WaitForEvents(id, 1);
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].type, "LOST");
}

// ---- Every VARIANT type as a value ----

// A variant of each type the host could send: numbers hold `n`, pointers
// point at nothing the module may follow.
// The client a value of the case stands for, as EventRow::Client renders it.
std::string ExpectedClient(const VariantCase& c, int n) {
  switch (c.kind) {
    case VariantCase::kNumber: {
      // As the host's runtime writes the number (a date as a date).
      Variant raw = c.make(n);
      return OleVariant::CopyOf(raw).ToAnsi();
    }
    case VariantCase::kText: {
      Variant raw = c.make(n);
      const std::string text = OleVariant::CopyOf(raw).ToAnsi();
      OleVariant::ClearRaw(&raw);
      return "text:" + text;
    }
    case VariantCase::kBool:
      return "True";
    case VariantCase::kEmpty:
      return "empty";
    case VariantCase::kNull:
      return "null";
    case VariantCase::kOdd:
    case VariantCase::kForeign:
      return std::to_string(n);  // the client fed with this value (the ID n)
  }
  return {};
}

// Every type as a client ID and as a watched variable's value. A value of
// any type feeds its watch. A client ID makes the client it stands for;
// one of a type that cannot be compared as an ID (error codes, objects,
// references, arrays) fails its portion (-3) and makes no client. Every
// client made times out once.
TEST_F(ProductModuleTest, EveryVariantTypeAsClientIdAndValue) {
  ProductHost host;
  ASSERT_TRUE(host.ok());
  constexpr uint32_t id = 700;
  ASSERT_EQ(host.Load(id), 0);
  std::vector<std::string> expected;
  int n = 100;
  for (const VariantCase& v : kVariants) {
    SCOPED_TRACE(v.name);
    ++n;
    if (v.kind == VariantCase::kOdd || v.kind == VariantCase::kForeign) {
      EXPECT_EQ(host.Feed(id, Portion().Item("CLIENTID", OleVariant(n)).RawItem("T", v.make(n))),
                0);
      EXPECT_EQ(host.Feed(id, Portion().RawItem("CLIENTID", v.make(n)).Item("T", OleVariant(1))),
                -3);
    } else {
      EXPECT_EQ(host.Feed(id, Portion().RawItem("CLIENTID", v.make(n)).RawItem("T", v.make(n))), 0);
    }
    expected.push_back(ExpectedClient(v, n));
  }
  // A row without the client variable, and names and an ID of 64 KB.
  Portion portion;
  portion.Item("T", OleVariant(1)).EndRow();
  expected.push_back("null");
  const std::string long_id(65536, 'c');
  portion.Item(std::string(65536, 'N'), OleVariant(1))
      .Item("CLIENTID", OleVariant(long_id))
      .Item("T", OleVariant(1))
      .EndRow();
  expected.push_back("text:" + long_id);
  ASSERT_EQ(host.Feed(id, portion), 0);
  std::sort(expected.begin(), expected.end());
  expected.erase(std::unique(expected.begin(), expected.end()), expected.end());

  std::vector<std::string> seen;
  for (const EventRow& e : host.WaitForEvents(id, expected.size())) {
    EXPECT_EQ(e.type, "LOST");
    seen.push_back(e.Client());
  }
  std::sort(seen.begin(), seen.end());
  EXPECT_EQ(seen, expected);
}

// ---- Broken data lists ----

TEST_F(ProductModuleTest, BrokenDataListsAreRefusedAndTheRestOfThePortionCounts) {
  ProductHost host;
  ASSERT_TRUE(host.ok());
  constexpr uint32_t id = 710;
  ASSERT_EQ(host.Load(id), 0);
  static const struct {
    const char* name;
    Shape shape;
    int32_t expected;
  } cases[] = {
      {"count beyond capacity", Shape::kCountBeyondCapacity, -3},
      {"negative count: nothing", Shape::kNegativeCount, 0},
      {"no item array", Shape::kNoItemArray, -3},
      {"wrong signature", Shape::kWrongSignature, -3},
      // The first item (client 9's ID) is gone: its row belongs to no client.
      {"a null item first", Shape::kNullItem, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Portion portion;
    portion.Item("CLIENTID", OleVariant(9)).Item("T", OleVariant(1)).EndRow();
    portion.Item("CLIENTID", OleVariant(10)).Item("T", OleVariant(1));
    BrokenList broken(portion.get(), c.shape);
    EXPECT_EQ(host.Feed(id, portion.get()), c.expected);
  }
  NotAList junk;
  EXPECT_EQ(host.Feed(id, reinterpret_cast<TvopParamsList*>(&junk)), -3);
  EXPECT_EQ(host.Feed(id, reinterpret_cast<TvopParamsList*>(&junk), kValueKindInteger), 0);
  // Only the portion with the null item reached the monitor: clients null
  // and 10 time out, nothing else.
  std::vector<std::string> seen;
  for (const EventRow& e : host.WaitForEvents(id, 2)) seen.push_back(e.Client());
  std::sort(seen.begin(), seen.end());
  EXPECT_EQ(seen, (std::vector<std::string>{"10", "null"}));
}

TEST_F(ProductModuleTest, APortionOfAMillionItems) {
  ProductHost host;
  ASSERT_TRUE(host.ok());
  constexpr uint32_t id = 720;
  ASSERT_EQ(host.Load(id), 0);
  Portion portion;
  constexpr int32_t kItems = 1000000;
  while (portion.get()->Count + 3 <= kItems) {
    const int32_t row = portion.get()->Count / 3;
    portion.Item("CLIENTID", OleVariant(1000 + row % 10)).Item("T", OleVariant(row)).EndRow();
  }
  while (portion.get()->Count < kItems) portion.Item("T", OleVariant(1));  // a row of no client
  ASSERT_EQ(portion.get()->Count, kItems);
  ASSERT_EQ(host.Feed(id, portion), 0);
  std::vector<std::string> seen;
  for (const EventRow& e : host.WaitForEvents(id, 11)) seen.push_back(e.Client());
  std::sort(seen.begin(), seen.end());
  std::vector<std::string> expected = {"null"};
  for (int c = 1000; c < 1010; ++c) expected.push_back(std::to_string(c));
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(seen, expected);
}

}  // namespace
}  // namespace tarvel::test
