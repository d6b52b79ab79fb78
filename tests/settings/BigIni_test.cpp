#include "settings/BigIni.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "Common/vopStreamIO.h"
#include "platform/text.h"
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

const char* EndName(LineEnd end) {
  switch (end) {
    case LineEnd::kNone:
      return "none";
    case LineEnd::kLf:
      return "LF";
    case LineEnd::kCrLf:
      return "CRLF";
    case LineEnd::kCr:
      return "CR";
  }
  return "?";
}

// Lines as read, each shown as its text and what ended it.
std::vector<std::string> ReadAll(const std::string& bytes, size_t buffer_size,
                                 TextEncoding* encoding = nullptr) {
  StringSource source(bytes);
  std::vector<char> buffer(buffer_size);
  TvopStreamReader reader(source, buffer);
  std::vector<std::string> got;
  TextLine line;
  while (reader.ReadLine(line)) got.push_back(line.text + "|" + EndName(line.end));
  if (encoding) *encoding = reader.Encoding();
  return got;
}

TEST(StreamIO, SplitsLinesAtLfCrLfAndALoneCr) {
  static const struct {
    const char* name;
    std::string text;
    std::vector<std::string> lines;
  } cases[] = {
      {"empty", "", {}},
      {"no terminator", "a", {"a|none"}},
      {"crlf", "a\r\nb\r\n", {"a|CRLF", "b|CRLF"}},
      {"lf", "a\nb", {"a|LF", "b|none"}},
      {"lone cr ends a line", "a\rb\r\nc", {"a|CR", "b|CRLF", "c|none"}},
      {"cr at the end", "a\r", {"a|CR"}},
      {"cr then crlf", "\r\r\n", {"|CR", "|CRLF"}},
      {"lf cr is two ends", "a\n\rb", {"a|LF", "|CR", "b|none"}},
      {"empty lines kept", "\r\n\n", {"|CRLF", "|LF"}},
      {"nul inside", std::string("a\0b\n", 4), {std::string("a\0b|LF", 6)}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    // Tiny buffers: lines and CR LF pairs cross chunk borders.
    for (size_t buffer_size : {1u, 3u, 4u, 64u}) {
      SCOPED_TRACE(buffer_size);
      EXPECT_EQ(ReadAll(c.text, buffer_size), c.lines);
    }
  }
}

TEST(StreamIO, TakesByteOrderMarksAndKeepsEachLinesOwnBytes) {
  const std::string utf8 = "\xEF\xBB\xBFk=\xC3\xA4\xE2\x98\x83\r\n";  // k=ä☃
  const std::string le("\xFF\xFEk\0=\0\xE4\0\x03\x26\r\0\n\0", 14);   // the same in UTF-16LE
  const std::string be("\xFE\xFF\0k\0=\0\xE4\x26\x03\0\r", 12);       // and UTF-16BE, CR only
  const std::string ansi_e4 = platform::WideToAnsi(u"\u00E4");
  static const struct {
    const char* name;
    const std::string& bytes;
    TextEncoding encoding;
    std::string raw;
    LineEnd end;
  } cases[] = {
      {"utf-8", utf8, TextEncoding::kUtf8, "k=\xC3\xA4\xE2\x98\x83", LineEnd::kCrLf},
      {"utf-16le", le, TextEncoding::kUtf16LE, std::string("k\0=\0\xE4\0\x03\x26", 8),
       LineEnd::kCrLf},
      {"utf-16be", be, TextEncoding::kUtf16BE, std::string("\0k\0=\0\xE4\x26\x03", 8),
       LineEnd::kCr},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    for (size_t buffer_size : {1u, 5u, 64u}) {
      SCOPED_TRACE(buffer_size);
      StringSource source(c.bytes);
      std::vector<char> buffer(buffer_size);
      TvopStreamReader reader(source, buffer);
      TextLine line;
      ASSERT_TRUE(reader.ReadLine(line));
      EXPECT_EQ(reader.Encoding(), c.encoding);
      EXPECT_EQ(line.text, "k=" + ansi_e4 + "?") << "the snowman has no place in the code page";
      EXPECT_EQ(line.raw, c.raw);
      EXPECT_EQ(line.end, c.end);
      EXPECT_EQ(ByteOrderMark(c.encoding).size() + line.Bytes(c.encoding).size(), c.bytes.size());
      EXPECT_FALSE(reader.ReadLine(line));
    }
  }
}

TEST(StreamIO, Utf16LineEndsAreWholeCodeUnits) {
  // U+0A0D and U+0D0A hold the bytes of LF and CR; neither ends a line.
  const std::string le("\xFF\xFE\x0D\x0A\x0A\x0D\n\0x\0", 10);
  TextEncoding encoding;
  EXPECT_EQ(ReadAll(le, 3, &encoding), (std::vector<std::string>{"??|LF", "x|none"}));
  EXPECT_EQ(encoding, TextEncoding::kUtf16LE);
  // A stray odd byte at the end is no text; it is kept apart.
  const std::string odd("\xFF\xFEx\0y", 5);
  StringSource source(odd);
  std::vector<char> buffer;
  TvopStreamReader reader(source, buffer);
  TextLine line;
  ASSERT_TRUE(reader.ReadLine(line));
  EXPECT_EQ(line.text, "x");
  EXPECT_EQ(line.raw, std::string("x\0", 2));
  EXPECT_FALSE(reader.ReadLine(line));
  EXPECT_EQ(reader.Stray(), "y");
  // The INI engine writes it back last, after what the module adds.
  TBigIniFile ini("");
  ini.LoadFromString(odd);
  EXPECT_EQ(ini.SaveToString(), odd);
  ini.WriteString("S", "k", "v");
  EXPECT_EQ(ini.SaveToString(),
            std::string("\xFF\xFEx\0\r\0\n\0[\0S\0]\0\r\0\n\0k\0=\0v\0\r\0\n\0\r\0\n\0y", 33));
}

TEST(StreamIO, AMarkAloneHasNoLinesAndAnAlmostMarkIsText) {
  EXPECT_EQ(ReadAll("\xEF\xBB\xBF", 2), std::vector<std::string>{});
  TextEncoding encoding;
  EXPECT_EQ(ReadAll("\xEF\xBBx", 2, &encoding), std::vector<std::string>{"\xEF\xBBx|none"});
  EXPECT_EQ(encoding, TextEncoding::kAnsi);
}

TEST(StreamIO, WriterConvertsToItsEncodingAndFlushesAcrossChunks) {
  const std::string ae = platform::WideToAnsi(u"\u00E4");
  static const struct {
    TextEncoding encoding;
    std::string bytes;
  } cases[] = {
      {TextEncoding::kAnsi, "h" + ae + "\r\nx"},
      {TextEncoding::kUtf8, "h\xC3\xA4\r\nx"},
      {TextEncoding::kUtf16LE, std::string("h\0\xE4\0\r\0\n\0x\0", 10)},
      {TextEncoding::kUtf16BE, std::string("\0h\0\xE4\0\r\0\n\0x", 10)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.encoding));
    StringSink sink;
    std::vector<char> buffer(3);
    TvopStreamWriter writer(sink, buffer, c.encoding);
    writer.WriteLine("h" + ae);
    writer.Write("x");
    writer.Flush();
    EXPECT_EQ(sink.Text(), c.bytes);
  }
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
      // Leading zeros do not count against the digits.
      {"00000000042", 42},
      {"-000000000001", -1},
      {"000000002147483647", INT32_MAX},
      {"00000000002147483648", std::nullopt},
      {"$000000001F", 31},
      {"0x00000000FF", 255},
      {"$0000000123456789", std::nullopt},
      {"0000", 0},
      {"$000", 0},
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

TEST(BigIni, OnlyTheFirstOfSectionsWithOneNameIsReadAndTheOthersStay) {
  TempDir dir;
  std::string path = CopyOf(dir, "duplicate_sections.ini");
  {
    TBigIniFile ini(path);
    EXPECT_FALSE(ini.Modified());
    EXPECT_EQ(ini.ReadString("A", "x", ""), "1");
    EXPECT_EQ(ini.ReadString("a", "z", "none"), "none");
    std::vector<std::string> names;
    ini.ReadSections(names);
    EXPECT_EQ(names, (std::vector<std::string>{"A", "B"}));
    ini.WriteString("B", "y", "3");
    ini.WriteString("A", "z", "4");
  }
  EXPECT_EQ(test::ReadWholeFile(path), "[A]\r\nx=1\r\nz=4\r\n[B]\r\ny=3\r\n[a]\r\nx=9\r\nz=3\r\n");
  {
    TBigIniFile ini(path);
    ini.EraseSection("a");
    EXPECT_EQ(ini.ReadString("A", "x", "gone"), "gone") << "the later [a] does not come back";
  }
  EXPECT_EQ(test::ReadWholeFile(path), "[B]\r\ny=3\r\n");
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
  EXPECT_EQ(test::ReadWholeFile(path), "[S]\r\nK=w\r\nother=1\r\n");
}

TEST(BigIni, UnchangedValuesNeverRewriteTheFile) {
  TempDir dir;
  std::string path = dir.File("same.ini");
  test::WriteWholeFile(path, "[S]\nk=v\n");
  {
    TBigIniFile ini(path);
    ini.WriteString("S", "k", "v");
    EXPECT_FALSE(ini.Modified());
  }
  EXPECT_EQ(test::ReadWholeFile(path), "[S]\nk=v\n");
}

TEST(BigIni, EmptyKeyErasesTheSection) {
  TBigIniFile ini("");
  ini.LoadFromString("[S]\r\na=1\r\n\r\n[T]\r\nb=2\r\n");
  ini.WriteString("S", "", "anything");
  EXPECT_FALSE(ini.SectionExists("S"));
  EXPECT_EQ(ini.ReadString("T", "b", ""), "2");
  EXPECT_EQ(ini.SaveToString(), "[T]\r\nb=2\r\n");
}

TEST(BigIni, LinesBeforeTheFirstSectionAreNotReadButStay) {
  TempDir dir;
  std::string path = CopyOf(dir, "before_first_section.ini");
  {
    TBigIniFile ini(path);
    EXPECT_EQ(ini.ReadString("S", "k", ""), "v");
    EXPECT_EQ(ini.ReadString("", "orphan", "none"), "none");
    ini.WriteString("S", "k2", "w");
  }
  EXPECT_EQ(test::ReadWholeFile(path),
            "orphan=1\r\n; before any section\r\n[S]\r\nk=v\r\nk2=w\r\n[Empty]\r\n");
}

TEST(BigIni, LineEndsHeadersAndEndOfFileMarks) {
  TBigIniFile ini(TestDataPath("ini/line_ends.ini"));
  EXPECT_EQ(ini.ReadString("S", "unix", ""), "1");
  EXPECT_EQ(ini.ReadString("S", "win", ""), "2");
  EXPECT_EQ(ini.ReadString("S", "cr", ""), "3") << "a lone CR ends the line before";
  EXPECT_EQ(ini.ReadString("spaced", "a", ""), "1") << "names are stripped";
  EXPECT_EQ(ini.ReadString("T", "b", ""), "2") << "a blank after ] still makes a header";
  std::vector<std::string> keys;
  ini.ReadSection("S", keys);
  EXPECT_EQ(keys, (std::vector<std::string>{"unix", "win", "mid", "cr"}));
  EXPECT_EQ(ini.SaveToString(), test::ReadWholeFile(TestDataPath("ini/line_ends.ini")));
}

TEST(BigIni, SectionHeaders) {
  static const struct {
    const char* line;
    const char* name;  // null: not a header (the line joins section P)
  } cases[] = {
      {"[Common]", "Common"},  {"[Common] ; watched variables", "Common"},
      {"[Common];", "Common"}, {"  [Common]", "Common"},
      {"[Common] ", "Common"}, {"\t[ Common ]\t; x ] y", "Common"},
      {"[a]b]", "a]b"},        {"[]", ""},
      {"[Common] x", nullptr}, {"[Common]=1", nullptr},
      {"[Common", nullptr},    {"x[Common]", nullptr},
      {";[Common]", nullptr},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.line);
    TBigIniFile ini("");
    ini.LoadFromString(std::string("[P]\r\n") + c.line + "\r\nk=v\r\n");
    std::vector<std::string> names;
    ini.ReadSections(names);
    if (c.name) {
      EXPECT_EQ(names, (std::vector<std::string>{"P", c.name}));
      EXPECT_EQ(ini.ReadString(c.name, "k", ""), "v");
    } else {
      EXPECT_EQ(names, std::vector<std::string>{"P"});
      EXPECT_EQ(ini.ReadString("P", "k", ""), "v");
    }
  }
}

