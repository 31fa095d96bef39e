#include "app/snapping/SnapPreviewView.h"

#include "platform/appkit/NSColor.h"

ui::View SnapPreviewView::body() const {
  const ui::Color accent = ui::Color::fromNS(appkit::controlAccentColor());
  ui::StrokeStyle border;
  border.lineWidth = kBorderWidth;
  border.lineCap = ui::LineCap::butt;
  border.lineJoin = ui::LineJoin::miter;
  border.miterLimit = 10;
  return ui::RoundedRectangle(kCornerRadius, ui::RoundedCornerStyle::continuous)
      .fill(accent.opacity(kFillOpacity))
      .overlay(ui::RoundedRectangle(kCornerRadius, ui::RoundedCornerStyle::continuous)
                   .stroke(accent.opacity(kBorderOpacity), border));
}
