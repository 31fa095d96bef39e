#include "platform/ui/Text.h"

#include <fontconfig/fontconfig.h>
#include <pango/pangocairo.h>
#include <pango/pangofc-fontmap.h>

#include <cmath>
#include <list>
#include <mutex>
#include <string>
#include <unordered_map>

#include "platform/ui/detail/Drawing.h"

namespace ui {
namespace {

// Font files looked for, in order; the Debian package fonts-dejavu-core puts
// them in the first directory.
constexpr const char* kFontDirectories[] = {
    "/usr/share/fonts/truetype/dejavu/",
    "/usr/share/fonts/dejavu/",
    "/usr/share/fonts/TTF/",
    "/usr/share/fonts/dejavu-sans-fonts/",
};

class TextEngine {
 public:
  static TextEngine& shared() {
    static TextEngine* engine = new TextEngine();  // lives for the process
    return *engine;
  }

  std::mutex mutex;
  PangoContext* context = nullptr;
  bool bundled = false;

  PangoLayout* makeLayout(const std::string& text, const Font& font, std::optional<double> width,
                          std::optional<int> lineLimit) {
    PangoLayout* layout = pango_layout_new(context);
    PangoFontDescription* desc = pango_font_description_new();
    pango_font_description_set_family_static(desc, "DejaVu Sans");
    pango_font_description_set_weight(desc, font.isBold() ? PANGO_WEIGHT_BOLD : PANGO_WEIGHT_NORMAL);
    pango_font_description_set_absolute_size(desc, std::max(1.0, font.size) * PANGO_SCALE);
    pango_layout_set_font_description(layout, desc);
    pango_font_description_free(desc);
    pango_layout_set_text(layout, text.data(), static_cast<int>(text.size()));
    if (width && std::isfinite(*width)) {
      pango_layout_set_width(layout, static_cast<int>(std::max(0.0, *width) * PANGO_SCALE));
      pango_layout_set_wrap(layout, PANGO_WRAP_WORD_CHAR);
      if (lineLimit && *lineLimit > 0) {
        pango_layout_set_ellipsize(layout, PANGO_ELLIPSIZE_END);
        pango_layout_set_height(layout, -*lineLimit);
      }
    } else if (lineLimit && *lineLimit > 0) {
      // Without a width there is nothing to truncate against; keep the first lines only.
      pango_layout_set_height(layout, -*lineLimit);
    }
    return layout;
  }

  // A laid-out text for drawing, kept for the texts drawn lately: shaping
  // is most of the cost of a text, and a frame mostly draws the texts of the
  // last one. Owned by the cache; the engine's mutex is held.
  PangoLayout* cachedLayout(const std::string& text, const Font& font, double width, std::optional<int> lineLimit,
                            TextAlignment alignment) {
    std::string key;
    key.reserve(text.size() + 48);
    key += text;
    key += '\x1f';
    key += std::to_string(font.size) + (font.isBold() ? "b" : "r") + std::to_string(width);
    key += lineLimit ? std::to_string(*lineLimit) : "-";
    key += static_cast<char>('0' + static_cast<int>(alignment));
    if (auto it = layouts_.find(key); it != layouts_.end()) {
      recent_.splice(recent_.begin(), recent_, it->second);
      return it->second->second;
    }
    PangoLayout* layout = makeLayout(text, font, width, lineLimit);
    switch (alignment) {
      case TextAlignment::leading: pango_layout_set_alignment(layout, PANGO_ALIGN_LEFT); break;
      case TextAlignment::center: pango_layout_set_alignment(layout, PANGO_ALIGN_CENTER); break;
      case TextAlignment::trailing: pango_layout_set_alignment(layout, PANGO_ALIGN_RIGHT); break;
    }
    recent_.emplace_front(key, layout);
    layouts_.emplace(std::move(key), recent_.begin());
    while (recent_.size() > kCachedLayouts) {
      layouts_.erase(recent_.back().first);
      g_object_unref(recent_.back().second);
      recent_.pop_back();
    }
    return layout;
  }

