// The options dialog's placement: centred over the host's window until the
// user has moved or sized it, after which it opens where it was left.
//
// Threads: called by the dialog on the thread that shows it.
#include "Plugins/vopPluginModule.h"

namespace tarvel {

namespace {

platform::ScreenRect BoundsOf(const TComponent& dialog) {
  auto read = [&](const char* name) {
    return static_cast<int32_t>(ReadPropertyValue(dialog, name).AsInt64().value_or(0));
  };
  const int32_t left = read("Left"), top = read("Top");
  return {left, top, left + read("Width"), top + read("Height")};
}

}  // namespace

platform::ScreenRect CentredOver(const platform::ScreenRect& owner, int32_t width, int32_t height) {
  // Integer division cuts toward zero, also for a dialog wider than its owner.
  const int32_t left = owner.left + (owner.Width() - width) / 2;
  const int32_t top = owner.top + (owner.Height() - height) / 2;
  return {left, top, left + width, top + height};
}

void TvopPlugin::RecordDialogBounds(const TComponent& dialog) {
  dialog_bounds_ = BoundsOf(dialog);
}

bool TvopPlugin::DialogMoved(const TComponent& dialog) const {
  if (OwnerWindow() == 0 || dialog_bounds_ == platform::ScreenRect{}) return false;
  return BoundsOf(dialog) != dialog_bounds_;
}

bool TvopPlugin::CentreDialogOnOwner(TComponent& dialog) {
  platform::ScreenRect owner;
  if (OwnerWindow() == 0 || !platform::WindowScreenRect(OwnerWindow(), &owner)) return false;
  const platform::ScreenRect now = BoundsOf(dialog);
  const platform::ScreenRect centred = CentredOver(owner, now.Width(), now.Height());
  WritePropertyValue(dialog, "Left", OleVariant(centred.left));
  WritePropertyValue(dialog, "Top", OleVariant(centred.top));
  return true;
}

}  // namespace tarvel