TEST(BigIni, WriteBackChangesOnlyTheLinesOfTheKeysWrittenOrErased) {
  const std::string before =
      "; top comment\n"
      "\n"
      "[S]\n"
      "; about a\n"
      "a = 1\n"
      "b=2\r"
      "c=3\r\n"
      "\n"
      "\x1A\n"
      "[T]\n"
      "t=1\n"
      "[s]\n"
      "a=later\n";
  TBigIniFile ini("");
  ini.LoadFromString(before);
  EXPECT_EQ(ini.SaveToString(), before) << "nothing changed: every byte as read";
  ini.WriteString("S", "a", "10");  // replaced: keeps its LF
  ini.WriteString("S", "b", "2");   // identical: untouched
  ini.DeleteKey("S", "c");          // gone; the empty lines after it stay
  ini.WriteString("S", "d", "4");   // new: after the last line, before the empty lines
  ini.WriteString("U", "u", "5");   // new section at the end
  EXPECT_EQ(ini.SaveToString(),
            "; top comment\n"
            "\n"
            "[S]\n"
            "; about a\n"
            "a=10\n"
            "b=2\r"
            "d=4\r\n"
            "\n"
            "\x1A\n"
            "[T]\n"
            "t=1\n"
            "[s]\n"
            "a=later\n"
            "[U]\r\n"
            "u=5\r\n"
            "\r\n");
}

