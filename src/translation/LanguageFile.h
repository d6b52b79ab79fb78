// The language-file reader: from a file's bytes, the pairs of one source
// and one target language, and the directives of its first 19 lines.
//
// Format. Lines end at LF or CR LF (a lone CR stays in the line); blanks
// (code 32) at both ends of a line are dropped. A leading UTF-8 byte-order
// mark is skipped. Lines starting with "//" are comments. Other non-empty
// lines form blocks, ended by an empty line; in a block, "XX:>text" gives
// the text in language XX (taken byte for byte, blanks after ":>"
// included; a later line of the same language wins). A block gives a pair
// when it has both the source and the target text; a block that no empty
// line ends (the file's last, without an empty line after it) gives none.
//
// Directives, in lines 1 to 19, read from the line's first 50 characters
// with codes 0..32 dropped at both ends (the head):
//   //filenew, //filerewrite, //fileappend    how the side file is opened
//   ...Encoding=utf-8 (or utf-16, unicode)    translations are UTF-8
//   ...BiDiMode=righttoleft (...noalign, ...readingonly)
//   ...Locale=1031 (or 0x407, $407)
//   ...Charset=windows-1251 (and the other code pages of fonts)
//   //saveuntr, //saveuntrobj, //saveunused, //saveall   collection modes
// A value directive (the four with "=") may stand anywhere in the head,
// also behind "//"; its value is what follows the head's first "=",
// trimmed and lower-cased; the line is then used up. From line 20 on these
// are ordinary lines.
//
// Threads: pure functions of their arguments.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "translation/Translator.h"

namespace tarvel {

// What the directives of a file set; a field the file does not set keeps
// the value the caller put in.
struct TLanguageFileSettings {
  uint8_t encoding = 0;
  uint8_t font_charset = 1;
  uint8_t bidi_mode = 0;
  uint32_t locale = 0;  // 0: the file names none
  std::optional<uint8_t> collect_mode;
  std::optional<uint8_t> collect_file_mode;
};

// ParseLanguageFile adds the (source, target) pairs of a file's bytes to
// the dictionary (ExactTexts, and LowerTexts where the lower-cased source
// differs) and returns how many it took; on_pair sees each pair's source.
int32_t ParseLanguageFile(std::string_view bytes, std::string_view source, std::string_view target,
                          TWtranslLanguagesList& dictionary, TLanguageFileSettings& settings,
                          const std::function<void(std::string_view source)>& on_pair = {});

// ApplyDirective applies a line (blank-trimmed) of lines 1..19 as a
// directive; true when a value directive used it up.
bool ApplyDirective(std::string_view line, TLanguageFileSettings& settings);

// ReadLanguageFile reads a whole file: nullopt when there is none; raises
// platform::EFileError when it is there but cannot be read.
std::optional<std::string> ReadLanguageFile(const std::string& path);

// LowerAsciiLetters turns A-Z into a-z.
std::string LowerAsciiLetters(std::string_view text);

}  // namespace tarvel
