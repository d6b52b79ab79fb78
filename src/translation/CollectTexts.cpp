// The collection of texts for the people who keep a language file. In a
// collection mode (a directive in the file's first lines) a pass changes
// no text and records instead:
//   //saveuntr     each text without a translation, once;
//   //saveuntrobj  each text without a translation with the place it was
//                  seen ("[TForm]frm -> [TLabel]lbl.Caption=Text"), every
//                  time it is seen;
//   //saveunused   the loaded translations that no pass of the
//                  translator's life needed;
//   //saveall      every text of a pass, once, with the translation the
//                  file has for it (an empty target line when none).
// When the translator is destroyed the record goes to a side file beside
// the language file, in its format, with target lines to fill in:
// tarvel.lng.new (tarvel.lng.unused for //saveunused), or under
// //filenew the first free tarvel.lng.1.new, .2.new, ...; //filerewrite
// replaces the side file; //fileappend adds to it.
//
// Threads: CollectText runs during a pass (lock held); SaveCollectedTexts
// from the destructor.
#include <algorithm>
#include <cstdio>
#include <memory>

#include "Common/Text.h"
#include "platform/file_io.h"
#include "platform/text.h"
#include "translation/Translator.h"

namespace tarvel {

namespace {

bool HasLetter(std::u16string_view text) {
  for (char16_t c : text)
    if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c >= 128) return true;
  return false;
}

std::string EscapeForFile(std::u16string_view text) {
  return platform::WideToAnsi(EscapeControls(text));
}

// Place: the owner chain of a component ("[TForm]frm -> [TLabel]lbl"), or
// the class name of another object, then ".Property".
std::string Place(const TObject* object, const TPropInfo* pi) {
  std::string place;
  if (auto* component = dynamic_cast<const TComponent*>(object)) {
    std::vector<const TComponent*> chain;
    for (const TComponent* c = component; c; c = c->Owner()) chain.push_back(c);
    for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
      if (!place.empty()) place += " -> ";
      place += "[" + (*it)->ClassInfo().name + "]" + (*it)->Name();
    }
  } else if (object) {
    place = object->ClassInfo().name;
  }
  if (pi) {
    if (!place.empty()) place += ".";
    place += pi->name;
  }
  return place;
}

// TextOrder: letters compared without case first, then lower case before
// upper case, then bytes: the order of a word list.
bool TextOrder(const std::string& a, const std::string& b) {
  const std::string la = platform::AnsiLowerCase(a), lb = platform::AnsiLowerCase(b);
  if (la != lb) return la < lb;
  return a > b;
}

class SideFile {
 public:
  SideFile(const std::string& path, bool append) {
    file_ = std::fopen(path.c_str(), append ? "ab" : "wb");
  }
  ~SideFile() {
    if (file_) std::fclose(file_);
  }
  SideFile(const SideFile&) = delete;
  SideFile& operator=(const SideFile&) = delete;
  bool ok() const { return file_ && good_; }
  void Line(std::string_view text) {
    if (!ok()) return;
    good_ = std::fwrite(text.data(), 1, text.size(), file_) == text.size() &&
            std::fwrite("\r\n", 1, 2, file_) == 2;
  }
  bool Close() {
    if (!file_) return false;
    const bool closed = std::fclose(file_) == 0;
    file_ = nullptr;
    return closed && good_;
  }

 private:
  FILE* file_ = nullptr;
  bool good_ = true;
};

}  // namespace

