// TBigIniFile: a whole INI file in memory. Opening reads the file
// completely; reads and writes work in memory; the file is written back
// (replaced atomically) only when something changed.
//
// Format as read: lines end at LF or CR LF (a lone CR is dropped); a line
// that starts with "[" and ends with "]" opens a section named by the text
// between them, unstripped; empty lines and lines of the single character
// 0x1A are ignored; lines before the first section are ignored; every other
// line belongs to its section unchanged. A line's key is its text before
// the first "=" with bytes 0..32 stripped at both ends, its value the text
// after it stripped the same way; a line without "=" is all key. Sections
// whose names are equal ignoring ASCII case are merged into the first
// (later ones are dropped).
//
// Format as written: for each section with at least one line: "[name]",
// its lines, one empty line; CR LF after every line.
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

#include "platform/file_io.h"

namespace tarvel {

// TStringListEx: text lines, each with one pointer-sized companion slot.
class TStringListEx {
 public:
  int Count() const { return static_cast<int>(items_.size()); }
  const std::string& Strings(int index) const { return items_[static_cast<size_t>(index)].text; }
  intptr_t Companion(int index) const { return items_[static_cast<size_t>(index)].companion; }

 protected:
  struct Item {
    std::string text;
    intptr_t companion;
  };
  std::vector<Item> items_;
};

// TSectionValues: one section's lines in file order, each companion caching
// the 1-based position of its first "=" (-1: none, 0: not computed yet).
class TSectionValues : public TStringListEx {
 public:
  void Add(std::string line) { items_.push_back(Item{std::move(line), 0}); }
  // Replace sets a line's text; its "=" position is computed again.
  void Replace(int index, std::string line);
  void Delete(int index) { items_.erase(items_.begin() + index); }
  // EqualsPos gives the cached 1-based "=" position or -1.
  int EqualsPos(int index);
  std::string_view Key(int index);
  std::string_view Value(int index);
  // IndexOfKey: the first line whose key matches, ignoring letter case
  // under the user's locale; -1 when none.
  int IndexOfKey(std::string_view key);
};

// TSectionList: section names in file order, each owning its lines.
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
  // LoadFromSource / LoadFromString parse text as the content (no file
  // involved; the file name is kept).
  void LoadFromSource(platform::ByteSource& source);
  void LoadFromString(std::string_view text);
  // SaveToString gives the content in written form.
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
  bool ValueExists(std::string_view section, std::string_view key);
  bool SectionExists(std::string_view section);

  // WriteString: an empty key erases the section (or, with empty section
  // and value too, writes the file back at once).
  void WriteString(std::string_view section, std::string_view key, std::string_view value);
  void WriteInteger(std::string_view section, std::string_view key, int32_t value);
  void WriteFloat(std::string_view section, std::string_view key, double value);
  void DeleteKey(std::string_view section, std::string_view key);
  void EraseSection(std::string_view section);

  bool Modified() const { return modified_; }
  const std::string& FileName() const { return file_name_; }
  TSectionList& Sections() { return sections_; }

 private:
  void Clear();
  // FindSection: circular search from the remembered section index;
  // creates a missing section when create is set. -1 when missing.
  int FindSection(std::string_view section, bool create);

  bool modified_ = false;
  size_t buffer_size_ = kBufferSize;
  std::string file_name_;
  int section_index_ = 0;
  TSectionList sections_;
  std::vector<char> buffer_;
};

// ParseIniInteger converts INI integer text: decimal, "$hex" or "0xhex"
// (8 hex digits at most, wrapping into 32 bits); nullopt when it is not a
// number.
std::optional<int32_t> ParseIniInteger(std::string_view text);

}  // namespace tarvel
