#include "settings/BigIni.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "Common/vopStreamIO.h"
#include "settings_support.h"

namespace tarvel {
namespace {

using test::TempDir;
using test::TestDataPath;

// A copy of a data file in a temporary directory, so write-backs are safe.
std::string CopyOf(const TempDir& dir, const std::string& name) {
  std::string path = dir.File(name);
  test::WriteWholeFile(path, test::ReadWholeFile(TestDataPath("ini/" + name)));
  return path;
}

TEST(StreamIO, SplitsLinesAtLfAndCrLfAndDropsLoneCr) {
  static const struct {
    const char* name;
    std::string text;
    std::vector<std::string> lines;
  } cases[] = {
      {"empty", "", {}},
      {"no terminator", "a", {"a"}},
      {"crlf", "a\r\nb\r\n", {"a", "b"}},
      {"lf", "a\nb", {"a", "b"}},
      {"lone cr dropped", "a\rb\r\nc", {"ab", "c"}},
      {"empty lines kept", "\r\n\n", {"", ""}},
      {"nul inside", std::string("a\0b\n", 4), {std::string("a\0b", 3)}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    StringSource source(c.text);
    std::vector<char> buffer(3);  // tiny buffer: lines cross chunk borders
    TvopStreamReader reader(source, buffer);
    std::vector<std::string> got;
    std::string line;
    while (reader.ReadLine(line)) got.push_back(line);
    EXPECT_EQ(got, c.lines);
  }
}

TEST(StreamIO, WriterAddsCrLfAndFlushesAcrossChunks) {
  StringSink sink;
  std::vector<char> buffer(4);
  TvopStreamWriter writer(sink, buffer);
  writer.WriteLine("hello");
  writer.Write("x");
  writer.Flush();
  EXPECT_EQ(sink.Text(), "hello\r\nx");
}

TEST(BigIni, ReadsKeysValuesAndDefaults) {
  TBigIniFile ini("");
  ini.LoadFromString(
      "[S]\r\n  k  =  v  \r\nnoequals\r\nn=0x10\r\nm=$10\r\nu=0X10\r\nbad=12abc\r\n");
  EXPECT_EQ(ini.ReadString("S", "k", "d"), "v");
  EXPECT_EQ(ini.ReadString("s", "K", "d"), "v") << "section and key ignore case";
  EXPECT_EQ(ini.ReadString("S", "missing", "d"), "d");
  EXPECT_EQ(ini.ReadString("T", "k", "d"), "d");
  EXPECT_EQ(ini.ReadString("S", "noequals", "d"), "");
  EXPECT_EQ(ini.ReadInteger("S", "n", 7), 16);
  EXPECT_EQ(ini.ReadInteger("S", "m", 7), 16);
  EXPECT_EQ(ini.ReadInteger("S", "u", 7), 16);
  EXPECT_EQ(ini.ReadInteger("S", "bad", 7), 7);
  EXPECT_EQ(ini.ReadInteger("S", "missing", 7), 7);
}

TEST(BigIni, IntegerText) {
  static const struct {
    const char* text;
    std::optional<int32_t> value;
  } cases[] = {
      {"0", 0},
      {"-12", -12},
      {"+5", 5},
      {"0x1F", 31},
      {"$1F", 31},
      {"$ffffffff", -1},
      {"2147483647", INT32_MAX},
      {"2147483648", std::nullopt},
      {"-2147483648", INT32_MIN},
      {"$123456789", std::nullopt},
      {"", std::nullopt},
      {"abc", std::nullopt},
      {"1 2", std::nullopt},
      {"0x", std::nullopt},
      {"$", std::nullopt},
      {"-", std::nullopt},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(ParseIniInteger(c.text), c.value);
  }
}

TEST(BigIni, FloatsReadWithEitherSeparator) {
  TBigIniFile ini("");
  ini.LoadFromString(
      "[S]\r\ndot=1.5\r\ncomma=1,5\r\nexp=2e3\r\nbad=1.2.3\r\nword=abc\r\nempty=\r\n");
  EXPECT_DOUBLE_EQ(ini.ReadFloat("S", "dot", 9), 1.5);
  EXPECT_DOUBLE_EQ(ini.ReadFloat("S", "comma", 9), 1.5);
  EXPECT_DOUBLE_EQ(ini.ReadFloat("S", "exp", 9), 2000);
  EXPECT_DOUBLE_EQ(ini.ReadFloat("S", "bad", 9), 9);
  EXPECT_DOUBLE_EQ(ini.ReadFloat("S", "word", 9), 9);
  EXPECT_DOUBLE_EQ(ini.ReadFloat("S", "empty", 9), 9);
  EXPECT_DOUBLE_EQ(ini.ReadFloat("S", "missing", 9), 9);
}

#ifndef _WIN32
// The POSIX build takes the separator from TARVEL_DECIMAL_SEPARATOR.
TEST(BigIni, WritesFloatsWithTheLocaleSeparator) {
  test::SetEnv("TARVEL_DECIMAL_SEPARATOR", ",");
  TBigIniFile ini("");
  ini.WriteFloat("S", "f", 1.5);
  EXPECT_EQ(ini.ReadString("S", "f", ""), "1,5");
  EXPECT_DOUBLE_EQ(ini.ReadFloat("S", "f", 0), 1.5);
  ini.WriteString("S", "g", "2.25");
  EXPECT_DOUBLE_EQ(ini.ReadFloat("S", "g", 0), 2.25);
  test::SetEnv("TARVEL_DECIMAL_SEPARATOR", "");
  ini.WriteFloat("S", "f", 1.5);
  EXPECT_EQ(ini.ReadString("S", "f", ""), "1.5");
}
#endif

TEST(BigIni, DuplicateSectionsKeepTheFirstAndVanishAtTheNextChange) {
  TempDir dir;
  std::string path = CopyOf(dir, "duplicate_sections.ini");
  std::string before = test::ReadWholeFile(path);
  {
    TBigIniFile ini(path);
    EXPECT_FALSE(ini.Modified()) << "dropping duplicates alone does not rewrite";
    EXPECT_EQ(ini.ReadString("A", "x", ""), "1");
    EXPECT_EQ(ini.ReadString("a", "z", "none"), "none");
  }
  EXPECT_EQ(test::ReadWholeFile(path), before);
  {
    TBigIniFile ini(path);
    ini.WriteString("B", "y", "3");
  }
  EXPECT_EQ(test::ReadWholeFile(path), "[A]\r\nx=1\r\n\r\n[B]\r\ny=3\r\n\r\n");
}

TEST(BigIni, WriteStringNormalisesAndReplacesTheSameLine) {
  TempDir dir;
  std::string path = CopyOf(dir, "blanks.ini");
  {
    TBigIniFile ini(path);
    ini.WriteString("S", "k", "v");
    EXPECT_TRUE(ini.Modified());
    ini.WriteString("S", "K", "w");
    ini.WriteString("S", "other", "1");  // identical line: no change
  }
  EXPECT_EQ(test::ReadWholeFile(path), "[S]\r\nK=w\r\nother=1\r\n\r\n");
}

TEST(BigIni, UnchangedValuesNeverRewriteTheFile) {
  TempDir dir;
  std::string path = dir.File("same.ini");
  test::WriteWholeFile(path, "[S]\nk=v\n");  // LF only: a rewrite would show as CR LF
  {
    TBigIniFile ini(path);
    ini.WriteString("S", "k", "v");
    EXPECT_FALSE(ini.Modified());
  }
  EXPECT_EQ(test::ReadWholeFile(path), "[S]\nk=v\n");
}

TEST(BigIni, EmptyKeyErasesTheSection) {
  TBigIniFile ini("");
  ini.LoadFromString("[S]\r\na=1\r\n[T]\r\nb=2\r\n");
  ini.WriteString("S", "", "anything");
  EXPECT_FALSE(ini.SectionExists("S"));
  EXPECT_EQ(ini.ReadString("T", "b", ""), "2");
  EXPECT_EQ(ini.SaveToString(), "[T]\r\nb=2\r\n\r\n");
}

TEST(BigIni, LinesBeforeTheFirstSectionAndEmptySectionsAreDropped) {
  TempDir dir;
  std::string path = CopyOf(dir, "before_first_section.ini");
  {
    TBigIniFile ini(path);
    EXPECT_EQ(ini.ReadString("S", "k", ""), "v");
    ini.WriteString("S", "k2", "w");
  }
  EXPECT_EQ(test::ReadWholeFile(path), "[S]\r\nk=v\r\nk2=w\r\n\r\n");
}

TEST(BigIni, LineEndsHeadersAndEndOfFileMarks) {
  TBigIniFile ini(TestDataPath("ini/line_ends.ini"));
  EXPECT_EQ(ini.ReadString("S", "unix", ""), "1");
  EXPECT_EQ(ini.ReadString("S", "win", ""), "2");
  EXPECT_EQ(ini.ReadString("S", "midcr", ""), "3") << "a lone CR is dropped";
  EXPECT_EQ(ini.ReadString(" spaced ", "a", ""), "1") << "header names are not stripped";
  EXPECT_EQ(ini.ReadString("spaced", "a", "none"), "none");
  EXPECT_FALSE(ini.SectionExists("T")) << "a blank after ] is no header";
  EXPECT_EQ(ini.ReadString(" spaced ", "b", ""), "2");
  std::vector<std::string> keys;
  ini.ReadSection("S", keys);
  EXPECT_EQ(keys, (std::vector<std::string>{"unix", "win", "midcr"}));
}

TEST(BigIni, TruncatedAndBinaryFilesLoadWhatIsThere) {
  TBigIniFile truncated(TestDataPath("ini/truncated.ini"));
  EXPECT_EQ(truncated.ReadString("T", "half", ""), "val");
  TBigIniFile binary(TestDataPath("ini/binary_tail.ini"));
  EXPECT_EQ(binary.ReadString("S", "k", ""), "v");
  EXPECT_EQ(binary.ReadString("S2", "after", ""), "binary");
}

TEST(BigIni, DeleteKeyAndValueExists) {
  TBigIniFile ini("");
  ini.LoadFromString("[S]\r\na=1\r\nb=2\r\n=empty key\r\n");
  EXPECT_TRUE(ini.ValueExists("s", "A"));
  EXPECT_FALSE(ini.ValueExists("S", "")) << "empty keys are never listed";
  ini.DeleteKey("S", "a");
  EXPECT_FALSE(ini.ValueExists("S", "a"));
  EXPECT_TRUE(ini.Modified());
  ini.DeleteKey("New", "x");  // creates an empty section that is never written
  EXPECT_EQ(ini.SaveToString(), "[S]\r\nb=2\r\n=empty key\r\n\r\n");
}

TEST(BigIni, SectionLookupWrapsAroundFromTheLastSectionUsed) {
  TBigIniFile ini("");
  ini.LoadFromString("[A]\r\nk=a\r\n[B]\r\nk=b\r\n[C]\r\nk=c\r\n");
  for (const char* s : {"C", "A", "B", "B", "A", "C"}) {
    SCOPED_TRACE(s);
    EXPECT_EQ(ini.ReadString(s, "k", ""), std::string(1, static_cast<char>(s[0] - 'A' + 'a')));
  }
}

TEST(BigIni, MissingFileOpensEmptyAndIsCreatedAtWriteBack) {
  TempDir dir;
  std::string path = dir.File("new.ini");
  {
    TBigIniFile ini(path);
    EXPECT_EQ(ini.Sections().Count(), 0);
    ini.WriteInteger("Common", "n", -5);
  }
  EXPECT_EQ(test::ReadWholeFile(path), "[Common]\r\nn=-5\r\n\r\n");
}

TEST(BigIni, AFileThatCannotBeOpenedRaises) {
  TempDir dir;
  std::filesystem::create_directory(dir.File("dir.ini"));
  EXPECT_THROW(TBigIniFile ini(dir.File("dir.ini")), platform::EFileError);
}

TEST(BigIni, FailedWriteBackKeepsTheOldFileWhole) {
  TempDir dir;
  std::string path = dir.File("keep.ini");
  test::WriteWholeFile(path, "[S]\r\nk=old\r\n");
  // A directory where the temporary file would go makes the write fail.
  std::filesystem::create_directory(path + ".tarvel-tmp");
  TBigIniFile ini(path);
  ini.WriteString("S", "k", "new");
  EXPECT_THROW(ini.UpdateFile(), platform::EFileError);
  EXPECT_TRUE(ini.Modified());
  EXPECT_EQ(test::ReadWholeFile(path), "[S]\r\nk=old\r\n");
}

TEST(BigIni, HugeFileRoundTrips) {
  TempDir dir;
  std::string path = dir.File("huge.ini");
  std::string text;
  text.reserve(52 << 20);
  const std::string filler(520, 'x');
  for (int s = 0; s < 1000; ++s) {
    text += "[Section" + std::to_string(s) + "]\r\n";
    for (int k = 0; k < 100; ++k) text += "Key" + std::to_string(k) + "=" + filler + "\r\n";
    text += "\r\n";
  }
  ASSERT_GT(text.size(), 50u << 20);
  test::WriteWholeFile(path, text);
  {
    TBigIniFile ini(path);
    EXPECT_EQ(ini.ReadString("Section999", "Key99", ""), filler);
    ini.WriteString("Section500", "Key50", "changed");
  }
  TBigIniFile again(path);
  EXPECT_EQ(again.ReadString("Section500", "Key50", ""), "changed");
  EXPECT_EQ(again.ReadString("Section0", "Key0", ""), filler);
}

}  // namespace
}  // namespace tarvel