TEST(BigIni, LinesAddedAfterALastLineWithoutTerminatorStartOnALineOfTheirOwn) {
  static const struct {
    const char* name;
    const char* text;
    const char* section;
    const char* expected;
  } cases[] = {
      {"into its section", "[S]\r\nk=v", "S", "[S]\r\nk=v\r\nn=1\r\n"},
      {"after an empty header", "[S]", "S", "[S]\r\nn=1\r\n"},
      {"as a new section", "[S]\r\nk=v", "T", "[S]\r\nk=v\r\n[T]\r\nn=1\r\n\r\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TBigIniFile ini("");
    ini.LoadFromString(c.text);
    ini.WriteString(c.section, "n", "1");
    EXPECT_EQ(ini.SaveToString(), c.expected);
  }
}

// A file that ends in the end-of-file character keeps it last: what the
// module adds goes before it, and a file left as it was is written back
// byte for byte.
TEST(BigIni, TheEndOfFileCharacterStaysLast) {
  static const struct {
    const char* name;
    const char* text;
    const char* section;  // where n=1 is written; null: nothing is
    const char* expected;
  } cases[] = {
      {"a new section, the mark without a line end", "[S]\r\nk=v\r\n\x1A", "T",
       "[S]\r\nk=v\r\n[T]\r\nn=1\r\n\r\n\x1A"},
      {"a new section, the mark with a line end", "[S]\r\nk=v\r\n\x1A\r\n", "T",
       "[S]\r\nk=v\r\n[T]\r\nn=1\r\n\r\n\x1A\r\n"},
      {"a new section, empty lines after the mark", "[S]\nk=v\n\x1A\n\n", "T",
       "[S]\nk=v\n[T]\r\nn=1\r\n\r\n\x1A\n\n"},
      {"a new section, empty lines before the mark", "[S]\r\nk=v\r\n\r\n\x1A", "T",
       "[S]\r\nk=v\r\n\r\n[T]\r\nn=1\r\n\r\n\x1A"},
      {"a key in the last section", "[S]\r\nk=v\r\n\x1A", "S", "[S]\r\nk=v\r\nn=1\r\n\x1A"},
      {"a file of the mark alone", "\x1A", "T", "[T]\r\nn=1\r\n\r\n\x1A"},
      {"nothing written", "[S]\r\nk=v\r\n\r\n\x1A\r\n\r\n", nullptr,
       "[S]\r\nk=v\r\n\r\n\x1A\r\n\r\n"},
      // Not the file's end: a mark with sections after it stays where it is.
      {"a mark before the last section", "[S]\r\n\x1A\r\n[U]\r\nu=1\r\n", "T",
       "[S]\r\n\x1A\r\n[U]\r\nu=1\r\n[T]\r\nn=1\r\n\r\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TBigIniFile ini("");
    ini.LoadFromString(c.text);
    if (c.section) ini.WriteString(c.section, "n", "1");
    EXPECT_EQ(ini.SaveToString(), c.expected);
  }
}

TEST(BigIni, ReplacedLinesKeepTheirLineEnd) {
  TBigIniFile ini("");
  ini.LoadFromString("[S]\ra=1\rb=2");
  ini.WriteString("S", "a", "x");
  ini.WriteString("S", "b", "y");
  EXPECT_EQ(ini.SaveToString(), "[S]\ra=x\rb=y");
}

TEST(BigIni, FilesKeepTheirEncodingAndTheBytesOfUnchangedLines) {
  static const struct {
    const char* file;
    TextEncoding encoding;
  } cases[] = {
      {"utf8_bom.ini", TextEncoding::kUtf8},
      {"utf16le.ini", TextEncoding::kUtf16LE},
      {"utf16be.ini", TextEncoding::kUtf16BE},
  };
  const std::string kessel = platform::WideToAnsi(u"Kessel-St\u00F6rung");
  for (const auto& c : cases) {
    SCOPED_TRACE(c.file);
    const std::string before = test::ReadWholeFile(TestDataPath(std::string("ini/") + c.file));
    TBigIniFile ini("");
    ini.LoadFromString(before);
    EXPECT_EQ(ini.Encoding(), c.encoding);
    EXPECT_EQ(ini.ReadString("Common", "Var1", ""), "Temp");
    EXPECT_EQ(ini.ReadString("Common", "Event1", ""), kessel);
    EXPECT_EQ(ini.SaveToString(), before);
    ini.WriteString("Common", "Event1", kessel + "!");
    ini.WriteString("Common", "New", "n");
    const std::string after = ini.SaveToString();
    // The same change made to the text, encoded as the file is.
    const std::string old_line = EncodeText(c.encoding, "Event1=" + kessel);
    const std::string note_line = EncodeText(c.encoding, "Note=");
    std::string expected = before;
    expected.replace(expected.find(old_line), old_line.size(),
                     EncodeText(c.encoding, "Event1=" + kessel + "!"));
    const size_t note_end = expected.find(EncodeText(c.encoding, "\r\n"), expected.find(note_line));
    expected.insert(note_end + LineEndBytes(c.encoding, LineEnd::kCrLf).size(),
                    EncodeText(c.encoding, "New=n\r\n"));
    EXPECT_EQ(after, expected);
  }
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
  EXPECT_EQ(ini.SaveToString(), "[S]\r\nb=2\r\n=empty key\r\n");
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
