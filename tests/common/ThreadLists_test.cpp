#include "Common/ThreadLists.h"

#include <gtest/gtest.h>

namespace tarvel {
namespace {

struct Counted {
  explicit Counted(int* live) : live_(live) { ++*live_; }
  ~Counted() { --*live_; }
  int* live_;
};

TEST(ThreadObjectList, OwningListFreesItsObjectsAndNonOwningDoesNot) {
  int live = 0;
  {
    TThreadObjectList<Counted> owning(true);
    owning.Add(new Counted(&live));
    owning.Add(new Counted(&live));
    EXPECT_EQ(live, 2);
    owning.Clear();
    EXPECT_EQ(live, 0);
    owning.Add(new Counted(&live));
  }
  EXPECT_EQ(live, 0);
  Counted a(&live), b(&live);
  {
    TThreadObjectList<Counted> borrowing(false);
    borrowing.Add(&a);
    borrowing.Add(&b);
    borrowing.Clear();
    borrowing.Add(&a);
  }
  EXPECT_EQ(live, 2);
}

TEST(ThreadObjectList, HoldsAreReentrantAndWritersMayRead) {
  TThreadObjectList<int> list(false);
  int x = 1;
  TObjectList<int>* inner = list.LockListRead();
  list.LockListRead();
  list.Add(&x);  // promotes: no other thread holds the list
  EXPECT_EQ(inner->Count(), 1);
  EXPECT_TRUE(list.Lock().HeldSharedByMe());
  EXPECT_FALSE(list.Lock().HeldExclusiveByMe());
  list.UnlockRead();
  list.UnlockRead();

  list.LockList();
  list.LockList();
  list.LockListRead();
  list.Add(&x);  // appends without waiting
  list.UnlockRead();
  list.UnlockWrite();
  EXPECT_TRUE(list.Lock().HeldExclusiveByMe());
  list.UnlockWrite();
  EXPECT_FALSE(list.Lock().HeldExclusiveByMe());
  EXPECT_EQ(inner->Count(), 2);
}

TEST(ThreadObjectList, UnbalancedReleaseIsAnError) {
  TThreadObjectList<int> list(false);
  EXPECT_THROW(list.UnlockRead(), std::logic_error);
  EXPECT_THROW(list.UnlockWrite(), std::logic_error);
  list.LockListRead();
  EXPECT_THROW(list.UnlockWrite(), std::logic_error);
  list.UnlockRead();
}

TEST(ThreadObject, GuardsTheGivenObjectOrItself) {
  int guarded = 0;
  TThreadObject with(&guarded);
  EXPECT_EQ(with.LockRead(), &guarded);
  with.UnlockRead();
  TThreadObject self;
  EXPECT_EQ(self.LockWrite(), &self);
  self.UnlockWrite();
}

TEST(ThreadStringList, AddKeepsDuplicatesAndSetTextSplitsLines) {
  TThreadStringList lines;
  EXPECT_EQ(lines.Add("a"), 0);
  EXPECT_EQ(lines.Add("a"), 1);
  EXPECT_EQ(lines.LockList()->size(), 2u);
  lines.UnlockList();

  struct {
    const char* text;
    std::vector<std::string> lines;
  } cases[] = {
      {"", {}},
      {"one", {"one"}},
      {"a\r\nb\nc\rd", {"a", "b", "c", "d"}},
      {"a\n\nb\n", {"a", "", "b"}},
      {"\r\n", {""}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    lines.SetText(c.text);
    EXPECT_EQ(*lines.LockList(), c.lines);
    lines.UnlockList();
  }
}

}  // namespace
}  // namespace tarvel
