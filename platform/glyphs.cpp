#include "platform/glyphs.h"

#include <atomic>

namespace {

class NoFonts final : public GlyphSystem {
 public:
  std::unique_ptr<GlyphFace> open(const GlyphFontRequest&) override { return nullptr; }
};

NoFonts g_none;
std::atomic<GlyphSystem*> g_system{nullptr};

}  // namespace

GlyphSystem& QRGlyphSystem() {
  GlyphSystem* s = g_system.load();
  return s ? *s : g_none;
}

void QRSetGlyphSystem(GlyphSystem* system) { g_system.store(system); }
