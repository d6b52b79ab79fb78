// The character set a form's font must cover for the texts it shows.
//
// A form's font names a family ("MS Sans Serif") and, unless a language
// file says otherwise, no character set. The system then takes the family's
// set of its own code page, and a bitmap family holds one script per file:
// Cyrillic captions on a Western system would be drawn as boxes. The view
// asks for the set of the texts' script instead, so that the system picks
// the family's file for that script, or the nearest font that has it.
//
// Pure functions; any thread.
#pragma once

#include <cstdint>
#include <string_view>

#include "components/Controls.h"

namespace tarvel {

// CharsetForText: the set of the first letter in text that the Western set
// (Latin-1) lacks, as Windows numbers sets (204 Cyrillic, 161 Greek, 238
// Central European, ...); kDefaultCharset for Latin-1 text or a script
// with no set of its own.
uint8_t CharsetForText(std::u16string_view text);

// CharsetForControls: CharsetForText over the captions and texts of a
// control and everything it holds, the first that needs a set deciding.
uint8_t CharsetForControls(const TControl& root);

}  // namespace tarvel