  Size measure(const std::string& text, const Font& font, std::optional<double> width,
               std::optional<int> lineLimit) {
    std::string key;
    key.reserve(text.size() + 48);
    key += text;
    key += '\x1f';
    key += std::to_string(font.size) + (font.isBold() ? "b" : "r");
    key += width && std::isfinite(*width) ? std::to_string(*width) : "-";
    key += lineLimit ? std::to_string(*lineLimit) : "-";
    std::lock_guard lock(mutex);
    if (auto it = cache_.find(key); it != cache_.end()) return it->second;
    PangoLayout* layout = makeLayout(text, font, width, lineLimit);
    if (lineLimit && *lineLimit > 0 && !(width && std::isfinite(*width))) {
      // Keep only the first lines when there is no width to ellipsize against.
      if (pango_layout_get_line_count(layout) > *lineLimit) {
        PangoLayoutLine* line = pango_layout_get_line_readonly(layout, *lineLimit - 1);
        std::string cut = text.substr(0, static_cast<std::size_t>(line->start_index + line->length));
        g_object_unref(layout);
        layout = makeLayout(cut, font, std::nullopt, std::nullopt);
      }
    }
    PangoRectangle logical;
    pango_layout_get_extents(layout, nullptr, &logical);
    g_object_unref(layout);
    Size size{static_cast<double>(logical.width) / PANGO_SCALE, static_cast<double>(logical.height) / PANGO_SCALE};
    if (cache_.size() > 8192) cache_.clear();
    cache_.emplace(std::move(key), size);
    return size;
  }

 private:
  TextEngine() {
    FcConfig* config = FcConfigCreate();
    for (const char* dir : kFontDirectories) {
      std::string regular = std::string(dir) + "DejaVuSans.ttf";
      std::string bold = std::string(dir) + "DejaVuSans-Bold.ttf";
      if (FcConfigAppFontAddFile(config, reinterpret_cast<const FcChar8*>(regular.c_str()))) {
        FcConfigAppFontAddFile(config, reinterpret_cast<const FcChar8*>(bold.c_str()));
        bundled = true;
        break;
      }
    }
    PangoFontMap* map = pango_cairo_font_map_new_for_font_type(CAIRO_FONT_TYPE_FT);
    if (bundled) {
      pango_fc_font_map_set_config(PANGO_FC_FONT_MAP(map), config);
    }
    FcConfigDestroy(config);  // the font map holds its own reference
    context = pango_font_map_create_context(map);
    g_object_unref(map);
    cairo_font_options_t* options = cairo_font_options_create();
    cairo_font_options_set_antialias(options, CAIRO_ANTIALIAS_GRAY);
    cairo_font_options_set_hint_style(options, CAIRO_HINT_STYLE_NONE);
    cairo_font_options_set_hint_metrics(options, CAIRO_HINT_METRICS_OFF);
    pango_cairo_context_set_font_options(context, options);
    cairo_font_options_destroy(options);
    pango_cairo_context_set_resolution(context, 72);
    pango_context_set_round_glyph_positions(context, FALSE);
  }

  std::unordered_map<std::string, Size> cache_;
  static constexpr std::size_t kCachedLayouts = 2048;
  std::list<std::pair<std::string, PangoLayout*>> recent_;
  std::unordered_map<std::string, std::list<std::pair<std::string, PangoLayout*>>::iterator> layouts_;
};

}  // namespace

Size measureText(const std::string& text, const Font& font, std::optional<double> width,
                 std::optional<int> lineLimit) {
  if (text.empty()) return {0, 0};
  return TextEngine::shared().measure(text, font, width, lineLimit);
}

double lineHeight(const Font& font) { return TextEngine::shared().measure("X", font, std::nullopt, 1).height; }

bool usingBundledFonts() { return TextEngine::shared().bundled; }

namespace detail {

void drawText(cairo_t* cr, const std::string& text, const Font& font, const Rect& frame, const Color& color,
              std::optional<int> lineLimit, TextAlignment alignment) {
  if (text.empty()) return;
  auto& engine = TextEngine::shared();
  std::lock_guard lock(engine.mutex);
  // A little slack so a width measured from this very text does not wrap it again.
  const double width = frame.width + 0.01;
  PangoLayout* layout = engine.cachedLayout(text, font, width, lineLimit, alignment);
  cairo_save(cr);
  setColor(cr, color);
  cairo_move_to(cr, frame.x, frame.y);
  pango_cairo_show_layout(cr, layout);
  cairo_restore(cr);
}

}  // namespace detail
}  // namespace ui

// The font engine lives for the whole process, and fontconfig keeps caches
// behind it that are never freed; LeakSanitizer is told to leave them alone.
extern "C" __attribute__((weak, used)) const char* __lsan_default_suppressions() {
  return "leak:libfontconfig.so\nleak:libpangoft2\nleak:libpango-1.0\nleak:libharfbuzz\n";
}
