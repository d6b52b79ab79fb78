// The options dialog's placement: recorded bounds, the moved test and the
// centring over the host's window (a real window of this thread).
#include <gtest/gtest.h>

#include "Plugins/vopPluginModule.h"

namespace tarvel {
namespace {

// A dialog as the placement sees it: four integer properties.
class TBoundsForm : public TComponent {
 public:
  static const TClassInfo& StaticClass() {
    static const TClassInfo info{
        "TBoundsForm",
        &TComponent::StaticClass(),
        {FieldProperty("Left", &TBoundsForm::left), FieldProperty("Top", &TBoundsForm::top),
         FieldProperty("Width", &TBoundsForm::width),
         FieldProperty("Height", &TBoundsForm::height)}};
    return info;
  }
  const TClassInfo& ClassInfo() const override { return StaticClass(); }
  int32_t left = 314, top = 184, width = 541, height = 402;
};

TEST(DialogPlacement, CentredOverTheOwnerWithHalvesCutTowardZero) {
  using platform::ScreenRect;
  struct {
    const char* name;
    ScreenRect owner;
    int32_t width, height;
    ScreenRect expected;
  } cases[] = {
      {"owner 800 wide at left 100", {100, 50, 900, 650}, 541, 402, {229, 149, 770, 551}},
      {"odd difference cut", {0, 0, 600, 403}, 541, 402, {29, 0, 570, 402}},
      {"dialog wider than its owner: -29.5 cut to -29",
       {10, 10, 492, 300},
       541,
       402,
       {-19, -46, 522, 356}},
      {"owner on a monitor left of the main one",
       {-1000, -20, -200, 580},
       541,
       402,
       {-871, 79, -330, 481}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(CentredOver(c.owner, c.width, c.height), c.expected);
  }
}

class DialogPlacementTest : public ::testing::Test {
 protected:
  void TearDown() override {
    if (owner_) platform::DestroyMessageWindow(owner_);
  }
  // SetOwner gives the instance an owner window at rect, as OWNERFORM does.
  void SetOwner(const platform::ScreenRect& rect) {
    owner_ = platform::CreateMessageWindow(nullptr);
    ASSERT_NE(owner_, 0u);
    ASSERT_TRUE(platform::MoveWindowTo(owner_, rect));
    ParamsListPtr params = NewParamsList();
    params->Add("OWNERFORM", OleVariant(static_cast<int32_t>(owner_)));
    plugin.TakeOwnerWindow(params.get());
  }
  TvopPlugin plugin{nullptr};
  TBoundsForm form;
  platform::WindowHandle owner_ = 0;
};

TEST_F(DialogPlacementTest, WithoutOwnerNothingCountsAsMovedAndNothingMoves) {
  plugin.RecordDialogBounds(form);
  form.left = 10;
  EXPECT_FALSE(plugin.DialogMoved(form));
  EXPECT_FALSE(plugin.CentreDialogOnOwner(form));
  EXPECT_EQ(form.left, 10);
  EXPECT_EQ(form.top, 184);
}

TEST_F(DialogPlacementTest, StoredBoundsLikeTheDesignOnesLeaveTheDialogToBeCentred) {
  SetOwner({100, 50, 900, 650});
  plugin.RecordDialogBounds(form);
  EXPECT_EQ(plugin.DialogBounds(), (platform::ScreenRect{314, 184, 855, 586}));
  EXPECT_FALSE(plugin.DialogMoved(form));
  ASSERT_TRUE(plugin.CentreDialogOnOwner(form));
  EXPECT_EQ(form.left, 229);
  EXPECT_EQ(form.top, 149);
  EXPECT_EQ(form.width, 541);
  EXPECT_EQ(form.height, 402);
}

TEST_F(DialogPlacementTest, AnyEdgeThatDiffersCountsAsMoved) {
  SetOwner({0, 0, 1024, 768});
  struct {
    const char* name;
    void (*change)(TBoundsForm&);
  } cases[] = {
      {"left", [](TBoundsForm& f) { f.left = 0; }},
      {"top", [](TBoundsForm& f) { f.top = 185; }},
      {"right (wider)", [](TBoundsForm& f) { f.width = 700; }},
      {"bottom (taller)", [](TBoundsForm& f) { f.height = 403; }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TBoundsForm moved;
    plugin.RecordDialogBounds(moved);
    c.change(moved);
    EXPECT_TRUE(plugin.DialogMoved(moved));
  }
}

TEST_F(DialogPlacementTest, NoRecordedBoundsMeansNotMoved) {
  SetOwner({0, 0, 1024, 768});
  EXPECT_FALSE(plugin.DialogMoved(form));  // nothing recorded yet
  TBoundsForm nowhere;
  nowhere.left = nowhere.top = nowhere.width = nowhere.height = 0;
  plugin.RecordDialogBounds(nowhere);
  form.left = 1;
  EXPECT_FALSE(plugin.DialogMoved(form));
}

TEST_F(DialogPlacementTest, AnOwnerThatIsGoneMovesNothing) {
  SetOwner({0, 0, 1024, 768});
  platform::DestroyMessageWindow(owner_);
  owner_ = 0;
  EXPECT_FALSE(plugin.CentreDialogOnOwner(form));
  EXPECT_EQ(form.left, 314);
}

}  // namespace
}  // namespace tarvel
