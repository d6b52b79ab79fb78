// The parts of the formats that each platform reads from a locale; the
// shared code (platform/formats.cpp) keeps the ones in force and writes
// numbers, dates and times with them. Internal to the platform layer.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>

namespace tarvel::platform {

// LocaleFormats: what the host's runtime keeps as its format settings, as
// Windows format pictures ("M/d/yyyy", "h:mm:ss tt").
struct LocaleFormats {
  char decimal_separator = '.';
  std::string short_date;
  std::string long_time;
  std::string am, pm;
  std::array<std::string, 12> month_names, short_month_names;
  std::array<std::string, 7> day_names, short_day_names;  // Sunday first
};

// ReadLocaleFormats reads the formats of a locale (0: the user's own);
// nullopt when the system does not know it.
std::optional<LocaleFormats> ReadLocaleFormats(uint32_t lcid);

// UserDecimalSeparator reads the user's own decimal separator now.
char UserDecimalSeparator();

}  // namespace tarvel::platform
