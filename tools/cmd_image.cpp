// qmidi-tool image: decodes a picture the way the script runtime picks its
// loader (by extension, case ignored: MAG with its colours placed into the
// engine's palette layout, PHO, COM, anything else BMP) and writes what the
// picture shows as a PNG.
#include <algorithm>
#include <cctype>
#include <filesystem>
#include <iostream>
#include <string>

#include "engine/graphics/bitmap.h"
#include "engine/graphics/loaders.h"
#include "platform/png/png_file.h"
#include "support/file_record.h"
#include "tools/json_writer.h"
#include "tools/tool_command.h"

namespace {

std::string upperExtension(const std::string& path) {
  std::string ext = std::filesystem::path(path).extension().string();
  for (char& c : ext) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return ext;
}

int runImage(const ToolArgs& a) {
  const std::string& in = a.arg(0, "FILE");
  const std::string& out = a.arg(1, "OUT.png");
  std::string target, error;
  if (!QGOutputTarget(out, &target, &error)) {
    std::cerr << "qmidi-tool image: " << error << '\n';
    return 1;
  }
  if (const std::string problem = QGFileProblem(in); !problem.empty()) {
    std::cerr << "qmidi-tool image: " << in << ": " << problem << '\n';
    return 1;
  }
  QGResetPalette();
  std::string ext = upperExtension(in);
  TQGBitmap picture;
  bool ok = ext == ".MAG"   ? MagLoad(in, picture, 1)
            : ext == ".PHO" ? QGamePHOLoad(in, picture)
            : ext == ".COM" ? QGameComLoad(in, picture)
                            : QGameBMPLoad(in, picture);
  if (!ok || !picture.exists()) {
    std::cerr << "qmidi-tool image: " << in << ": cannot be loaded as a " << (ext.empty() ? ".BMP" : ext)
              << " picture\n";
    return 1;
  }
  std::array<PngRgb, 256> palette;
  for (int i = 0; i < 256; ++i)
    palette[i] = {picture.colours[i].red, picture.colours[i].green, picture.colours[i].blue};
  const int w = picture.width(), h = picture.height();
  const uint8_t* pixels = picture.base;
  bool used[256] = {};
  for (size_t i = 0; i < static_cast<size_t>(w) * h; ++i) used[pixels[i]] = true;
  int colours = static_cast<int>(std::count(std::begin(used), std::end(used), true));
  bool written = WritePngIndexed(target, w, h, pixels, palette, &error);
  int originX = picture.originX, originY = picture.originY;
  QGFreeBitmap(picture);
  if (!written) {
    std::cerr << "qmidi-tool image: cannot write \"" << out << "\": " << error << '\n';
    return 1;
  }
  if (a.json()) {
    JsonWriter(std::cout)
        .beginObject()
        .field("file", in)
        .field("png", out)
        .field("width", w)
        .field("height", h)
        .field("originX", originX)
        .field("originY", originY)
        .field("colours", colours)
        .endObject();
  } else {
    std::cout << in << ": " << w << " x " << h << " at (" << originX << ", " << originY << "), "
              << colours << " colours -> " << out << '\n';
  }
  return 0;
}

}  // namespace

QMIDI_TOOL_COMMAND(image, {
  "image",
  "decode a MAG, PHO, COM or BMP picture as scripts show it and write it as PNG",
  "FILE OUT.png [--json]",
  {},
  runImage})
