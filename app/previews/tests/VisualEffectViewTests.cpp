#include <gtest/gtest.h>

#include "app/previews/VisualEffectView.h"
#include "platform/appkit/NSWindow.h"
#include "platform/ui/Host.h"

using Material = appkit::NSVisualEffectView::Material;
using BlendingMode = appkit::NSVisualEffectView::BlendingMode;

TEST(VisualEffectViewPart, MakesADefaultViewAndSetsItActive) {
  VisualEffectView bridge{Material::popover, BlendingMode::behindWindow};
  auto view = bridge.makeNSView();
  EXPECT_EQ(view->material(), Material::windowBackground);
  EXPECT_EQ(view->state(), appkit::NSVisualEffectView::State::followsWindowActiveState);
  bridge.updateNSView(*view);
  EXPECT_EQ(view->material(), Material::popover);
  EXPECT_EQ(view->blendingMode(), BlendingMode::behindWindow);
  EXPECT_EQ(view->state(), appkit::NSVisualEffectView::State::active);
}

TEST(VisualEffectViewPart, StaysTranslucentAndActiveInAPanelThatIsNotKey) {
  appkit::WindowList::resetForTesting();
  auto other = appkit::NSWindow::make(appkit::NSMakeRect(0, 0, 50, 50), appkit::NSWindowStyleMaskTitled);
  other->makeKeyAndOrderFront();
  auto panel = appkit::NSPanel::make(appkit::NSMakeRect(0, 0, 80, 40), appkit::NSWindowStyleMaskNonactivatingPanel);
  panel->setOpaque(false);
  panel->setContentView(appkit::NSHostingView::make(ui::View(VisualEffectView{Material::popover, BlendingMode::behindWindow})));
  panel->orderFront();
  ASSERT_FALSE(panel->isKeyWindow());
  auto host = panel->contentHost();
  const ui::Node* effect = host->root()->findFirst([](const ui::Node& n) { return n.kind == ui::NodeKind::visualEffect; });
  ASSERT_NE(effect, nullptr);
  EXPECT_EQ(effect->el().effectState, ui::VisualEffectState::active);
  EXPECT_EQ(effect->frame, (ui::Rect{0, 0, 80, 40}));
  auto bitmap = panel->renderContent();
  ASSERT_TRUE(bitmap.has_value());
  auto p = bitmap->pixel(40, 20);
  EXPECT_GT(p.a, 200);
  EXPECT_LT(p.a, 255);
  EXPECT_GT(p.r, 230);
  appkit::WindowList::resetForTesting();
}
