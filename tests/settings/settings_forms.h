// Small stand-ins for the options dialog's controls: components with the
// properties the settings map reaches (Text, ItemIndex, Value, Checked and
// the form's place), so the same map can be tried against a dialog root.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "components/Components.h"
#include "components/Controls.h"
#include "monitor/ProxyCodeObject.h"

namespace tarvel::test {

class TTestEdit : public TComponent {
 public:
  using TComponent::TComponent;
  static const TClassInfo& StaticClass() {
    static const TClassInfo info{"TTestEdit",
                                 &TComponent::StaticClass(),
                                 {FieldProperty<TTestEdit>("Text", &TTestEdit::text)}};
    return info;
  }
  const TClassInfo& ClassInfo() const override { return StaticClass(); }
  std::string text;
};

class TTestCombo : public TCustomComboBox {
 public:
  using TCustomComboBox::TCustomComboBox;
  static const TClassInfo& StaticClass() {
    static const TClassInfo info{"TTestCombo",
                                 &TCustomComboBox::StaticClass(),
                                 {FieldProperty<TTestCombo>("Text", &TTestCombo::text)}};
    return info;
  }
  const TClassInfo& ClassInfo() const override { return StaticClass(); }
  int32_t ItemIndex() const override { return index; }
  void SetItemIndex(int32_t i) override { index = i < -1 || i > 3 ? -1 : i; }
  int32_t index = -1;
  std::string text;
};

class TTestSpin : public TComponent {
 public:
  using TComponent::TComponent;
  static const TClassInfo& StaticClass() {
    static const TClassInfo info{"TTestSpin",
                                 &TComponent::StaticClass(),
                                 {FieldProperty<TTestSpin>("Value", &TTestSpin::value)}};
    return info;
  }
  const TClassInfo& ClassInfo() const override { return StaticClass(); }
  double value = 0;
};

class TTestCheck : public TComponent {
 public:
  using TComponent::TComponent;
  static const TClassInfo& StaticClass() {
    static const TClassInfo info{"TTestCheck",
                                 &TComponent::StaticClass(),
                                 {FieldProperty<TTestCheck>("Checked", &TTestCheck::checked)}};
    return info;
  }
  const TClassInfo& ClassInfo() const override { return StaticClass(); }
  bool checked = false;
};

class TTestForm : public TComponent {
 public:
  static const TClassInfo& StaticClass() {
    static const TClassInfo info{"TTestForm",
                                 &TComponent::StaticClass(),
                                 {FieldProperty<TTestForm>("Left", &TTestForm::left),
                                  FieldProperty<TTestForm>("Top", &TTestForm::top),
                                  FieldProperty<TTestForm>("Height", &TTestForm::height),
                                  FieldProperty<TTestForm>("Width", &TTestForm::width)}};
    return info;
  }
  const TClassInfo& ClassInfo() const override { return StaticClass(); }

  explicit TTestForm(TComponent* owner = nullptr) : TComponent(owner) {
    for (int i = 1; i <= 4; ++i) {
      std::string n = std::to_string(i);
      Make<TTestEdit>("var" + n);
      Make<TTestCombo>("type" + n);
      Make<TTestSpin>("val" + n);
      Make<TTestEdit>("event" + n);
    }
    for (const char* c : {"chkWaitData", "chkEvOnce", "chkCheckClient", "chkEventResume"})
      Make<TTestCheck>(c);
    Make<TTestEdit>("edtClientVar");
    Make<TTestEdit>("edtEventResume");
  }
  template <class T>
  T& Get(const std::string& name) {
    return *static_cast<T*>(FindComponent(name));
  }

  int32_t left = 0, top = 0, height = 0, width = 0;

 private:
  template <class T>
  void Make(const std::string& name) {
    (new T(this))->SetName(name);
  }
};

// FillSample gives every field of a settings object a non-default value,
// with texts that need escaping.
inline void FillSample(TProxyCodeObject& s) {
  s.Left = -20;
  s.Top = 7;
  s.Height = 480;
  s.Width = 2147483647;
  s.var1_Text = " T1 ";
  s.var2_Text = "100% + more";
  s.var3_Text = "tab\there";
  s.var4_Text = "\xC4rger";
  s.type1_ItemIndex = 1;
  s.type2_ItemIndex = 3;
  s.type3_ItemIndex = 0;
  s.type4_ItemIndex = -1;
  s.val1_Value = 2.9;
  s.val2_Value = 1e-7;
  s.val3_Value = 123456789.125;
  s.val4_Value = -0.5;
  s.event1_Text = "EV1";
  s.event2_Text = "";
  s.event3_Text = "E=3;x";
  s.event4_Text = "[x]";
  s.chkWaitData_Checked = false;
  s.chkEvOnce_Checked = false;
  s.chkCheckClient_Checked = false;
  s.edtClientVar_Text = "";
  s.edtEventResume_Text = " -R";
  s.chkEventResume_Checked = true;
}

// ExpectSameSettings compares every property through the property layer.
inline void ExpectSameSettings(const TProxyCodeObject& a, const TProxyCodeObject& b) {
  for (const TPropInfo& p : TProxyCodeObject::StaticClass().properties) {
    SCOPED_TRACE(p.name);
    EXPECT_EQ(ReadPropertyValue(a, p.name).ToAnsi(), ReadPropertyValue(b, p.name).ToAnsi());
    if (p.kind == tkFloat) {
      EXPECT_EQ(ReadPropertyValue(a, p.name).AsDouble(), ReadPropertyValue(b, p.name).AsDouble());
    }
  }
}

}  // namespace tarvel::test
