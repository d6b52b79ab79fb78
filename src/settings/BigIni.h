// TBigIniFile: a whole INI file in memory. Opening reads the file
// completely; reads and writes work in memory; the file is written back
// only when something changed, and then only the lines of the keys written
// or erased change: every other byte of the file stays as it was.
//
// Format as read:
//  - The text is 8-bit (system code page), or UTF-8 after its byte-order
//    mark, or UTF-16 of either byte order after its mark; it is read as
//    8-bit text, and written back in the encoding (and with the mark) it
//    had.
//  - Lines end at LF, CR LF or a CR on its own.
//  - A line that starts with "[" (after blanks) and whose closing "]" is
//    followed by nothing but blanks or a ";" comment opens a section named
//    by the text between the brackets, blanks around it stripped.
//  - Empty lines and lines of the single character 0x1A are ignored; so
//    are lines before the first section. Every other line belongs to its
//    section unchanged (a ";" line is a line like any other).
//  - A line's key is its text before the first "=" with bytes 0..32
//    stripped at both ends, its value the text after it stripped the same
//    way; a line without "=" is all key.
//  - Of sections whose names are equal ignoring ASCII case only the first
//    is read; the later ones are kept in the file, unread. Within a
//    section the first line of a key wins.
//
// Format as written: the file as read, with changed lines in place (each
// keeping its line end), deleted lines gone, new lines at the end of their
// section (before its trailing empty lines) and new sections at the end of
// the file as "[name]", their lines and one empty line. New lines end
// with CR LF; a section the module made and left without lines is not
// written.
//
// Lookups of sections start at the last section used; line lookups scan
// the section and cache each line's "=" position.
//
// Not thread-safe. Several objects on one file are serialised by the caller
// (the settings engine holds the named INI lock around open, use and
// write-back).
//
// Example:
//   TBigIniFile ini("C:\\data\\app.ini");
//   int n = ini.ReadInteger("Common", "Count", 0);
//   ini.WriteInteger("Common", "Count", n + 1);
//   ini.UpdateFile();  // raises platform::EFileError when it cannot write
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "Common/vopStreamIO.h"
#include "platform/file_io.h"

namespace tarvel {

// TIniLine: one line with its companion slot and what a write-back needs
// to give back the file's own bytes.
struct TIniLine {
  std::string text;        // 8-bit text, without its line end
  intptr_t companion = 0;  // meaning depends on the list (see below)
  std::string raw;         // its bytes in the file when they are not text
                           // itself (headers; files that are not 8-bit)
  std::string trailer;     // the ignored lines after it, as bytes of the file
  LineEnd end = LineEnd::kCrLf;
  bool as_read = false;  // unchanged since read: written from its own bytes
};

// TStringListEx: text lines, each with one pointer-sized companion slot.
class TStringListEx {
 public:
  int Count() const { return static_cast<int>(items_.size()); }
  const std::string& Strings(int index) const { return items_[static_cast<size_t>(index)].text; }
  intptr_t Companion(int index) const { return items_[static_cast<size_t>(index)].companion; }

 protected:
  std::vector<TIniLine> items_;
};

// TSectionValues: one section's lines in file order, each companion caching
// the 1-based position of its first "=" (-1: none, 0: not computed yet).
class TSectionValues : public TStringListEx {
 public:
  // Add appends a line the module wrote; it goes before the empty lines
  // that end the section.
  void Add(std::string line);
  // AddRead appends a line as read from a file.
  void AddRead(TextLine&& line, TextEncoding encoding);
  // AppendTrailer keeps ignored lines (as bytes) after the last line;
  // Trailer is where they go.
  void AppendTrailer(std::string_view bytes);
  std::string& Trailer();
  // Replace sets a line's text; its "=" position is computed again, and it
  // keeps its line end.
  void Replace(int index, std::string line);
  // Delete removes a line; the ignored lines after it stay.
  void Delete(int index);
  // EqualsPos gives the cached 1-based "=" position or -1.
  int EqualsPos(int index);
  std::string_view Key(int index);
  std::string_view Value(int index);
  // IndexOfKey: the first line whose key matches, ignoring letter case
  // under the user's locale; -1 when none.
  int IndexOfKey(std::string_view key);
  // Line gives a line with its bytes (for the write-back).
  const TIniLine& Line(int index) const { return items_[static_cast<size_t>(index)]; }

