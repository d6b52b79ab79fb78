// The formats of the locales the POSIX build knows, as Windows gives them.
#include "platform/formats.h"

#include <cstdlib>

namespace tarvel::platform {

namespace {

struct KnownLocale {
  uint32_t lcid;
  char decimal;
  const char* short_date;
  const char* long_time;
  const char* am;
  const char* pm;
};

constexpr KnownLocale kLocales[] = {
    {1033, '.', "M/d/yyyy", "h:mm:ss tt", "AM", "PM"},       // en-US
    {2057, '.', "dd/MM/yyyy", "HH:mm:ss", "AM", "PM"},       // en-GB
    {1031, ',', "dd.MM.yyyy", "HH:mm:ss", "", ""},           // de-DE
    {1036, ',', "dd/MM/yyyy", "HH:mm:ss", "", ""},           // fr-FR
    {3082, ',', "dd/MM/yyyy", "H:mm:ss", "a. m.", "p. m."},  // es-ES
    {1034, ',', "dd/MM/yyyy", "H:mm:ss", "a. m.", "p. m."},  // es-ES, traditional sort
    {1049, ',', "dd.MM.yyyy", "H:mm:ss", "", ""},            // ru-RU
};

// The 8-bit texts are Windows-1252: the English names serve every locale.
constexpr const char* kMonths[] = {"January",   "February", "March",    "April",
                                   "May",       "June",     "July",     "August",
                                   "September", "October",  "November", "December"};
constexpr const char* kDays[] = {"Sunday",   "Monday", "Tuesday", "Wednesday",
                                 "Thursday", "Friday", "Saturday"};

}  // namespace

char UserDecimalSeparator() {
  const char* sep = std::getenv("TARVEL_DECIMAL_SEPARATOR");
  return sep && *sep ? *sep : '.';
}

std::optional<LocaleFormats> ReadLocaleFormats(uint32_t lcid) {
  const uint32_t wanted = lcid == 0 ? 1033 : lcid;
  for (const KnownLocale& known : kLocales) {
    if (known.lcid != wanted) continue;
    LocaleFormats f;
    f.decimal_separator = lcid == 0 ? UserDecimalSeparator() : known.decimal;
    f.short_date = known.short_date;
    f.long_time = known.long_time;
    f.am = known.am;
    f.pm = known.pm;
    for (size_t m = 0; m < 12; ++m) {
      f.month_names[m] = kMonths[m];
      f.short_month_names[m] = std::string(kMonths[m]).substr(0, 3);
    }
    for (size_t d = 0; d < 7; ++d) {
      f.day_names[d] = kDays[d];
      f.short_day_names[d] = std::string(kDays[d]).substr(0, 3);
    }
    return f;
  }
  return std::nullopt;
}

}  // namespace tarvel::platform
