// qmidi-tool text: draws one line of WRD text with the machine's font into
// a text layer of a headless display, the way scripts draw it, and writes
// the line (16 rows, as wide as it is drawn) as a PNG through the display
// palette: the quickest way to see the font.
#include <iostream>
#include <string>
#include <string_view>
#include <vector>

#include "engine/graphics/display.h"
#include "platform/freetype/freetype_glyphs.h"
#include "platform/glyphs.h"
#include "platform/headless/headless_presenter.h"
#include "platform/png/png_file.h"
#include "support/cp932.h"
#include "support/result_code.h"
#include "support/file_record.h"
#include "tools/json_writer.h"
#include "tools/module_commands.h"
#include "tools/tool_command.h"

namespace {

// True when the text is well-formed UTF-8 holding at least one non-ASCII
// character; anything else is taken as Shift-JIS as it stands.
bool isUtf8Text(std::string_view s) {
  bool nonAscii = false;
  for (size_t i = 0; i < s.size();) {
    auto c = static_cast<uint8_t>(s[i]);
    size_t n = c < 0x80 ? 1 : (c >> 5) == 0x6 ? 2 : (c >> 4) == 0xE ? 3 : (c >> 3) == 0x1E ? 4 : 0;
    if (n == 0 || i + n > s.size()) return false;
    if (n == 2 && c < 0xC2) return false;  // overlong
    for (size_t k = 1; k < n; ++k)
      if ((static_cast<uint8_t>(s[i + k]) & 0xC0) != 0x80) return false;
    nonAscii = nonAscii || n > 1;
    i += n;
  }
  return nonAscii;
}

int runText(const ToolArgs& a) {
  const std::string& input = a.arg(0, "TEXT");
  const std::string& out = a.arg(1, "OUT.png");
  const long colour = a.getInt("--colour", 241 - 7);
  if (colour < 0 || colour > 511) throw UsageError("--colour must be 0..511");
  QDFont font;
  if (a.has("--font")) font.face = a.get("--font");

  const std::string sjis = isUtf8Text(input) ? Utf8ToCp932(input) : input;
  if (sjis.empty()) throw UsageError("TEXT is empty");

  FreeTypeGlyphSystem glyphs;
  HeadlessOptions options;
  options.framesFolder = "";
  options.refreshHz = 0;
  HeadlessPresenter presenter(options);
  QRSetGlyphSystem(&glyphs);
  QDSetPresenter(&presenter);
  auto cleanUp = [&] {
    QDFree();
    QDSetPresenter(nullptr);
    QRSetGlyphSystem(nullptr);
  };

  QGSetErrorCode(0);
  if (!QDCreate(640, 400, font, nullptr, false)) {
    std::cerr << "qmidi-tool text: no display (result code " << QGEngineErrorCode().load()
              << "; is a font for \"" << font.face << "\" installed?)\n";
    cleanUp();
    return 1;
  }
  // One string per character, so that a line too long stops at the
  // character that would pass 640 pixels.
  std::vector<std::string> chars;
  for (size_t i = 0; i < sjis.size();) {
    size_t n = IsSjisLeadByte(static_cast<uint8_t>(sjis[i])) && i + 1 < sjis.size() ? 2 : 1;
    chars.push_back(sjis.substr(i, n));
    i += n;
  }
  int32_t width = 0;
  bool whole = QRSetMoji(QDTextLayer(), 0, 0, &width, chars, 0, static_cast<int>(chars.size()),
                         static_cast<int32_t>(colour));
  int32_t code = QGEngineErrorCode().load();
  if (width == 0) {
    std::cerr << "qmidi-tool text: nothing drawn (result code " << code
              << "; a line holds at most 640 pixels)\n";
    cleanUp();
    return 1;
  }
  std::array<PngRgb, 256> palette;
  for (int i = 0; i < 256; ++i)
    palette[i] = {QDDisplayPalette()[i].red, QDDisplayPalette()[i].green,
                  QDDisplayPalette()[i].blue};
  // The text layer's first 16 rows, cut to the line (rows are display-width apart).
  const TQGBitmap& layer = QDTextLayer();
  std::vector<uint8_t> line(static_cast<size_t>(width) * kGlyphRows);
  for (int r = 0; r < kGlyphRows; ++r)
    std::copy_n(layer.base + static_cast<size_t>(r) * layer.width(), width,
                line.begin() + static_cast<ptrdiff_t>(r) * width);
  std::string error, target;
  bool written = QGOutputTarget(out, &target, &error) &&
                 WritePngIndexed(target, width, kGlyphRows, line.data(), palette, &error);
  cleanUp();
  if (!written) {
    std::cerr << "qmidi-tool text: cannot write \"" << out << "\": " << error << '\n';
    return 1;
  }
  const std::string family = QRResolveFont(font.face) ? QRResolveFont(font.face)->family : "";
  if (a.json()) {
    JsonWriter(std::cout)
        .beginObject()
        .field("png", out)
        .field("width", width)
        .field("height", kGlyphRows)
        .field("bytes", static_cast<int64_t>(sjis.size()))
        .field("font", family)
        .field("cut", !whole)
        .endObject();
  } else {
    std::cout << width << " x " << kGlyphRows << " pixels in " << family << " -> " << out << '\n';
    if (!whole) std::cout << "(cut at 640 pixels)\n";
  }
  return 0;
}

}  // namespace

QMIDI_TOOL_COMMAND(text, {
  "text",
  ModuleCommandSummary("text"),
  "TEXT OUT.png [--font NAME] [--colour N] [--json]",
  {"--font", "--colour"},
  runText})
