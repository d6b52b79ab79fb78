// Client IDs at their own contract: which IDs are one client, compared
// directly (the index compares only IDs whose hashes meet, so a comparison
// fault there would hide), and the ID handed back as it came.
#include "monitor/ClientId.h"

#include <gtest/gtest.h>

#include <cstring>
#include <limits>
#include <string>

#include "Common/OleVariant.h"
#include "platform/text.h"

namespace tarvel {
namespace {

OleVariant Wide(std::u16string_view text) {
  return OleVariant(text);
}

bool Same(const OleVariant& a, const OleVariant& b) {
  ClientIdView first, second;
  first.Assign(a.Raw());
  second.Assign(b.Raw());
  const ClientKey key(first);
  const bool same = key.Equals(second);
  // Equal IDs hash alike, stored or not.
  if (same) {
    EXPECT_EQ(first.Hash(), second.Hash());
  }
  EXPECT_EQ(key.Hash(), first.Hash());
  return same;
}

TEST(ClientId, TextsCompareByEveryCharacter) {
  const struct {
    const char* name;
    OleVariant first;
    OleVariant second;
    bool same;
  } cases[] = {
      {"same short text", OleVariant("abc"), OleVariant("abc"), true},
      {"short texts of one length", OleVariant("abc"), OleVariant("abd"), false},
      {"differing in the middle", OleVariant("a1b"), OleVariant("a2b"), false},
      {"same long text", OleVariant("a client id of some length"),
       OleVariant("a client id of some length"), true},
      {"long texts of one length", OleVariant("a client id of some length 1"),
       OleVariant("a client id of some length 2"), false},
      {"8-bit texts of one length", OleVariant::AnsiString("north-1"),
       OleVariant::AnsiString("north-2"), false},
      {"long 8-bit texts of one length", OleVariant::AnsiString("station north-east 1"),
       OleVariant::AnsiString("station north-east 2"), false},
      {"OLE and 8-bit of one text", OleVariant("north-1"), OleVariant::AnsiString("north-1"), true},
      {"OLE and 8-bit of one length", OleVariant("north-1"), OleVariant::AnsiString("north-2"),
       false},
      {"letter case", OleVariant("abc"), OleVariant("ABC"), false},
      {"empty texts", OleVariant(""), OleVariant::AnsiString(""), true},
      {"OLE texts outside the code page",
       Wide(u"\u0100"
            u"1"),
       Wide(u"\u4E00"
            u"1"),
       false},
      {"one OLE text outside the code page",
       Wide(u"\u4E00"
            u"1"),
       Wide(u"\u4E00"
            u"1"),
       true},
      {"long OLE texts outside the code page", Wide(u"station \u0100 north"),
       Wide(u"station \u4E00 north"), false},
      {"an OLE text and its 8-bit stand-in",
       Wide(u"\u4E00"
            u"1"),
       OleVariant::AnsiString("?1"), false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(Same(c.first, c.second), c.same);
    EXPECT_EQ(Same(c.second, c.first), c.same);
  }
}

// An 8-bit text and the OLE string of the same characters are one client,
// also beyond ASCII: whatever the code page makes of the bytes.
TEST(ClientId, AnEightBitTextIsTheOleStringOfItsCharacters) {
  const std::string bytes = "caf\xE9 \xC4";
  const std::u16string characters = platform::AnsiToWide(bytes);
  EXPECT_TRUE(Same(OleVariant::AnsiString(bytes), OleVariant(std::u16string_view(characters))));
}

TEST(ClientId, TheKeyGivesBackTheIdAsItCame) {
  const struct {
    const char* name;
    OleVariant id;
  } cases[] = {
      {"integer", OleVariant(7)},
      {"double", OleVariant(2.5)},
      {"OLE text outside the code page", Wide(u"\u4E00"
                                              u"1")},
      {"long OLE text", Wide(u"station \u0100 north-east")},
      {"8-bit text", OleVariant::AnsiString("caf\xE9")},
      {"long 8-bit text", OleVariant::AnsiString("a client id of some length")},
      {"boolean", OleVariant(true)},
      {"null", OleVariant::Null()},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ClientIdView view;
    view.Assign(c.id.Raw());
    const ClientKey key(view);
    const OleVariant back = key.ToVariant();
    EXPECT_EQ(back.Type(), c.id.Type());
    EXPECT_EQ(back.ToWide(), c.id.ToWide());
    EXPECT_EQ(key.ToText(), c.id.ToAnsi());
  }
}

TEST(ClientId, TypesThatCannotBeComparedAreRefused) {
  for (uint16_t vt :
       {uint16_t{platform::VT_ERROR}, uint16_t{9}, uint16_t{platform::VT_UNKNOWN},
        uint16_t{platform::VT_VARIANT}, uint16_t{14},
        uint16_t{platform::VT_BYREF | platform::VT_I4}, uint16_t{0x2003}, uint16_t{0x48}}) {
    SCOPED_TRACE(vt);
    Variant raw;
    platform::VariantInit(&raw);
    raw.vt = vt;
    raw.llVal = 0;
    ClientIdView view;
    EXPECT_THROW(view.Assign(raw), EClientIdType);
    EXPECT_EQ(view.Kind(), ClientKind::kNull);
  }
}

}  // namespace
}  // namespace tarvel