  // header: the section's header line; not as_read when the module made
  // the section (then its text is "[name]").
  TIniLine header;
  // shadowed: a later section of a name seen before; kept, never read.
  bool shadowed = false;
};

// TSectionList: section names in file order, each owning its lines. Lookups
// by name pass over shadowed sections.
class TSectionList : public TStringListEx {
 public:
  TSectionList() = default;
  ~TSectionList() { Clear(); }
  TSectionList(const TSectionList&) = delete;
  TSectionList& operator=(const TSectionList&) = delete;

  int Add(std::string name);  // appends an empty section
  TSectionValues& Values(int index) const {
    return *reinterpret_cast<TSectionValues*>(items_[static_cast<size_t>(index)].companion);
  }
  void Delete(int index);
  void Clear();
  // FindByName: circular search from the remembered index, ASCII case
  // ignored; a match is remembered. -1 when missing.
  int FindByName(std::string_view name);
  int remembered_index = 0;
};

class TBigIniFile {
 public:
  static constexpr size_t kBufferSize = 1048576;

  // Opens file_name (may be empty). Raises platform::EFileError when the
  // file exists but cannot be read.
  explicit TBigIniFile(const std::string& file_name);
  // Writes back pending changes; a failure is swallowed here, so callers
  // that care call UpdateFile first.
  ~TBigIniFile();
  TBigIniFile(const TBigIniFile&) = delete;
  TBigIniFile& operator=(const TBigIniFile&) = delete;

  // OpenIniFile writes back the previous file's changes, clears the content,
  // and loads file_name when it is not empty and exists.
  void OpenIniFile(const std::string& file_name);
  // LoadFromSource / LoadFromString parse bytes as the content (no file
  // involved; the file name is kept).
  void LoadFromSource(platform::ByteSource& source);
  void LoadFromString(std::string_view text);
  // SaveToString gives the content in written form, as the file's bytes.
  std::string SaveToString();
  // UpdateFile writes the content back when modified and the file name is
  // not empty, then clears the modified flag. Raises platform::EFileError
  // (the file then keeps its old content and the flag stays set).
  void UpdateFile();

  std::string ReadString(std::string_view section, std::string_view key,
                         std::string_view default_value);
  int32_t ReadInteger(std::string_view section, std::string_view key, int32_t default_value);
  double ReadFloat(std::string_view section, std::string_view key, double default_value);
  // ReadSection appends the non-empty keys of a section (list not cleared).
  void ReadSection(std::string_view section, std::vector<std::string>& keys);
  // ReadSections appends the names of the sections that are read, in
  // file order (list not cleared).
  void ReadSections(std::vector<std::string>& names) const;
  bool ValueExists(std::string_view section, std::string_view key);
  bool SectionExists(std::string_view section);

  // WriteString: an empty key erases the section (or, with empty section
  // and value too, writes the file back at once).
  void WriteString(std::string_view section, std::string_view key, std::string_view value);
  void WriteInteger(std::string_view section, std::string_view key, int32_t value);
  void WriteFloat(std::string_view section, std::string_view key, double value);
  void DeleteKey(std::string_view section, std::string_view key);
  // EraseSection removes the section, and the unread later sections of
  // its name with it, so that none of them comes back at the next read.
  void EraseSection(std::string_view section);

  bool Modified() const { return modified_; }
  const std::string& FileName() const { return file_name_; }
  TextEncoding Encoding() const { return encoding_; }
  TSectionList& Sections() { return sections_; }

 private:
  void Clear();
  void Load(platform::ByteSource& source, size_t buffer_size);
  // FindSection: circular search from the remembered section index;
  // creates a missing section when create is set. -1 when missing.
  int FindSection(std::string_view section, bool create);
  void SaveTo(TvopStreamWriter& writer);

  bool modified_ = false;
  size_t buffer_size_ = kBufferSize;
  std::string file_name_;
  int section_index_ = 0;
  TSectionList sections_;
  TextEncoding encoding_ = TextEncoding::kAnsi;
  std::string prologue_;  // the bytes before the first section, after the mark
  // The file's end from a line of the end-of-file character 0x1A on, when
  // only empty lines follow it: written after everything the module adds.
  std::string eof_tail_;
  std::string stray_;  // an odd last byte of a UTF-16 file, written last
  std::vector<char> buffer_;
};

// ParseIniInteger converts INI integer text: decimal, "$hex" or "0xhex"
// (leading zeros aside, 10 decimal or 8 hexadecimal digits at most; hex
// wraps into 32 bits); nullopt when it is not a number.
std::optional<int32_t> ParseIniInteger(std::string_view text);

}  // namespace tarvel
