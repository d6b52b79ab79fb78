// The module's INI reading and writing against the Windows profile API
// (GetPrivateProfileStringA, WritePrivateProfileStringA), on files where
// the two agree: what one writes the other reads, and both read a user's
// file alike, so a regression on either side shows. Windows only.
//
// Where they do not agree, by design: Windows takes a ";" line as a
// comment, the module as a line whose key is the whole line (no stored
// name starts with ";", so no setting is affected); a line without "="
// reads as the default in Windows and as an empty value in the module;
// Windows strips quotes around a value, the module does not. The
// comparison leaves ";" lines out, and the files hold no quoted values and
// no lines without "=" (line_ends.ini has one: it is not in the table).
#ifdef _WIN32
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <string>
#include <vector>

#include "monitor/DataSourceCfg.h"
#include "monitor/ProxyCodeObject.h"
#include "settings/BigIni.h"
#include "settings/TWregistry.h"
#include "settings_forms.h"
#include "settings_support.h"

namespace tarvel {
namespace {

constexpr const char* kNone = "<none>";

std::string Lower(std::string s) {
  std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) {
    return static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
  });
  return s;
}

// NulList splits a list of NUL-terminated names ending in an empty one.
std::vector<std::string> NulList(const std::vector<char>& buffer, DWORD size) {
  std::vector<std::string> names;
  for (DWORD at = 0; at < size && buffer[at];) {
    names.emplace_back(&buffer[at]);
    at += static_cast<DWORD>(names.back().size()) + 1;
  }
  return names;
}

std::vector<std::string> WindowsSections(const std::string& path) {
  std::vector<char> buffer(65536);
  DWORD n = ::GetPrivateProfileSectionNamesA(buffer.data(), static_cast<DWORD>(buffer.size()),
                                             path.c_str());
  return NulList(buffer, n);
}

std::vector<std::string> WindowsKeys(const std::string& path, const std::string& section) {
  std::vector<char> buffer(65536);
  DWORD n = ::GetPrivateProfileStringA(section.c_str(), nullptr, "", buffer.data(),
                                       static_cast<DWORD>(buffer.size()), path.c_str());
  return NulList(buffer, n);
}

std::string WindowsValue(const std::string& path, const std::string& section,
                         const std::string& key) {
  std::vector<char> buffer(65536);
  DWORD n = ::GetPrivateProfileStringA(section.c_str(), key.c_str(), kNone, buffer.data(),
                                       static_cast<DWORD>(buffer.size()), path.c_str());
  return std::string(buffer.data(), n);
}

// Differences lists where the module and Windows read a file apart:
// sections, the keys of each (";" lines left out) and every value.
std::vector<std::string> Differences(const std::string& path) {
  // Windows keeps profiles cached; a flush makes it read the file again.
  ::WritePrivateProfileStringA(nullptr, nullptr, nullptr, path.c_str());
  std::vector<std::string> found;
  TBigIniFile ini(path);
  std::vector<std::string> ours, theirs = WindowsSections(path);
  ini.ReadSections(ours);
  std::vector<std::string> ours_lower, theirs_lower;
  for (const auto& s : ours) ours_lower.push_back(Lower(s));
  for (const auto& s : theirs)
    if (std::find(theirs_lower.begin(), theirs_lower.end(), Lower(s)) == theirs_lower.end())
      theirs_lower.push_back(Lower(s));
  if (ours_lower != theirs_lower) {
    std::string text = "sections: module";
    for (const auto& s : ours) text += " [" + s + "]";
    text += ", Windows";
    for (const auto& s : theirs) text += " [" + s + "]";
    found.push_back(text);
  }
  for (const std::string& section : ours) {
    std::vector<std::string> keys, our_keys;
    ini.ReadSection(section, our_keys);
    for (const std::string& k : our_keys)
      if (k[0] != ';') keys.push_back(k);
    std::vector<std::string> their_keys = WindowsKeys(path, section);
    for (const std::string& k : their_keys) {
      const bool known = std::any_of(keys.begin(), keys.end(),
                                     [&](const std::string& o) { return Lower(o) == Lower(k); });
      if (!known) found.push_back("[" + section + "] " + k + ": only Windows lists it");
    }
    for (const std::string& k : keys) {
      const std::string mine = ini.ReadString(section, k, kNone);
      const std::string windows = WindowsValue(path, section, k);
      if (mine != windows)
        found.push_back("[" + section + "] " + k + ": module \"" + mine + "\", Windows \"" +
                        windows + "\"");
    }
  }
  return found;
}

