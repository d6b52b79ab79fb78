// ReaderPins with real threads: a writer never frees what a reader still
// reads, whether it waits for the readers or asks Passed later, waits only
// for the pins taken before it, and readers never wait for one another. Waits are bounded so a
// deadlock fails the test instead of hanging it.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <memory>
#include <optional>
#include <thread>
#include <vector>

#include "Common/ReaderPins.h"

namespace tarvel {
namespace {

using namespace std::chrono_literals;

struct Box {
  static constexpr uint32_t kAlive = 0xA11CE;
  explicit Box(uint32_t v) : value(v) {}
  ~Box() { alive = 0; }
  uint32_t alive = kAlive;
  uint32_t value;
};

// Readers read the current box under pins while a writer replaces it and
// frees the old one as soon as WaitForReaders returns: no reader may meet a
// freed box (the sanitizers would see the use after free), and every
// reader sees values in the order they were published.
TEST(ReaderPinsConcurrency, AReplacedObjectIsFreedOnlyAfterItsReaders) {
  ReaderPins pins;
  std::atomic<Box*> current{new Box(0)};
  std::atomic<bool> stop{false};
  std::atomic<int> bad{0};
  auto reader = [&] {
    uint32_t last = 0;
    while (!stop.load()) {
      const ReaderPins::Pin pin = pins.Enter();
      const Box* box = current.load(std::memory_order_acquire);
      if (box->alive != Box::kAlive || box->value < last) ++bad;
      last = box->value;
      const ReaderPins::Pin nested = pins.Enter();  // pins nest
      if (current.load()->alive != Box::kAlive) ++bad;
    }
  };
  std::vector<std::thread> readers;
  for (int i = 0; i < 3; ++i) readers.emplace_back(reader);
  for (uint32_t v = 1; v <= 300; ++v) {
    Box* old = current.exchange(new Box(v), std::memory_order_release);
    pins.WaitForReaders();
    delete old;
  }
  stop = true;
  for (std::thread& t : readers) t.join();
  delete current.load();
  EXPECT_EQ(bad.load(), 0);
}

// The same with a writer that never waits: it keeps the boxes it replaced,
// with their stamps, and frees each once Passed says so. It replaces some
// while holding a pin itself (as a data call that grows a table does), and
// now and then another writer waits for the readers instead.
TEST(ReaderPinsConcurrency, AWriterThatNeverWaitsFreesOnlyWhatNoReaderSees) {
  ReaderPins pins;
  std::atomic<Box*> current{new Box(0)};
  std::atomic<bool> stop{false};
  std::atomic<int> bad{0};
  std::atomic<int> started{0};
  auto reader = [&] {
    uint32_t last = 0;
    started.fetch_add(1);
    while (!stop.load()) {
      const ReaderPins::Pin pin = pins.Enter();
      const Box* box = current.load(std::memory_order_seq_cst);
      if (box->alive != Box::kAlive || box->value < last) ++bad;
      last = box->value;
      std::this_thread::yield();
      if (box->alive != Box::kAlive) ++bad;
    }
  };
  std::vector<std::thread> readers;
  for (int i = 0; i < 3; ++i) readers.emplace_back(reader);
  std::thread waiter([&] {
    while (!stop.load()) {
      pins.WaitForReaders();
      std::this_thread::sleep_for(1ms);
    }
  });
  struct Retired {
    Box* box;
    uint32_t stamp;
  };
  std::vector<Retired> retired;
  auto free_passed = [&] {
    for (size_t i = 0; i < retired.size();) {
      if (pins.Passed(retired[i].stamp)) {
        delete retired[i].box;
        retired[i] = retired.back();
        retired.pop_back();
      } else {
        ++i;
      }
    }
  };
  while (started.load() < 3) std::this_thread::yield();
  for (uint32_t v = 1; v <= 3000; ++v) {
    if (v % 8 == 0) std::this_thread::yield();
    std::optional<ReaderPins::Pin> own;
    if (v % 2) own.emplace(pins.Enter());
    Box* old = current.exchange(new Box(v), std::memory_order_seq_cst);
    retired.push_back({old, pins.Stamp()});
    free_passed();
  }
  stop = true;
  for (std::thread& t : readers) t.join();
  waiter.join();
  free_passed();
  EXPECT_TRUE(retired.empty()) << "with no pin left, every stamp has passed";
  for (const Retired& r : retired) delete r.box;
  delete current.load();
  EXPECT_EQ(bad.load(), 0);
}

TEST(ReaderPinsConcurrency, AWriterWaitsForEarlierPinsOnlyAndReadersNeverWait) {
  ReaderPins pins;
  std::promise<void> taken, release_first;
  std::atomic<bool> writer_done{false};
  // A reader on another thread holds a pin taken before the writer.
  auto first = std::async(std::launch::async, [&] {
    const ReaderPins::Pin pin = pins.Enter();
    taken.set_value();
    release_first.get_future().wait();
  });
  taken.get_future().wait();
  auto writer = std::async(std::launch::async, [&] {
    pins.WaitForReaders();
    writer_done = true;
  });
  std::this_thread::sleep_for(50ms);
  EXPECT_FALSE(writer_done.load()) << "returned while an earlier pin was held";
  // A pin taken while the writer waits neither waits itself nor holds the
  // writer up once the earlier pin is gone.
  {
    const ReaderPins::Pin later = pins.Enter();
    release_first.set_value();
    ASSERT_EQ(writer.wait_for(10s), std::future_status::ready)
        << "the writer waits for a later pin";
    EXPECT_TRUE(writer_done.load());
  }
  ASSERT_EQ(first.wait_for(10s), std::future_status::ready);
  // With no pin held, a writer returns at once, also twice in a row.
  auto again = std::async(std::launch::async, [&] {
    pins.WaitForReaders();
    pins.WaitForReaders();
  });
  EXPECT_EQ(again.wait_for(10s), std::future_status::ready);
}

}  // namespace
}  // namespace tarvel
