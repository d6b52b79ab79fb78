// Addresses that point nowhere, as a host's broken record may: a range of
// the address space reserved with no access at all, so that nothing else
// is placed there while the test runs and every touch of it faults.
#pragma once

#include <cstddef>
#include <cstdint>

namespace tarvel::test {

class UnmappedMemory {
 public:
  explicit UnmappedMemory(size_t bytes = 65536);
  ~UnmappedMemory();
  UnmappedMemory(const UnmappedMemory&) = delete;
  UnmappedMemory& operator=(const UnmappedMemory&) = delete;

  // Address: an address inside the range (0 when it could not be reserved).
  uintptr_t Address(size_t offset = 0) const { return base_ ? base_ + offset : 0; }

 private:
  uintptr_t base_ = 0;
  size_t bytes_ = 0;
};

}  // namespace tarvel::test
