#include "platform/formats.h"

#include <atomic>
#include <cmath>

#include "Common/ThreadSafety.h"
#include "platform/text.h"

namespace tarvel::platform {

namespace {

// The formats of a locale chosen by UseFormatsOf; none while the user's own
// are in force, which are read at each use, so that a change the user
// makes in the system's settings counts at once. Each module keeps its
// own, as the host runtime's format settings are per module.
struct Formats {
  Mutex mu;
  std::optional<LocaleFormats> chosen TARVEL_GUARDED_BY(mu);
  std::atomic<bool> has_chosen{false};
  std::atomic<char> chosen_decimal{'.'};
};

Formats& State() {
  static Formats state;
  return state;
}

LocaleFormats Fallback() {
  LocaleFormats f;
  f.short_date = "M/d/yyyy";
  f.long_time = "h:mm:ss tt";
  f.am = "AM";
  f.pm = "PM";
  return f;
}

// Current returns a copy of the formats in force.
LocaleFormats Current() {
  Formats& s = State();
  {
    MutexLock lock(s.mu);
    if (s.chosen) return *s.chosen;
  }
  std::optional<LocaleFormats> own = ReadLocaleFormats(0);
  return own ? *own : Fallback();
}

struct Civil {
  int64_t year;
  int month, day, weekday;  // weekday 0 = Sunday
  int hour, minute, second;
};

// ToCivil splits an OLE date into its calendar date and its time; the
// fraction is the time of day also for dates before 1899 (-1.25 is
// 29 December 1899, 6:00).
Civil ToCivil(double ole_date) {
  double whole = std::trunc(ole_date);
  int64_t ms = std::llround(std::fabs(ole_date - whole) * 86400000.0);
  if (ms >= 86400000) ms = 86400000 - 1;
  // Days since 1970-01-01 (OLE day 25569), then the civil date
  // (H. Hinnant's days_from_civil, inverted).
  const int64_t z = static_cast<int64_t>(whole) - 25569 + 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const int64_t doe = z - era * 146097;
  const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const int64_t mp = (5 * doy + 2) / 153;
  Civil c{};
  c.day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  c.month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  c.year = yoe + era * 400 + (c.month <= 2 ? 1 : 0);
  const int64_t days = static_cast<int64_t>(whole) - 25569;
  c.weekday = static_cast<int>(((days % 7) + 7 + 4) % 7);  // 1970-01-01 was a Thursday
  const int64_t seconds = ms / 1000;
  c.hour = static_cast<int>(seconds / 3600);
  c.minute = static_cast<int>(seconds / 60 % 60);
  c.second = static_cast<int>(seconds % 60);
  return c;
}

std::string Padded(int64_t value, size_t width) {
  std::string digits = std::to_string(value < 0 ? -value : value);
  if (digits.size() < width) digits.insert(0, width - digits.size(), '0');
  return value < 0 ? "-" + digits : digits;
}

// Format writes a Windows format picture: runs of d, M, y, h, H, m, s and
// t; text in single quotes as it stands ('' is a quote); g (the era) is
// left out; anything else as it stands.
std::string Format(const std::string& picture, const Civil& c, const LocaleFormats& f) {
  std::string out;
  size_t i = 0;
  while (i < picture.size()) {
    const char ch = picture[i];
    if (ch == '\'') {
      size_t j = i + 1;
      while (j < picture.size()) {
        if (picture[j] == '\'') {
          if (j + 1 < picture.size() && picture[j + 1] == '\'') {
            out += '\'';
            j += 2;
            continue;
          }
          break;
        }
        out += picture[j++];
      }
      i = j + 1;
      continue;
    }
    size_t run = 1;
    while (i + run < picture.size() && picture[i + run] == ch) ++run;
    const int hour12 = c.hour % 12 == 0 ? 12 : c.hour % 12;
    switch (ch) {
      case 'd':
        if (run == 1) out += std::to_string(c.day);
        if (run == 2) out += Padded(c.day, 2);
        if (run == 3) out += f.short_day_names[static_cast<size_t>(c.weekday)];
        if (run >= 4) out += f.day_names[static_cast<size_t>(c.weekday)];
        break;
      case 'M':
        if (run == 1) out += std::to_string(c.month);
        if (run == 2) out += Padded(c.month, 2);
        if (run == 3) out += f.short_month_names[static_cast<size_t>(c.month - 1)];
        if (run >= 4) out += f.month_names[static_cast<size_t>(c.month - 1)];
        break;
      case 'y':
        if (run <= 2)
          out += run == 1 ? std::to_string(c.year % 100) : Padded(c.year % 100, 2);
        else
          out += Padded(c.year, run == 3 ? 3 : 4);
        break;
      case 'h':
        out += run == 1 ? std::to_string(hour12) : Padded(hour12, 2);
        break;
      case 'H':
        out += run == 1 ? std::to_string(c.hour) : Padded(c.hour, 2);
        break;
      case 'm':
        out += run == 1 ? std::to_string(c.minute) : Padded(c.minute, 2);
        break;
      case 's':
        out += run == 1 ? std::to_string(c.second) : Padded(c.second, 2);
        break;
      case 't': {
        const std::string& designator = c.hour < 12 ? f.am : f.pm;
        out += run == 1 ? designator.substr(0, 1) : designator;
        break;
      }
      case 'g':
        break;
      default:
        out.append(run, ch);
        break;
    }
    i += run;
  }
  return out;
}

}  // namespace

bool UseFormatsOf(uint32_t lcid) {
  Formats& s = State();
  if (lcid == 0) {
    MutexLock lock(s.mu);
    s.chosen.reset();
    s.has_chosen = false;
    return true;
  }
  std::optional<LocaleFormats> read = ReadLocaleFormats(lcid);
  if (!read) return false;
  MutexLock lock(s.mu);
  s.chosen_decimal = read->decimal_separator;
  s.chosen = std::move(read);
  s.has_chosen = true;
  return true;
}

char DecimalSeparator() {
  const Formats& s = State();
  return s.has_chosen.load() ? s.chosen_decimal.load() : UserDecimalSeparator();
}

std::string DateTimeText(double ole_date) {
  if (!std::isfinite(ole_date)) return {};
  const LocaleFormats f = Current();
  const Civil c = ToCivil(ole_date);
  std::string text = Format(f.short_date, c, f);
  // As the runtime's date-time conversion: the time unless it is midnight.
  if (c.hour != 0 || c.minute != 0 || c.second != 0) text += " " + Format(f.long_time, c, f);
  return text;
}

}  // namespace tarvel::platform
