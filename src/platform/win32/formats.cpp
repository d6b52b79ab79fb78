// The formats of a locale as the system gives them, in the system's ANSI
// code page.
#include "platform/formats.h"

#include <windows.h>

namespace tarvel::platform {

namespace {

std::optional<std::string> Info(LCID lcid, LCTYPE type) {
  char buf[128] = {};
  if (::GetLocaleInfoA(lcid, type | LOCALE_USE_CP_ACP, buf, sizeof buf) <= 0) return std::nullopt;
  return std::string(buf);
}

}  // namespace

char UserDecimalSeparator() {
  const std::optional<std::string> sep = Info(LOCALE_USER_DEFAULT, LOCALE_SDECIMAL);
  return sep && !sep->empty() ? (*sep)[0] : '.';
}

std::optional<LocaleFormats> ReadLocaleFormats(uint32_t lcid) {
  const LCID id = lcid == 0 ? LOCALE_USER_DEFAULT : static_cast<LCID>(lcid);
  if (lcid != 0 && !::IsValidLocale(id, LCID_INSTALLED)) return std::nullopt;
  LocaleFormats f;
  const std::optional<std::string> decimal = Info(id, LOCALE_SDECIMAL);
  const std::optional<std::string> date = Info(id, LOCALE_SSHORTDATE);
  const std::optional<std::string> time = Info(id, LOCALE_STIMEFORMAT);
  if (!decimal || !date || !time) return std::nullopt;
  f.decimal_separator = decimal->empty() ? '.' : (*decimal)[0];
  f.short_date = *date;
  f.long_time = *time;
  f.am = Info(id, LOCALE_S1159).value_or("");
  f.pm = Info(id, LOCALE_S2359).value_or("");
  for (size_t m = 0; m < 12; ++m) {
    f.month_names[m] = Info(id, static_cast<LCTYPE>(LOCALE_SMONTHNAME1 + m)).value_or("");
    f.short_month_names[m] =
        Info(id, static_cast<LCTYPE>(LOCALE_SABBREVMONTHNAME1 + m)).value_or("");
  }
  // The system counts from Monday (LOCALE_SDAYNAME1); the names here from Sunday.
  for (size_t d = 0; d < 7; ++d) {
    const LCTYPE offset = static_cast<LCTYPE>((d + 6) % 7);
    f.day_names[d] = Info(id, LOCALE_SDAYNAME1 + offset).value_or("");
    f.short_day_names[d] = Info(id, LOCALE_SABBREVDAYNAME1 + offset).value_or("");
  }
  return f;
}

}  // namespace tarvel::platform
