#include "Common/vopParamLst.h"

#include <gtest/gtest.h>

#include <cstring>

#include "Common/Assert.h"
#include "platform/text.h"

namespace tarvel {
namespace {

using platform::VT_BSTR;
using platform::VT_EMPTY;
using platform::VT_I4;
using platform::VT_NULL;

class ParamsListTest : public ::testing::Test {
 protected:
  ParamsListPtr list = NewParamsList();
};

TEST_F(ParamsListTest, CreationSetsSignatureGuidAndNoItems) {
  EXPECT_EQ(list->Signature, 0x0FDE2E4Bu);
  EXPECT_EQ(list->Signature, 266219083u);
  EXPECT_EQ(list->ListIdView().size(), 38u);
  EXPECT_EQ(list->ListIdView().front(), '{');
  EXPECT_EQ(list->Count, 0);
  EXPECT_EQ(list->reserved0, 0u);
  EXPECT_FALSE(list->IsRowsList());
  ParamsListPtr other = NewParamsList();
  EXPECT_NE(list->ListIdView(), other->ListIdView());

  ParamsListPtr rows = NewParamsList(kRowsParamsListClass);
  EXPECT_TRUE(rows->IsRowsList());
  EXPECT_EQ(reinterpret_cast<TvopRowsParamsList*>(rows.get())->reserved1, 0u);
  EXPECT_STREQ(rows->class_ref->name, "TvopRowsParamsList");
}

TEST_F(ParamsListTest, StringsUseTheHostLayoutWithConstantRefCount) {
  TvopParamsListItem* item = list->Add("Name", OleVariant(1));
  ASSERT_NE(item, nullptr);
  EXPECT_EQ(AnsiStrLen(item->Name), 4);
  EXPECT_EQ(AnsiStrRefCount(item->Name), -1);
  EXPECT_EQ(item->Name[4], '\0');
  EXPECT_EQ(item->State, 2);
  EXPECT_EQ(AnsiStrRefCount(list->ListId), -1);
}

// The names every queued event repeats share one constant string; each
// still reads in the host's layout, and other spellings get their own.
TEST_F(ParamsListTest, RepeatedEventNamesShareOneConstantString) {
  struct {
    const char* name;
    const char* key;
    bool shared;
  } cases[] = {
      {"$NEW_ROW$", "$new_row$", true},
      {"EVENT-TYPE", "event-type", true},
      {"EVENT-GLOBAL", "event-global", true},
      {"CLIENTID-ITEM", "clientid-item", true},
      {"PARSER-ITEM", "parser-item", true},
      {"Event-Type", "event-type", false},      // another spelling
      {"PARSER-ITEM ", "parser-item ", false},  // another name
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TvopParamsListItem* first = list->Add(c.name, OleVariant(1));
    TvopParamsListItem* second = list->Add(c.name, OleVariant("two"));
    ASSERT_TRUE(first && second);
    for (const TvopParamsListItem* item : {first, second}) {
      EXPECT_EQ(item->NameView(), c.name);
      EXPECT_EQ(item->LowNameView(), c.key);
      EXPECT_EQ(AnsiStrRefCount(item->Name), -1);
      EXPECT_EQ(AnsiStrRefCount(item->LowName), -1);
      EXPECT_EQ(item->Name[std::strlen(c.name)], '\0');
      EXPECT_EQ(item->LowName[std::strlen(c.key)], '\0');
    }
    EXPECT_EQ(first->Name == second->Name, c.shared);
    EXPECT_EQ(first->LowName == second->LowName, c.shared);
  }
  // Clearing frees what each item owns and nothing shared (the sanitizers
  // watch), and the shared names serve the next items as well.
  list->Clear();
  list->AddNewRow();
  EXPECT_EQ(list->Item(0)->NameView(), kNewRowMarker);
}

TEST_F(ParamsListTest, AddTrimsOnlyToDecideAndKeepsTheNameAsGiven) {
  struct {
    const char* name;
    bool added;
  } cases[] = {
      {"   ", false}, {"", false}, {"\t\r\n", false}, {" x ", true}, {"x", true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TvopParamsListItem* item = list->Add(c.name, OleVariant(1));
    EXPECT_EQ(item != nullptr, c.added);
    if (item) {
      EXPECT_EQ(item->NameView(), c.name);
    }
  }
  EXPECT_EQ(list->Count, 2);
  // " x " keeps its spaces in the key: the bare name finds the later "x".
  EXPECT_EQ(list->IndexOf("x"), 1);
  EXPECT_EQ(list->IndexOf(" X "), 0);
}

TEST_F(ParamsListTest, DuplicatesAreKeptAndLookupsFindTheFirstInAnyAsciiCase) {
  list->Add("ClientId", OleVariant(1));
  list->Add("CLIENTID", OleVariant(2));
  for (const char* q : {"clientid", "CLIENTID", "cLiEnTiD"}) {
    SCOPED_TRACE(q);
    EXPECT_EQ(list->GetParamValue(q).AsInt64(), 1);
  }
  EXPECT_EQ(list->Count, 2);
}

TEST_F(ParamsListTest, KeysFoldAnsiButQueriesFoldOnlyAscii) {
  // "ÄRGER": the key is "ärger"; a query "ÄRGER" folds to "Ärger" and misses.
  list->Add("\xC4RGER", OleVariant(7));
  EXPECT_EQ(list->Item(0)->LowNameView(), "\xE4rger");
  EXPECT_EQ(list->IndexOf("\xE4RGER"), 0);
  EXPECT_EQ(list->IndexOf("\xC4RGER"), -1);
}

TEST_F(ParamsListTest, MissingValuesAreEmptyNotNull) {
  EXPECT_EQ(list->GetParamValue("a").Type(), VT_EMPTY);
  list->Add("a", OleVariant::Null());
  EXPECT_EQ(list->GetParamValue("b").Type(), VT_EMPTY);
  EXPECT_EQ(list->GetParamValue("A").Type(), VT_NULL);
}

TEST_F(ParamsListTest, EightBitStringsAreStoredAsOleStrings) {
  list->Add("s", OleVariant::AnsiString("Text \xE4"));
  OleVariant v = list->GetParamValue("s");
  EXPECT_EQ(v.Type(), VT_BSTR);
  EXPECT_EQ(v.ToAnsi(), "Text \xE4");
  list->SetParamValue("s", OleVariant::AnsiString("other"), false);
  EXPECT_EQ(list->GetParamValue("s").Type(), VT_BSTR);
  EXPECT_EQ(list->GetParamValue("s").ToAnsi(), "other");
}

TEST_F(ParamsListTest, SetParamValueAddsOnlyWhenAsked) {
  EXPECT_EQ(list->SetParamValue("absent", OleVariant(1), false), nullptr);
  EXPECT_EQ(list->Count, 0);
  TvopParamsListItem* item = list->SetParamValue("absent", OleVariant(5), true);
  ASSERT_NE(item, nullptr);
  EXPECT_EQ(list->Count, 1);
  EXPECT_EQ(list->GetParamValue("ABSENT").AsInt64(), 5);
  item->State = 9;
  list->SetParamValue("absent", OleVariant("t"), false);
  EXPECT_EQ(item->State, 9);  // unchanged by a value update
  EXPECT_EQ(list->GetParamValue("absent").ToAnsi(), "t");
}

TEST_F(ParamsListTest, AddListCopiesEveryItemInOrderIncludingRowMarkers) {
  ParamsListPtr source = NewParamsList(kRowsParamsListClass);
  EXPECT_FALSE(list->AddList(source.get()));
  EXPECT_FALSE(list->AddList(nullptr));
  source->Add("a", OleVariant(1));
  source->AddNewRow();
  source->Add("b", OleVariant("x"));
  ASSERT_TRUE(list->AddList(source.get()));
  ASSERT_EQ(list->Count, 3);
  EXPECT_EQ(list->Item(0)->NameView(), "a");
  EXPECT_EQ(list->Item(1)->NameView(), "$NEW_ROW$");
  EXPECT_EQ(list->Item(1)->Value.vt, VT_NULL);
  EXPECT_EQ(list->Item(2)->NameView(), "b");
  EXPECT_NE(list->Item(2)->Value.bstrVal, source->Item(2)->Value.bstrVal);  // a copy
  EXPECT_EQ(list->IndexOf("$new_row$"), 1);
  EXPECT_EQ(list->RowCount(), 2);
  // Appending a list to itself copies what it held before.
  ASSERT_TRUE(list->AddList(list.get()));
  EXPECT_EQ(list->Count, 6);
}

TEST_F(ParamsListTest, IndexOfClampsItsRange) {
  for (const char* n : {"a", "b", "a", "c"}) list->Add(n, OleVariant(1));
  struct {
    int first, last, expected;
  } cases[] = {
      {0, -1, 0}, {1, -1, 2}, {-5, 100, 0}, {3, 3, -1}, {3, 1, -1}, {2, 2, 2},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.first << ".." << c.last);
    EXPECT_EQ(list->IndexOf("A", c.first, c.last), c.expected);
  }
}

TEST_F(ParamsListTest, ItemsOutOfRange) {
  list->Add("a", OleVariant(1));
  EXPECT_EQ(list->Item(1), nullptr);
  EXPECT_EQ(list->Item(-1), nullptr);
  TvopParamsListItem* first = list->Item(0);
  try {
    list->SetItem(1, first);
    FAIL() << "no assertion";
  } catch (const EAssertionFailed& e) {
    EXPECT_EQ(e.Line(), 144);
    EXPECT_STREQ(e.Source(), "Common/vopParamLst");
    EXPECT_NE(std::string(e.what()).find("Assertion failure"), std::string::npos);
  }
  EXPECT_EQ(list->Item(0), first);
}

TEST_F(ParamsListTest, AListWhoseDestructionBeganIsRefused) {
  list->Add("a", OleVariant(1));
  ParamsListPtr other = NewParamsList();
  other->Add("b", OleVariant(2));
  other->Signature = 0;  // what destruction does first
  try {
    other->IndexOf("b");
    FAIL() << "no assertion";
  } catch (const EAssertionFailed& e) {
    EXPECT_EQ(e.Line(), 189);
  }
  EXPECT_THROW(other->GetParamValue("b"), EAssertionFailed);
  try {
    list->AddList(other.get());
    FAIL() << "no assertion";
  } catch (const EAssertionFailed& e) {
    EXPECT_EQ(e.Line(), 407);
  }
  EXPECT_EQ(list->Count, 1);  // nothing changed
  other->Signature = kParamsListSignature;
}

// Freed items serve the next ones (an event queue is filled and emptied
// over and over), up to a full queue's worth, and go back at release.
TEST(ParamsListItemCache, FreedItemsServeTheNextOnesUpToAFullQueue) {
  ReleaseCachedListItems();
  EXPECT_EQ(CachedListItems(), 0u);
  ParamsListPtr list = NewParamsList(kRowsParamsListClass);
  for (int i = 0; i < 100; ++i) list->Add("X" + std::to_string(i), OleVariant("value"));
  list->Clear();
  EXPECT_EQ(CachedListItems(), 100u);
  for (int i = 0; i < 30; ++i) list->Add("Y" + std::to_string(i), OleVariant(i));
  EXPECT_EQ(CachedListItems(), 70u);
  for (int i = 0; i < 30; ++i) {
    const TvopParamsListItem* item = list->Item(i);
    EXPECT_EQ(item->class_ref, &kParamsListItemClass);
    EXPECT_EQ(item->NameView(), "Y" + std::to_string(i));
    EXPECT_EQ(item->State, 2);
    EXPECT_EQ(item->reserved0, 0u);
    EXPECT_EQ(item->Value.vt, VT_I4);
    EXPECT_EQ(item->Value.lVal, i);
  }
  list->Clear();
  for (int i = 0; i < 30000; ++i) list->AddNewRow();
  list.reset();
  EXPECT_GE(CachedListItems(), 20002u) << "a full event queue";
  EXPECT_LT(CachedListItems(), 30000u) << "not without bound";
  ReleaseCachedListItems();
  EXPECT_EQ(CachedListItems(), 0u);
}

TEST(ParamsListForeign, AHostBuiltListIsReadThroughTheLayoutAndNeverGrown) {
  // A list laid out by another runtime: its own class word and strings.
  char name_block[8 + 8] = {};
  reinterpret_cast<int32_t*>(name_block)[0] = 1;  // a counted host string
  reinterpret_cast<int32_t*>(name_block)[1] = 4;
  std::memcpy(name_block + 8, "ping", 5);
  TvopParamsListItem item{};
  int host_class = 0;
  item.class_ref = reinterpret_cast<const TListClassInfo*>(&host_class);
  item.Name = name_block + 8;
  item.LowName = name_block + 8;
  item.Value.vt = VT_I4;
  item.Value.lVal = 42;
  TvopParamsListItem* slots[1] = {&item};
  TvopParamsList host{};
  host.class_ref = reinterpret_cast<const TListClassInfo*>(&host_class);
  host.items = slots;
  host.Count = 1;
  host.Capacity = 1;
  host.Signature = kParamsListSignature;

  EXPECT_FALSE(host.IsModuleList());
  EXPECT_EQ(host.GetParamValue("PING").AsInt64(), 42);
  EXPECT_THROW(host.Add("x", OleVariant(1)), std::logic_error);
  EXPECT_EQ(host.Count, 1);
  ParamsListPtr copy = NewParamsList();
  EXPECT_TRUE(copy->AddList(&host));
  EXPECT_EQ(copy->GetParamValue("ping").AsInt64(), 42);
}

}  // namespace
}  // namespace tarvel
