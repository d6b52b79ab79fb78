// ANSI text services: the system code page's case folding and conversions
// to and from UTF-16, and GUID text. On Windows these are the system's
// (CharLowerBuffA, MultiByteToWideChar with CP_ACP, CoCreateGuid); on POSIX
// the code page is Windows-1252 and GUIDs come from a random source.
// All functions are thread-safe.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace tarvel::platform {

// AnsiLowerCase / AnsiUpperCase fold letters of the system's ANSI code page
// (locale-aware on Windows), byte strings in, byte strings out.
std::string AnsiLowerCase(std::string_view s);
std::string AnsiUpperCase(std::string_view s);

// AnsiToWide / WideToAnsi convert between the system ANSI code page and
// UTF-16. Characters that have no ANSI form become '?'.
std::u16string AnsiToWide(std::string_view s);
std::string WideToAnsi(std::u16string_view s);

// NewGuidText returns a fresh GUID in registry form: 38 characters,
// "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}", upper-case hexadecimal.
std::string NewGuidText();

// ThreadLocaleId returns the calling thread's locale id (LCID); POSIX: 1033
// until SetThreadLocaleId names another for the thread.
uint32_t ThreadLocaleId();
// SetThreadLocaleId sets the calling thread's locale (SetThreadLocale);
// false when the system refuses it. POSIX only remembers it.
bool SetThreadLocaleId(uint32_t lcid);

// ---- Formats of numbers, dates and times ----
// The module writes numbers, dates and times as the host's runtime does, in
// the formats of one locale that the module keeps for itself: at first the
// user's own; UseFormatsOf reads them again from another locale (a
// language file's Locale= directive). POSIX knows en-US (1033, the user's
// own, with TARVEL_DECIMAL_SEPARATOR naming another decimal separator),
// en-GB (2057), de-DE (1031), fr-FR (1036), es-ES (3082, 1034) and ru-RU
// (1049). Thread-safe.

// UseFormatsOf reads the formats from locale lcid (0: the user's own
// again); false, and nothing changes, when the system does not know it.
bool UseFormatsOf(uint32_t lcid);

// DecimalSeparator returns the decimal separator of the formats in force.
char DecimalSeparator();

// DateTimeText renders an OLE date (days since 30 December 1899, the time
// as the fraction) as the host's runtime converts a date to text: the
// short date, then a blank and the long time unless the time is midnight
// to the second.
std::string DateTimeText(double ole_date);

}  // namespace tarvel::platform
