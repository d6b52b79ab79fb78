// Settings files as users edit them (Notepad, scripts, other Windows
// tools), read and then saved through the module's property map: the
// settings take effect, and every byte the module did not write is still
// there after the save, in the file's own encoding.
#include <gtest/gtest.h>

#include "ini_files.h"
#include "monitor/DataSourceCfg.h"
#include "monitor/ProxyCodeObject.h"
#include "platform/text.h"
#include "settings/BigIni.h"
#include "settings/TWregistry.h"
#include "settings_forms.h"
#include "settings_support.h"

namespace tarvel {
namespace {

using test::FileLines;

struct UserFile {
  const char* file;
  const char* what;  // what the user did to it
  bool unicode;      // the file holds Unicode (its 8-bit text is converted)
};

void PrintTo(const UserFile& f, std::ostream* os) {
  *os << f.file;
}

const UserFile kUserFiles[] = {
    {"utf8_bom.ini", "Notepad's UTF-8 with BOM: the mark right before the first line", true},
    {"utf16le.ini", "Notepad's Unicode, PowerShell 5.1's >", true},
    {"utf16be.ini", "UTF-16 big-endian", true},
    {"header_comment.ini", "[Common] ; a comment", false},
    {"header_indented.ini", "  [Common] (indented)", false},
    {"header_trailing_blank.ini", "[Common] with a blank after it", false},
    {"comments_and_blanks.ini", "comments above the first section, blank lines, a second [Common]",
     false},
    {"lone_cr.ini", "lines ended by CR alone", false},
};

class UserFileTest : public ::testing::TestWithParam<UserFile> {
 protected:
  void SetUp() override {
    path_ = sandbox_.Dir().File(GetParam().file);
    test::WriteWholeFile(path_, Original());
  }
  std::string Original() const {
    return test::ReadWholeFile(test::TestDataPath(std::string("ini/") + GetParam().file));
  }
  std::unique_ptr<TWreg> Engine() const {
    auto reg = std::make_unique<TWreg>();
    reg->INIFile = path_;
    reg->Components.SetText(kTaPluginProperties);  // the module's own map
    return reg;
  }
  std::string Kessel() const {
    // The event name holds an o with diaeresis: as the code page has it.
    return GetParam().unicode ? platform::WideToAnsi(u"Kessel-St\u00F6rung")
                              : std::string("Kessel-St\xF6rung");
  }

  test::RegistrySandbox sandbox_;  // a private INI lock directory
  std::string path_;
};

TEST_P(UserFileTest, SettingsTakeEffectAndASaveKeepsWhatTheModuleDidNotWrite) {
  SCOPED_TRACE(GetParam().what);
  TProxyCodeObject s;
  ASSERT_TRUE(Engine()->LoadProperties(&s));
  EXPECT_EQ(s.var1_Text, "Temp") << "[Common] was not read (or [Other] or the later one was)";
  EXPECT_EQ(s.type1_ItemIndex, 1);
  EXPECT_EQ(s.val1_Value, 30);
  EXPECT_EQ(s.event1_Text, Kessel());
  EXPECT_FALSE(s.chkWaitData_Checked);
  auto row = s.WatchRowAt(0);
  ASSERT_TRUE(row.has_value());
  EXPECT_EQ(row->variable, "Temp");
  EXPECT_EQ(row->timeout_ms, 30000);

  s.var1_Text = "Pressure";
  s.val1_Value = 45;
  ASSERT_TRUE(Engine()->SaveProperties(&s));

  const std::string before = Original(), after = test::ReadWholeFile(path_);
  const FileLines old_lines(before), new_lines(after);
  ASSERT_FALSE(old_lines.lines.empty());
  EXPECT_EQ(new_lines.lines.front(), old_lines.lines.front()) << "the mark (or first line) stays";
  EXPECT_EQ(new_lines.unit, old_lines.unit) << "the encoding stays";
  // Every line that sets none of the module's values is there, byte for
  // byte and in order: comments, blank lines, [Other], the Unicode note.
  const std::vector<std::string> keys = test::ModuleKeys();
  EXPECT_EQ(new_lines.Without(keys), old_lines.Without(keys));
  // The later [Common] is kept, unread.
  TBigIniFile saved(path_);
  EXPECT_NE(after.find(EncodeText(saved.Encoding(), "Var1=Shadow")), std::string::npos);
  EXPECT_NE(after.find(EncodeText(saved.Encoding(), "Val1=99")), std::string::npos);

  TProxyCodeObject loaded;
  ASSERT_TRUE(Engine()->LoadProperties(&loaded));
  test::ExpectSameSettings(s, loaded);
  EXPECT_EQ(saved.ReadString("Other", "Var1", ""), "NotThis");
}

INSTANTIATE_TEST_SUITE_P(AsUsersKeepThem, UserFileTest, ::testing::ValuesIn(kUserFiles),
                         [](const ::testing::TestParamInfo<UserFile>& info) {
                           // utf8_bom.ini: Utf8Bom
                           std::string name;
                           bool upper = true;
                           for (const char* p = info.param.file; *p && *p != '.'; ++p) {
                             if (*p == '_') {
                               upper = true;
                             } else {
                               name += upper ? static_cast<char>(std::toupper(*p)) : *p;
                               upper = false;
                             }
                           }
                           return name;
                         });

TEST(UserFiles, AChangedLineKeepsTheFilesLoneCrLineEnd) {
  test::RegistrySandbox sandbox;
  const std::string path = sandbox.Dir().File("lone_cr.ini");
  test::WriteWholeFile(path, test::ReadWholeFile(test::TestDataPath("ini/lone_cr.ini")));
  TWreg reg;
  reg.INIFile = path;
  reg.Components.SetText(kTaPluginProperties);
  TProxyCodeObject s;
  ASSERT_TRUE(reg.LoadProperties(&s));
  s.var1_Text = "Pressure";
  ASSERT_TRUE(reg.SaveProperties(&s));
  const std::string after = test::ReadWholeFile(path);
  EXPECT_NE(after.find("\rVar1=Pressure\rType1=1\r"), std::string::npos) << after;
}

}  // namespace
}  // namespace tarvel
