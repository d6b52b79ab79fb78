// ReaderPins' grace check on one thread: Passed tells whether the pins that
// could still see an unpublished object are gone, without waiting, also
// when the caller holds a pin itself.
#include "Common/ReaderPins.h"

#include <gtest/gtest.h>

#include <optional>

namespace tarvel {
namespace {

TEST(ReaderPins, PassedOnceThePinsFromBeforeTheStampAreGone) {
  ReaderPins pins;
  // No pin at all: passed at once.
  EXPECT_TRUE(pins.Passed(pins.Stamp()));

  // The caller's own pin holds it up (as a writer that retires an object
  // inside a pinned call), until the pin goes.
  std::optional<ReaderPins::Pin> own(pins.Enter());
  const uint32_t stamp = pins.Stamp();
  EXPECT_FALSE(pins.Passed(stamp));
  EXPECT_FALSE(pins.Passed(stamp)) << "asked again, still held";
  // A pin taken once the epoch moved on cannot see the object: it does not
  // hold the stamp up.
  std::optional<ReaderPins::Pin> later(pins.Enter());
  own.reset();
  EXPECT_TRUE(pins.Passed(stamp));
  // A stamp taken now is held by the later pin.
  const uint32_t second = pins.Stamp();
  EXPECT_FALSE(pins.Passed(second));
  later.reset();
  EXPECT_TRUE(pins.Passed(second));
  EXPECT_TRUE(pins.Passed(stamp)) << "a passed stamp stays passed";
}

TEST(ReaderPins, APinOfTheStampsOwnEpochHoldsItUp) {
  ReaderPins pins;
  std::optional<ReaderPins::Pin> first(pins.Enter());
  const uint32_t stamp = pins.Stamp();
  // Taken before Passed moved the epoch on: it may have seen the object.
  std::optional<ReaderPins::Pin> second(pins.Enter());
  first.reset();
  EXPECT_FALSE(pins.Passed(stamp));
  second.reset();
  EXPECT_TRUE(pins.Passed(stamp));
}

TEST(ReaderPins, WaitForReadersAfterPassedMovedTheEpoch) {
  ReaderPins pins;
  for (int round = 0; round < 5; ++round) {
    std::optional<ReaderPins::Pin> pin(pins.Enter());
    const uint32_t stamp = pins.Stamp();
    EXPECT_FALSE(pins.Passed(stamp));
    pin.reset();
    EXPECT_TRUE(pins.Passed(stamp));
    pins.WaitForReaders();  // returns: no pin is held
    EXPECT_TRUE(pins.Passed(pins.Stamp()));
  }
}

}  // namespace
}  // namespace tarvel
