// morvalent-render: renders a named sample view to a PNG.
//
//   morvalent-render [--scale S] [--size WxH] [--dump] SAMPLE OUTPUT.png
//   morvalent-render --list

#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/ui/Host.h"
#include "platform/ui/Text.h"
#include "platform/ui/tools/Samples.h"

namespace {

int usage() {
  std::fprintf(stderr,
               "usage: morvalent-render [--scale S] [--size WxH] [--dump] SAMPLE OUTPUT.png\n"
               "       morvalent-render --list\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  double scale = 1.0;
  std::optional<ui::Size> size;
  bool dump = false;
  std::string sample, output;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    if (arg == "--list") {
      for (const auto& s : ui::samples::all()) std::printf("%-10s %s\n", s.name.c_str(), s.description.c_str());
      return 0;
    } else if (arg == "--scale" && i + 1 < argc) {
      scale = std::atof(argv[++i]);
      if (!(scale > 0 && scale <= 8)) {
        std::fprintf(stderr, "morvalent-render: scale must be in (0, 8]\n");
        return 2;
      }
    } else if (arg == "--size" && i + 1 < argc) {
      double w = 0, h = 0;
      if (std::sscanf(argv[++i], "%lfx%lf", &w, &h) != 2 || !(w > 0) || !(h > 0) || w > 8192 || h > 8192) {
        std::fprintf(stderr, "morvalent-render: size must be WxH, each in (0, 8192]\n");
        return 2;
      }
      size = ui::Size{w, h};
    } else if (arg == "--dump") {
      dump = true;
    } else if (!arg.empty() && arg[0] == '-') {
      return usage();
    } else if (sample.empty()) {
      sample = arg;
    } else if (output.empty()) {
      output = arg;
    } else {
      return usage();
    }
  }
  if (sample.empty() || output.empty()) return usage();
  const auto* s = ui::samples::named(sample);
  if (!s) {
    std::fprintf(stderr, "morvalent-render: no sample named \"%s\" (see --list)\n", sample.c_str());
    return 1;
  }
  if (!ui::usingBundledFonts()) {
    std::fprintf(stderr, "morvalent-render: DejaVu Sans not found; text metrics will differ (install fonts-dejavu-core)\n");
  }
  auto host = ui::Host::make(s->make());
  host->setProposedSize(size ? size : s->size);
  if (s->prepare) s->prepare(*host);
  if (dump) std::fputs(host->dump().c_str(), stdout);
  if (!host->renderToPng(output, scale)) {
    std::fprintf(stderr, "morvalent-render: cannot write %s\n", output.c_str());
    return 1;
  }
  auto sz = host->size();
  std::printf("%s: %s, %gx%g points at scale %g\n", output.c_str(), sample.c_str(), sz.width, sz.height, scale);
  return 0;
}