std::string Joined(const std::vector<std::string>& lines) {
  std::string text;
  for (const auto& l : lines) text += l + "\n";
  return text;
}

// Files where the module and Windows agree.
const char* const kAgreeing[] = {
    "utf8_bom.ini",
    "utf16le.ini",
    "utf16be.ini",
    "header_comment.ini",
    "header_indented.ini",
    "header_trailing_blank.ini",
    "comments_and_blanks.ini",
    "lone_cr.ini",
    "blanks.ini",
    "duplicate_sections.ini",
    "before_first_section.ini",
    "truncated.ini",
};

class WindowsProfile : public ::testing::Test {
 protected:
  std::string Copy(const std::string& name) {
    const std::string path = sandbox_.Dir().File(name);
    test::WriteWholeFile(path, test::ReadWholeFile(test::TestDataPath("ini/" + name)));
    return path;
  }
  std::unique_ptr<TWreg> Engine(const std::string& path) {
    auto reg = std::make_unique<TWreg>();
    reg->INIFile = path;
    reg->Components.SetText(kTaPluginProperties);
    return reg;
  }
  test::RegistrySandbox sandbox_;
};

TEST_F(WindowsProfile, BothReadUserFilesAlike) {
  for (const char* name : kAgreeing) {
    SCOPED_TRACE(name);
    EXPECT_EQ(Joined(Differences(Copy(name))), "");
  }
}

TEST_F(WindowsProfile, WindowsReadsWhatTheModuleSaved) {
  for (const char* name : kAgreeing) {
    SCOPED_TRACE(name);
    const std::string path = Copy(name);
    TProxyCodeObject s;
    ASSERT_TRUE(Engine(path)->LoadProperties(&s));
    test::FillSample(s);
    s.var1_Text = "Pressure";
    ASSERT_TRUE(Engine(path)->SaveProperties(&s));
    EXPECT_EQ(Joined(Differences(path)), "");
    ::WritePrivateProfileStringA(nullptr, nullptr, nullptr, path.c_str());
    EXPECT_EQ(WindowsValue(path, "Common", "Var1"), "Pressure");
    EXPECT_EQ(WindowsValue(path, "Common", "Val3"), "123456789.125");
    EXPECT_EQ(WindowsValue(path, "Common", "Wait data"), "False");
  }
}

TEST_F(WindowsProfile, TheModuleReadsWhatWindowsWrote) {
  std::vector<std::string> files(std::begin(kAgreeing), std::end(kAgreeing));
  files.push_back("new.ini");  // a file Windows makes
  for (const std::string& name : files) {
    SCOPED_TRACE(name);
    const std::string path = name == "new.ini" ? sandbox_.Dir().File(name) : Copy(name);
    ASSERT_TRUE(::WritePrivateProfileStringA("Common", "Var1", "FromWindows", path.c_str()));
    ASSERT_TRUE(::WritePrivateProfileStringA("Common", "Val1", "2,5", path.c_str()));
    ASSERT_TRUE(::WritePrivateProfileStringA("Fresh", "Key", "value", path.c_str()));
    ::WritePrivateProfileStringA(nullptr, nullptr, nullptr, path.c_str());  // flushes
    TProxyCodeObject s;
    ASSERT_TRUE(Engine(path)->LoadProperties(&s));
    EXPECT_EQ(s.var1_Text, "FromWindows");
    EXPECT_DOUBLE_EQ(s.val1_Value, 2.5);
    TBigIniFile ini(path);
    EXPECT_EQ(ini.ReadString("Fresh", "Key", ""), "value");
    EXPECT_EQ(Joined(Differences(path)), "");
  }
}

}  // namespace
}  // namespace tarvel
#endif  // _WIN32
