// The stored text form of setting values: escaping of strings and string
// lists, and component references written as paths.
//
// Escaping keeps stored text on one line and keeps blanks that an INI file
// would strip: "%" -> "%%"; "+" and codes 1..31 -> "%XX" (upper-case hex);
// leading spaces and a trailing run of spaces -> "+"; everything else as
// is; the text ends at its first NUL. Unescaping reverses it and is lenient:
// a "%" not followed by "%" or two hex digits stays a percent sign.
//
// All functions are pure and thread-safe, except the component-path lookups,
// which read the component tree (serialise with whoever changes it).
#pragma once

#include <string>
#include <string_view>

namespace tarvel {

class TComponent;

std::string EscapeText(std::string_view text);
std::string UnescapeText(std::string_view text);

// ComponentPath: "Application.<name>" for a component the application owns,
// "<owner path>.<name>" for other owned components, "Application" for the
// application itself, else the component's name.
std::string ComponentPath(const TComponent& component);
// FindComponentByPath resolves a path written by ComponentPath against base
// (then, failing that, against the application object); null when nothing
// is found.
TComponent* FindComponentByPath(std::string_view path, TComponent* base);

}  // namespace tarvel