void TWtransl::CollectText(std::u16string_view old_text, bool found, const std::string& raw,
                           TObject* object, const TPropInfo* pi) {
  if (old_text.empty() || !HasLetter(old_text)) return;
  const std::string e = EscapeForFile(old_text);
  auto contains = [&](const std::string& s) TARVEL_REQUIRES(lock_) {
    return std::find(collected_texts_.begin(), collected_texts_.end(), s) != collected_texts_.end();
  };
  switch (collect_mode_) {
    case cmUntranslated:
      if (!found && !contains(e)) collected_texts_.push_back(e);
      break;
    case cmUntranslatedWithPlace:
      // The check looks for the bare text while entries carry their place,
      // so a text is listed for every place and pass it is seen in.
      if (!found && !contains(e)) {
        const std::string place = Place(object, pi);
        collected_texts_.push_back(place.empty() ? e : place + "=" + e);
      }
      break;
    case cmUnused:
      if (collected_texts_.empty()) collected_texts_.emplace_back();
      // Remembered for good: a later read of the file (after the dictionary
      // was released) must not list it again.
      used_texts_.insert(e);
      collected_texts_.erase(std::remove(collected_texts_.begin(), collected_texts_.end(), e),
                             collected_texts_.end());
      break;
    case cmAll:
      if (!contains(e)) {
        collected_texts_.push_back(e);
        if (found) collected_translations_[e] = raw;
      }
      break;
    default:
      break;
  }
}

namespace {

// The side file's name: language file + extension, then the alternatives
// language file + ".n" + extension for n = 1, 2, ...
std::string SideFileCandidate(const std::string& language_file, const std::string& extension,
                              int n) {
  if (n == 0) return language_file + extension;
  return language_file + "." + std::to_string(n) + extension;
}

// Enough names for every instance a host could run; a folder that holds
// them all takes no more.
constexpr int kMaxSideFileNumber = 100000;

}  // namespace

std::string TWtransl::SideFileName() const {
  RecursiveMutexLock lock(lock_);
  const std::string extension = collect_mode_ == cmUnused ? ".unused" : ".new";
  if (collect_file_mode_ != cfNew) return SideFileCandidate(language_file_, extension, 0);
  for (int n = 0; n <= kMaxSideFileNumber; ++n) {
    std::string candidate = SideFileCandidate(language_file_, extension, n);
    if (!platform::FileExists(candidate)) return candidate;
  }
  return {};
}

void TWtransl::SaveCollectedTexts(const std::string& target, const std::string& source) {
  try {
    RecursiveMutexLock lock(lock_);
    if (collect_mode_ == cmOff || collected_texts_.empty() || language_file_.empty()) return;
    const std::string extension = collect_mode_ == cmUnused ? ".unused" : ".new";
    std::string name;
    bool existed = false;
    if (collect_file_mode_ == cfNew) {
      // The free name is taken by creating the file: another instance going
      // at the same moment takes the next one instead of the same.
      for (int n = 0; name.empty(); ++n) {
        if (n > kMaxSideFileNumber) return;
        const std::string candidate = SideFileCandidate(language_file_, extension, n);
        switch (platform::CreateNewFile(candidate)) {
          case platform::NewFile::kCreated:
            name = candidate;
            break;
          case platform::NewFile::kExists:
            break;
          case platform::NewFile::kFailed:
            return;
        }
      }
    } else {
      name = SideFileCandidate(language_file_, extension, 0);
      existed = platform::FileExists(name);
    }
    SideFile file(name, collect_file_mode_ == cfAppend && existed);
    if (!existed) {
      file.Line("[Languages]");
      file.Line("$" + source + " = #1");
      file.Line("$" + target + " = #2 (Default)");
      file.Line("Default = " + target);
      file.Line("");
    }
    std::vector<std::string> entries = collected_texts_;
    std::sort(entries.begin(), entries.end(), TextOrder);
    for (const std::string& entry : entries) {
      if (entry.empty()) continue;
      file.Line(source + ":>" + entry);
      auto translation = collected_translations_.find(entry);
      file.Line(target + ":>" +
                (translation != collected_translations_.end() ? translation->second : ""));
      file.Line("");
    }
    file.Line("");
    file.Close();
  } catch (...) {
    // Writing the side file never fails the translator.
  }
}

}  // namespace tarvel
