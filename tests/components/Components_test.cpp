#include "components/Components.h"

#include <gtest/gtest.h>

namespace tarvel {
namespace {

// A class with one property of every kind the engine handles.
class TSample : public TComponent {
 public:
  using TComponent::TComponent;
  static const TClassInfo& StaticClass();
  const TClassInfo& ClassInfo() const override { return StaticClass(); }

  int32_t number = 0;
  int32_t small = 0;
  int32_t letter = 'A';
  int32_t color = 0;
  double ratio = 0;
  std::string text;
  bool flag = false;
  OleVariant anything;
  TStringList lines;
  TComponent* link = nullptr;
};

const TClassInfo& TSample::StaticClass() {
  static const TClassInfo info = [] {
    TClassInfo c{"TSample", &TComponent::StaticClass(), {}};
    c.properties.push_back(FieldProperty<TSample>("Number", &TSample::number));
    TPropInfo small = FieldProperty<TSample>("Small", &TSample::small);
    small.min_value = 0;
    small.max_value = 10;
    c.properties.push_back(small);
    TPropInfo letter = FieldProperty<TSample>("Letter", &TSample::letter);
    letter.kind = tkChar;
    letter.min_value = 0;
    letter.max_value = 255;
    c.properties.push_back(letter);
    TPropInfo color = FieldProperty<TSample>("Color", &TSample::color);
    color.kind = tkEnumeration;
    color.enum_names = {"clRed", "clGreen", "clBlue"};
    c.properties.push_back(color);
    c.properties.push_back(FieldProperty<TSample>("Ratio", &TSample::ratio));
    c.properties.push_back(FieldProperty<TSample>("Text", &TSample::text));
    c.properties.push_back(FieldProperty<TSample>("Flag", &TSample::flag));
    c.properties.push_back(FieldProperty<TSample>("Anything", &TSample::anything));
    TPropInfo lines;
    lines.name = "Lines";
    lines.kind = tkClass;
    lines.held_class = &TStringList::StaticClass();
    lines.get_object = [](const TObject& o) -> TObject* {
      return const_cast<TStringList*>(&static_cast<const TSample&>(o).lines);
    };
    c.properties.push_back(lines);
    TPropInfo link;
    link.name = "Link";
    link.kind = tkClass;
    link.held_class = &TProxyCodeCustomObject::StaticClass();
    link.get_object = [](const TObject& o) -> TObject* {
      return static_cast<const TSample&>(o).link;
    };
    link.set_object = [](TObject& o, TObject* v) {
      static_cast<TSample&>(o).link = static_cast<TComponent*>(v);
    };
    c.properties.push_back(link);
    return c;
  }();
  return info;
}

TEST(PropertyAccess, LookupIsCaseInsensitiveAndSearchesAncestors) {
  TSample s;
  ASSERT_NE(LookupProperty(s, "number"), nullptr);
  EXPECT_EQ(LookupProperty(s, "NUMBER")->kind, tkInteger);
  ASSERT_NE(LookupProperty(s, "name"), nullptr) << "inherited from TComponent";
  EXPECT_EQ(LookupProperty(s, "Tag")->kind, tkInteger);
  EXPECT_EQ(LookupProperty(s, "Nope"), nullptr);
  EXPECT_EQ(static_cast<int>(tkDynArray), 17);
  EXPECT_EQ(static_cast<int>(tkClass), 7);
}

TEST(PropertyAccess, ReadGivesNativeValuesNamesAndCodes) {
  TSample s;
  s.number = -7;
  s.color = 2;
  s.flag = true;
  s.text = "hi";
  s.ratio = 2.5;
  EXPECT_EQ(ReadPropertyValue(s, "Number").AsInt64(), -7);
  EXPECT_EQ(ReadPropertyValue(s, "Letter").AsInt64(), 65);
  EXPECT_EQ(ReadPropertyValue(s, "Color").ToAnsi(), "clBlue");
  EXPECT_EQ(ReadPropertyValue(s, "Flag").ToAnsi(), "True");
  EXPECT_EQ(ReadPropertyValue(s, "Text").ToAnsi(), "hi");
  EXPECT_EQ(ReadPropertyValue(s, "Ratio").AsDouble(), 2.5);
  EXPECT_THROW(ReadPropertyValue(s, "Nope"), EPropertyError);
}

TEST(PropertyAccess, WriteConvertsAndChecksRanges) {
  TSample s;
  // Each row's value is read back at once: what the write stored, or, for
  // a refused write, the value the row before left.
  static const struct {
    const char* name;
    const char* property;
    OleVariant value;
    bool ok;
    OleVariant read_back;
  } cases[] = {
      {"integer", "Number", OleVariant(int32_t{5}), true, OleVariant(int32_t{5})},
      {"numeric text", "Number", OleVariant("42"), true, OleVariant(int32_t{42})},
      {"hex text", "Number", OleVariant("$10"), true, OleVariant(int32_t{16})},
      {"not a number", "Number", OleVariant("abc"), false, OleVariant(int32_t{16})},
      {"in range", "Small", OleVariant(int32_t{10}), true, OleVariant(int32_t{10})},
      {"above range", "Small", OleVariant(int32_t{11}), false, OleVariant(int32_t{10})},
      {"below range", "Small", OleVariant("-1"), false, OleVariant(int32_t{10})},
      {"char code", "Letter", OleVariant("66"), true, OleVariant(int32_t{66})},
      {"char out of range", "Letter", OleVariant(int32_t{256}), false, OleVariant(int32_t{66})},
      {"float from text", "Ratio", OleVariant("1,25"), true, OleVariant(1.25)},
      {"float from junk", "Ratio", OleVariant("x"), false, OleVariant(1.25)},
      {"string from number", "Text", OleVariant(int32_t{3}), true, OleVariant("3")},
      {"enum by name", "Color", OleVariant("CLGREEN"), true, OleVariant("clGreen")},
      {"enum unknown name", "Color", OleVariant("clPink"), false, OleVariant("clGreen")},
      {"variant", "Anything", OleVariant(2.0), true, OleVariant(2.0)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    if (c.ok)
      EXPECT_NO_THROW(WritePropertyValue(s, c.property, c.value));
    else
      EXPECT_THROW(WritePropertyValue(s, c.property, c.value), EPropertyError);
    EXPECT_EQ(ReadPropertyValue(s, c.property).ToAnsi(), c.read_back.ToAnsi());
  }
  EXPECT_EQ(s.number, 16);
  EXPECT_EQ(s.small, 10);
  EXPECT_EQ(s.letter, 66);
  EXPECT_DOUBLE_EQ(s.ratio, 1.25);
  EXPECT_EQ(s.text, "3");
  EXPECT_EQ(s.color, 1);
  EXPECT_EQ(s.anything.AsDouble(), 2.0);
}

TEST(PropertyAccess, EnumByNameAndTheErrorText) {
  TSample s;
  WriteEnumByName(s, "Flag", "tRuE");
  EXPECT_TRUE(s.flag);
  WriteEnumByName(s, "flag", "FALSE");
  EXPECT_FALSE(s.flag);
  try {
    WriteEnumByName(s, "Flag", "Maybe");
    FAIL() << "no error";
  } catch (const EPropertyError& e) {
    EXPECT_STREQ(e.what(), "Invalid property element: Maybe");
  }
}

TEST(PropertyAccess, ObjectsReferencesAndStringLists) {
  TSample s;
  EXPECT_TRUE(IsStringList(ReadPropertyObject(s, "Lines")));
  EXPECT_EQ(ReadPropertyObject(s, "Number"), nullptr);
  TProxyCodeCustomObject proxy;
  TComponent plain;
  WritePropertyReference(s, "Link", &proxy);
  EXPECT_EQ(s.link, &proxy);
  WritePropertyReference(s, "Link", &plain);
  EXPECT_EQ(s.link, &proxy) << "a component of the wrong class is not stored";
  WritePropertyReference(s, "Link", nullptr);
  EXPECT_EQ(s.link, nullptr);
  EXPECT_TRUE(IsProxyObject(&proxy));
  EXPECT_FALSE(IsProxyObject(&plain));
  EXPECT_FALSE(IsProxyObject(nullptr));
}

TEST(StringList, TextRoundTrip) {
  static const struct {
    const char* name;
    std::string text;
    std::vector<std::string> lines;
    std::string back;
  } cases[] = {
      {"crlf", "a\r\nb\r\n", {"a", "b"}, "a\r\nb\r\n"},
      {"mixed ends", "a\nb\rc", {"a", "b", "c"}, "a\r\nb\r\nc\r\n"},
      {"empty lines", "\r\n\r\nx", {"", "", "x"}, "\r\n\r\nx\r\n"},
      {"NUL ends the text", std::string("a\0b", 3), {"a"}, "a\r\n"},
      {"empty", "", {}, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TStringList list;
    list.SetText(c.text);
    EXPECT_EQ(list.Lines(), c.lines);
    EXPECT_EQ(list.Text(), c.back);
  }
}

TEST(Components, OwnershipAndLookupByName) {
  auto* owner = new TComponent();
  auto* a = new TComponent(owner);
  a->SetName("Alpha");
  auto* b = new TComponent(owner);
  b->SetName("beta");
  auto* grandchild = new TComponent(a);
  grandchild->SetName("Deep");
  EXPECT_EQ(owner->ComponentCount(), 2);
  EXPECT_EQ(FindOwnedComponent(*owner, "ALPHA"), a);
  EXPECT_EQ(owner->FindComponent("Beta"), b);
  EXPECT_EQ(owner->FindComponent("Deep"), nullptr) << "only direct children";
  EXPECT_EQ(owner->FindComponent(""), nullptr);
  delete b;
  EXPECT_EQ(owner->ComponentCount(), 1);
  EXPECT_EQ(a->Owner(), owner);
  delete owner;  // frees a and its child (ASan checks no leak or double free)
}

}  // namespace
}  // namespace tarvel
