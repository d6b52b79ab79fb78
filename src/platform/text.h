// ANSI text services: the system code page's case folding and conversions
// to and from UTF-16, and GUID text. On Windows these are the system's
// (CharLowerBuffA, MultiByteToWideChar with CP_ACP, CoCreateGuid); on POSIX
// the code page is Windows-1252 and GUIDs come from a random source.
// All functions are thread-safe.
#pragma once

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

// DecimalSeparator returns the user locale's decimal separator; POSIX '.'
// unless TARVEL_DECIMAL_SEPARATOR names another.
char DecimalSeparator();

}  // namespace tarvel::platform
