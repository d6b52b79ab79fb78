// The checks the two file_io implementations make before each system call
// that FileFaults can fail (see file_io.h). Cheap when no faults are set.
#pragma once

#include <cstdint>
#include <string>

namespace tarvel::platform::file_faults {

// RefusesEntry: making, renaming or removing path in its folder must fail.
bool RefusesEntry(const std::string& path);
// RefusesWriting: opening path for writing or replacing it must fail.
bool RefusesWriting(const std::string& path);
// LimitsSpace: the disk's free space is counted (see TakeSpace).
bool LimitsSpace();
// TakeSpace uses up bytes of the free space; false (nothing taken) when the
// disk is full. Only what makes a file longer takes space: overwriting a
// file's own bytes does not.
bool TakeSpace(uint64_t bytes);

}  // namespace tarvel::platform::file_faults
