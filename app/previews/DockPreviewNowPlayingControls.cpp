#include "app/previews/DockPreviewNowPlayingControls.h"

#include <cmath>

namespace {

ui::View line(const std::string& text, const ui::Color& color, double opacity) {
  return ui::Text(text)
      .lineLimit(1)
      .truncationMode(ui::TruncationMode::tail)
      .font(ui::Font::system(11))
      .foregroundColor(color)
      .opacity(opacity);
}

ui::View gap() { return ui::View(ui::Color::clear()).frame(std::nullopt, 10); }

}  // namespace

std::string DockPreviewNowPlayingControls::zeroPadded(std::int64_t value) {
  if (value <= 9) return "0" + std::to_string(value);
  return std::to_string(value);
}

std::string DockPreviewNowPlayingControls::formatTime(double t) {
  // 2^63: the first value whose truncation leaves the signed 64-bit range.
  constexpr double kLimit = 9223372036854775808.0;
  if (!std::isfinite(t) || t >= kLimit) return "--:--";
  const std::int64_t s = t <= 0 ? 0 : static_cast<std::int64_t>(t);
  std::string text;
  if (s <= 3599) {
    text = zeroPadded(s / 60);
  } else {
    text = zeroPadded(s / 3600) + ":" + zeroPadded((s / 60) % 60);
  }
  return text + ":" + zeroPadded(s % 60);
}

ui::View DockPreviewNowPlayingControls::body() const {
  const ui::Color color = foregroundColor;
  auto getPosition = nowPlayingInfo.getPlaybackPosition;
  // Only the elapsed text follows the clock; each tick reads the position once.
  ui::View elapsed = ui::TimelineView(kRefreshInterval, [getPosition, color](double) {
    const double position = getPosition ? getPosition() : 0;
    return ui::Text(formatTime(position)).font(ui::Font::system(8)).foregroundColor(color);
  });
  ui::View duration =
      ui::Text("/ " + formatTime(nowPlayingInfo.duration)).font(ui::Font::system(8)).foregroundColor(color).opacity(0.6);

  auto handler = onClickMediaButton;
  auto button = [handler, color](MediaButton which, ui::View glyph) {
    return ui::Button(
               [handler, which] {
                 if (handler) handler(which);
               },
               glyph.foregroundColor(color))
        .buttonStyle(ui::ButtonStyle::plain);
  };
  ui::View buttons =
      ui::HStack(ui::VerticalAlignment::center, 20,
                 {button(MediaButton::back, ui::SystemImage("backward.fill").font(ui::Font::system(16))),
                  button(MediaButton::playPause,
                         ui::SystemImage(nowPlayingInfo.isPlaying ? "pause.fill" : "play.fill")
                             .font(ui::Font::system(32))
                             .frame(34, 34)),
                  button(MediaButton::forward, ui::SystemImage("forward.fill").font(ui::Font::system(16)))})
          .frame(std::nullopt, 36);

  return ui::VStack(ui::HorizontalAlignment::center, 0,
                    {line(nowPlayingInfo.artist, color, 0.8), line(nowPlayingInfo.title, color, 0.5), gap(),
                     ui::HStack(ui::VerticalAlignment::center, 0, {elapsed, duration}), gap(), buttons});
}
