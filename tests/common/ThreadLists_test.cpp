#include "Common/ThreadLists.h"

#include <gtest/gtest.h>

#include <stdexcept>

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
  {
    auto outer = list.LockRead();
    auto inner = list.LockRead();
    list.Add(&x);  // promotes: no other thread holds the list
    EXPECT_EQ(inner->Count(), 1);
    EXPECT_TRUE(list.MultiReadLock().HeldSharedByMe());
    EXPECT_FALSE(list.MultiReadLock().HeldExclusiveByMe());
  }
  EXPECT_FALSE(list.MultiReadLock().HeldSharedByMe());
  {
    auto outer = list.Lock();
    {
      auto again = list.Lock();
      auto reading = list.LockRead();
      list.Add(&x);  // appends without waiting
    }
    EXPECT_TRUE(list.MultiReadLock().HeldExclusiveByMe());
    EXPECT_EQ(outer->Count(), 2);
  }
  EXPECT_FALSE(list.MultiReadLock().HeldExclusiveByMe());
}

TEST(ThreadObjectList, AThrowUnderAHoldLetsItGo) {
  TThreadObjectList<int> list(false);
  try {
    auto held = list.Lock();
    throw std::runtime_error("inside");
  } catch (const std::runtime_error&) {
  }
  EXPECT_FALSE(list.MultiReadLock().HeldExclusiveByMe());
  try {
    auto held = list.LockRead();
    throw std::runtime_error("inside");
  } catch (const std::runtime_error&) {
  }
  EXPECT_FALSE(list.MultiReadLock().HeldSharedByMe());
}

TEST(MultiReadLock, UnbalancedReleaseIsAnError) {
  TMultiReadLock lock;
  EXPECT_THROW(lock.UnlockRead(), std::logic_error);
  EXPECT_THROW(lock.UnlockWrite(), std::logic_error);
  ReadHold reading(lock);
  EXPECT_THROW(lock.UnlockWrite(), std::logic_error);
}

TEST(ThreadObject, GuardsTheGivenObjectOrItself) {
  int guarded = 0;
  TThreadObject with(&guarded);
  EXPECT_EQ(with.LockObjectRead().get(), &guarded);
  TThreadObject self;
  EXPECT_EQ(self.LockObject().get(), &self);
}

TEST(ThreadStringList, AddKeepsDuplicatesAndSetTextSplitsLines) {
  TThreadStringList lines;
  EXPECT_EQ(lines.Add("a"), 0);
  EXPECT_EQ(lines.Add("a"), 1);
  EXPECT_EQ(lines.Lock()->size(), 2u);

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
    EXPECT_EQ(*lines.Lock().get(), c.lines);
  }
}

}  // namespace
}  // namespace tarvel
