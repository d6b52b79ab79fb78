#include "settings/BigIni.h"

#include <algorithm>
#include <cmath>
#include <unordered_set>

#include "Common/OleVariant.h"
#include "Common/vopStreamIO.h"
#include "platform/text.h"

namespace tarvel {

namespace {

std::string_view Strip(std::string_view s) {
  while (!s.empty() && static_cast<unsigned char>(s.front()) <= ' ') s.remove_prefix(1);
  while (!s.empty() && static_cast<unsigned char>(s.back()) <= ' ') s.remove_suffix(1);
  return s;
}

char LowerAscii(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool SameAscii(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (LowerAscii(a[i]) != LowerAscii(b[i])) return false;
  return true;
}

// SameLocale compares ignoring case under the user's locale. Pure ASCII
// pairs (nearly every key) are compared in place; others go through the
// system's case folding.
bool SameLocale(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    unsigned char x = static_cast<unsigned char>(a[i]), y = static_cast<unsigned char>(b[i]);
    if (x >= 0x80 || y >= 0x80) return platform::AnsiLowerCase(a) == platform::AnsiLowerCase(b);
    if (LowerAscii(static_cast<char>(x)) != LowerAscii(static_cast<char>(y))) return false;
  }
  return true;
}

std::string LowerAsciiCopy(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = LowerAscii(c);
  return out;
}

// HeaderName gives the section name of a header line: "[" after blanks,
// a "]" followed by nothing but blanks or a ";" comment; the name between
// the brackets, stripped. nullopt for any other line.
std::optional<std::string_view> HeaderName(std::string_view line) {
  const std::string_view s = Strip(line);
  if (s.size() < 2 || s.front() != '[') return std::nullopt;
  for (size_t close = s.find(']', 1); close != std::string_view::npos;
       close = s.find(']', close + 1)) {
    const std::string_view rest = Strip(s.substr(close + 1));
    if (rest.empty() || rest.front() == ';') return Strip(s.substr(1, close - 1));
  }
  return std::nullopt;
}

bool IsIgnored(std::string_view line) {
  return line.empty() || line == "\x1A";
}

}  // namespace

// ---- TSectionValues ----

void TSectionValues::Add(std::string line) {
  TIniLine item;
  item.text = std::move(line);
  // The empty lines that closed the section stay after it.
  std::string& last_trailer = items_.empty() ? header.trailer : items_.back().trailer;
  item.trailer = std::move(last_trailer);
  last_trailer.clear();
  items_.push_back(std::move(item));
}

void TSectionValues::AddRead(TextLine&& line, TextEncoding encoding) {
  TIniLine item;
  item.text = std::move(line.text);
  if (encoding != TextEncoding::kAnsi) item.raw = std::move(line.raw);
  item.end = line.end;
  item.as_read = true;
  items_.push_back(std::move(item));
}

void TSectionValues::AppendTrailer(std::string_view bytes) {
  Trailer().append(bytes);
}

std::string& TSectionValues::Trailer() {
  return items_.empty() ? header.trailer : items_.back().trailer;
}

void TSectionValues::Replace(int index, std::string line) {
  TIniLine& item = items_[static_cast<size_t>(index)];
  item.text = std::move(line);
  item.raw.clear();
  item.as_read = false;
  item.companion = 0;
}

void TSectionValues::Delete(int index) {
  auto at = items_.begin() + index;
  if (!at->trailer.empty()) {
    std::string& before = index == 0 ? header.trailer : (at - 1)->trailer;
    before += at->trailer;
  }
  items_.erase(at);
}

int TSectionValues::EqualsPos(int index) {
  TIniLine& item = items_[static_cast<size_t>(index)];
  if (item.companion == 0) {
    size_t eq = item.text.find('=');
    item.companion = eq == std::string::npos ? -1 : static_cast<intptr_t>(eq) + 1;
  }
  return static_cast<int>(item.companion);
}

std::string_view TSectionValues::Key(int index) {
  int eq = EqualsPos(index);
  std::string_view text = items_[static_cast<size_t>(index)].text;
  if (eq < 0) return text;
  return Strip(text.substr(0, static_cast<size_t>(eq - 1)));
}

std::string_view TSectionValues::Value(int index) {
  int eq = EqualsPos(index);
  if (eq < 0) return {};
  std::string_view text = items_[static_cast<size_t>(index)].text;
  return Strip(text.substr(static_cast<size_t>(eq)));
}

int TSectionValues::IndexOfKey(std::string_view key) {
  for (int i = 0; i < Count(); ++i)
    if (SameLocale(Key(i), key)) return i;
  return -1;
}

// ---- TSectionList ----

int TSectionList::Add(std::string name) {
  auto* values = new TSectionValues();
  TIniLine item;
  item.text = std::move(name);
  item.companion = reinterpret_cast<intptr_t>(values);
  items_.push_back(std::move(item));
  return Count() - 1;
}

void TSectionList::Delete(int index) {
  delete &Values(index);
  items_.erase(items_.begin() + index);
}

void TSectionList::Clear() {
  for (int i = 0; i < Count(); ++i) delete &Values(i);
  items_.clear();
  remembered_index = 0;
}

int TSectionList::FindByName(std::string_view name) {
  int n = Count();
  if (n == 0) return -1;
  if (remembered_index < 0 || remembered_index >= n) remembered_index = 0;
  for (int k = 0, i = remembered_index; k < n; ++k, i = (i + 1) % n) {
    if (!Values(i).shadowed && SameAscii(Strings(i), name)) {
      remembered_index = i;
      return i;
    }
  }
  return -1;
}

// ---- TBigIniFile ----

TBigIniFile::TBigIniFile(const std::string& file_name) {
  OpenIniFile(file_name);
  modified_ = false;
}

TBigIniFile::~TBigIniFile() {
  try {
    UpdateFile();
  } catch (...) {
    // Destructors must not throw; callers that need to know call UpdateFile.
  }
}

void TBigIniFile::Clear() {
  sections_.Clear();
  section_index_ = 0;
  encoding_ = TextEncoding::kAnsi;
  prologue_.clear();
  eof_tail_.clear();
  stray_.clear();
}

void TBigIniFile::OpenIniFile(const std::string& file_name) {
  UpdateFile();
  Clear();
  file_name_ = file_name;
  if (!file_name_.empty()) {
    if (auto source = platform::OpenFileForReading(file_name_)) LoadFromSource(*source);
  }
  modified_ = false;
}

void TBigIniFile::LoadFromString(std::string_view text) {
  StringSource source(text);
  // Text in memory needs no larger buffer than itself.
  Load(source, std::min(buffer_size_, text.size() + 1));
}

void TBigIniFile::LoadFromSource(platform::ByteSource& source) {
  Load(source, buffer_size_);
}

void TBigIniFile::Load(platform::ByteSource& source, size_t buffer_size) {
  Clear();
  buffer_.resize(buffer_size);
  TvopStreamReader reader(source, buffer_);
  TextLine line;
  TSectionValues* current = nullptr;
  // Lower-cased names of the sections read so far: a later section of the
  // same name stays in the file but is never read.
  std::unordered_set<std::string> seen;
  // Where the end-of-file mark and the empty lines after it were kept, while
  // nothing else has followed them.
  std::string* eof_owner = nullptr;
  size_t eof_at = 0;
  while (reader.ReadLine(line)) {
    const TextEncoding encoding = reader.Encoding();
    if (IsIgnored(line.text)) {
      std::string& kept = current ? current->Trailer() : prologue_;
      if (!eof_owner && line.text == "\x1A") {
        eof_owner = &kept;
        eof_at = kept.size();
      }
      kept += line.Bytes(encoding);
      continue;
    }
    eof_owner = nullptr;
    if (auto name = HeaderName(line.text)) {
      const bool shadowed = !seen.insert(LowerAsciiCopy(*name)).second;
      current = &sections_.Values(sections_.Add(std::string(*name)));
      current->shadowed = shadowed;
      current->header.text = line.text;
      current->header.raw = encoding == TextEncoding::kAnsi ? line.text : line.raw;
      current->header.end = line.end;
      current->header.as_read = true;
    } else if (current) {
      current->AddRead(std::move(line), encoding);
    } else {
      prologue_ += line.Bytes(encoding);
    }
  }
  if (eof_owner) {
    eof_tail_ = eof_owner->substr(eof_at);
    eof_owner->resize(eof_at);
  }
  encoding_ = reader.Encoding();
  stray_ = reader.Stray();
  sections_.remembered_index = 0;
  buffer_.clear();
  buffer_.shrink_to_fit();
}

void TBigIniFile::SaveTo(TvopStreamWriter& writer) {
  const TextEncoding encoding = encoding_;
  // open: what was written last lacks a line end (the file's last line did),
  // so a line the module adds after it needs one first.
  bool open = false;
  auto put_bytes = [&](std::string_view bytes) {
    if (bytes.empty()) return;
    writer.WriteBytes(bytes);
    open = !EndsWithLineEnd(encoding, bytes);
  };
  auto put_line = [&](const TIniLine& line) {
    if (line.as_read) {
      put_bytes(line.raw.empty() ? line.text : line.raw);
    } else {
      if (open) put_bytes(LineEndBytes(encoding, LineEnd::kCrLf));
      put_bytes(EncodeText(encoding, line.text));
    }
    put_bytes(LineEndBytes(encoding, line.end));
    open = line.end == LineEnd::kNone;
    put_bytes(line.trailer);
  };
  writer.WriteBytes(ByteOrderMark(encoding));
  put_bytes(prologue_);
  for (int i = 0; i < sections_.Count(); ++i) {
    const TSectionValues& values = sections_.Values(i);
    if (!values.header.as_read && values.Count() == 0) continue;
    put_line(values.header);
    for (int j = 0; j < values.Count(); ++j) put_line(values.Line(j));
  }
  // The end-of-file mark stays last, whatever was added before it.
  writer.WriteBytes(eof_tail_);
  writer.WriteBytes(stray_);
}

std::string TBigIniFile::SaveToString() {
  StringSink sink;
  std::vector<char> buffer(64 * 1024);
  TvopStreamWriter writer(sink, buffer, encoding_);
  SaveTo(writer);
  writer.Flush();
  return sink.Text();
}

void TBigIniFile::UpdateFile() {
  if (modified_ && !file_name_.empty()) {
    platform::RewriteFile(file_name_, [this](platform::ByteSink& sink) {
      buffer_.resize(buffer_size_);
      TvopStreamWriter writer(sink, buffer_, encoding_);
      SaveTo(writer);
      writer.Flush();
    });
    buffer_.clear();
    buffer_.shrink_to_fit();
  }
  modified_ = false;
}

int TBigIniFile::FindSection(std::string_view section, bool create) {
  int n = sections_.Count();
  if (n > 0) {
    if (section_index_ < 0 || section_index_ >= n) section_index_ = 0;
    for (int k = 0, i = section_index_; k < n; ++k, i = (i + 1) % n) {
      if (!sections_.Values(i).shadowed && SameAscii(sections_.Strings(i), section)) {
        section_index_ = i;
        return i;
      }
    }
  }
  if (!create) return -1;
  section_index_ = sections_.Add(std::string(section));
  TSectionValues& values = sections_.Values(section_index_);
  values.header.text = "[" + std::string(section) + "]";
  // The empty line that ends a section the module writes.
  values.header.trailer = std::string(LineEndBytes(encoding_, LineEnd::kCrLf));
  return section_index_;
}

std::string TBigIniFile::ReadString(std::string_view section, std::string_view key,
                                    std::string_view default_value) {
  int s = FindSection(section, false);
  if (s >= 0) {
    TSectionValues& values = sections_.Values(s);
    int line = values.IndexOfKey(key);
    if (line >= 0) return std::string(values.Value(line));
  }
  return std::string(default_value);
}

std::optional<int32_t> ParseIniInteger(std::string_view t) {
  std::string text(t);
  if (text.size() >= 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X'))
    text.replace(0, 2, "$");
  std::string_view s(text);
  bool neg = false;
  if (!s.empty() && (s.front() == '-' || s.front() == '+')) {
    neg = s.front() == '-';
    s.remove_prefix(1);
  }
  // Leading zeros do not count against the digits a 32-bit number can have.
  auto skip_zeros = [](std::string_view digits) {
    while (digits.size() > 1 && digits.front() == '0') digits.remove_prefix(1);
    return digits;
  };
  if (!s.empty() && s.front() == '$') {
    s = skip_zeros(s.substr(1));
    if (s.empty() || s.size() > 8) return std::nullopt;
    uint32_t v = 0;
    for (char c : s) {
      uint32_t d;
      if (c >= '0' && c <= '9')
        d = static_cast<uint32_t>(c - '0');
      else if (c >= 'a' && c <= 'f')
        d = static_cast<uint32_t>(c - 'a' + 10);
      else if (c >= 'A' && c <= 'F')
        d = static_cast<uint32_t>(c - 'A' + 10);
      else
        return std::nullopt;
      v = v * 16 + d;
    }
    return static_cast<int32_t>(neg ? 0u - v : v);
  }
  s = skip_zeros(s);
  if (s.empty() || s.size() > 10) return std::nullopt;
  int64_t v = 0;
  for (char c : s) {
    if (c < '0' || c > '9') return std::nullopt;
    v = v * 10 + (c - '0');
  }
  if (neg) v = -v;
  if (v < INT32_MIN || v > INT32_MAX) return std::nullopt;
  return static_cast<int32_t>(v);
}

int32_t TBigIniFile::ReadInteger(std::string_view section, std::string_view key,
                                 int32_t default_value) {
  return ParseIniInteger(ReadString(section, key, "")).value_or(default_value);
}

double TBigIniFile::ReadFloat(std::string_view section, std::string_view key,
                              double default_value) {
  std::string text = ReadString(section, key, "");
  if (text.empty()) return default_value;
  // Both "." and "," are taken as the separator whatever the locale, so a
  // file written under another locale still reads.
  char sep = platform::DecimalSeparator();
  for (char& c : text)
    if (c == ',' || c == '.' || c == sep) c = '.';
  auto d = ParseNumber(text);
  if (!d || !std::isfinite(*d)) return default_value;
  return *d;
}

void TBigIniFile::ReadSection(std::string_view section, std::vector<std::string>& keys) {
  int s = sections_.FindByName(section);
  if (s < 0) return;
  TSectionValues& values = sections_.Values(s);
  for (int i = 0; i < values.Count(); ++i) {
    std::string_view key = values.Key(i);
    if (!key.empty()) keys.emplace_back(key);
  }
}

void TBigIniFile::ReadSections(std::vector<std::string>& names) const {
  for (int i = 0; i < sections_.Count(); ++i)
    if (!sections_.Values(i).shadowed) names.push_back(sections_.Strings(i));
}

bool TBigIniFile::ValueExists(std::string_view section, std::string_view key) {
  if (key.empty()) return false;
  int s = sections_.FindByName(section);
  if (s < 0) return false;
  TSectionValues& values = sections_.Values(s);
  for (int i = 0; i < values.Count(); ++i)
    if (SameAscii(values.Key(i), key)) return true;
  return false;
}

bool TBigIniFile::SectionExists(std::string_view section) {
  return sections_.FindByName(section) >= 0;
}

void TBigIniFile::WriteString(std::string_view section, std::string_view key,
                              std::string_view value) {
  if (key.empty()) {
    if (!section.empty() || !value.empty())
      EraseSection(section);
    else
      UpdateFile();
    return;
  }
  std::string line;
  line.reserve(key.size() + 1 + value.size());
  line.append(key).append("=").append(value);
  TSectionValues& values = sections_.Values(FindSection(section, true));
  int index = values.IndexOfKey(key);
  if (index < 0) {
    values.Add(std::move(line));
    modified_ = true;
  } else if (values.Strings(index) != line) {
    values.Replace(index, std::move(line));
    modified_ = true;
  }
}

void TBigIniFile::WriteInteger(std::string_view section, std::string_view key, int32_t value) {
  WriteString(section, key, std::to_string(value));
}

void TBigIniFile::WriteFloat(std::string_view section, std::string_view key, double value) {
  WriteString(section, key, FormatFloat(value, platform::DecimalSeparator()));
}

void TBigIniFile::DeleteKey(std::string_view section, std::string_view key) {
  TSectionValues& values = sections_.Values(FindSection(section, true));
  int index = values.IndexOfKey(key);
  if (index >= 0) {
    values.Delete(index);
    modified_ = true;
  }
}

void TBigIniFile::EraseSection(std::string_view section) {
  int s = sections_.FindByName(section);
  if (s < 0) return;
  for (int i = sections_.Count() - 1; i >= s; --i)
    if (SameAscii(sections_.Strings(i), section)) sections_.Delete(i);
  modified_ = true;
  sections_.remembered_index = 0;
  if (section_index_ >= sections_.Count()) section_index_ = 0;
}

}  // namespace tarvel
