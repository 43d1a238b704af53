// qmidi-tool convert: a Recomposer song written out, byte for byte, as the
// Standard MIDI File image the engine builds from it and plays.
#include <fstream>
#include <iostream>
#include <vector>

#include "engine/song/rcp_converter.h"
#include "support/file_record.h"
#include "support/result_code.h"
#include "tools/json_writer.h"
#include "tools/tool_command.h"

namespace {

int Fail(const ToolArgs& a, const std::string& in, const std::string& why, int32_t code) {
  if (a.json()) {
    JsonWriter w(std::cout);
    w.beginObject().field("input", in).field("error", why);
    if (code) w.field("resultCode", code);
    w.endObject();
  }
  std::cerr << "qmidi-tool convert: " << why;
  if (code) std::cerr << " (" << code << ")";
  std::cerr << '\n';
  return 1;
}

int Convert(const ToolArgs& a) {
  const std::string& in = a.arg(0, "IN");
  const std::string& out = a.arg(1, "OUT.mid");
  int kind = RcpKindOfName(in);
  if (kind == 0) return Fail(a, in, in + ": not a Recomposer song name (.rcp or .r36)", 0);

  std::string target, error;
  if (!QGOutputTarget(out, &target, &error)) return Fail(a, in, error, 0);
  if (const std::string problem = QGFileProblem(in); !problem.empty()) return Fail(a, in, in + ": " + problem, 0);
  QGFILE* file = QGOpenFile(in, QG_GENERIC_READ);
  if (file == nullptr) return Fail(a, in, in + ": cannot be read", 0);
  std::vector<uint8_t> image;
  ResultCode result;
  bool ok = RcpToSmfImage(file->data, file->dataSize, kind == 36, &image, &result);
  QGCloseFile(kQGFileRecordTag, file);
  if (!ok) {
    int32_t code = result.get();
    if (code == kRcpErrNotVersion2)
      return Fail(a, in, in + ": not a Recomposer v2 song (it does not start with \"" + kRcpSignature + "\")", code);
    if (code == kRcpErrHeaderNotRead)
      return Fail(a, in, in + ": too short for the " + std::to_string(kRcpHeaderSize) + "-byte song header", code);
    return Fail(a, in, in + ": the conversion failed: " + QGResultCodeText(code), code);
  }
  const int32_t warning = result.get();

  std::ofstream o(target, std::ios::binary | std::ios::trunc);
  o.write(reinterpret_cast<const char*>(image.data()), static_cast<std::streamsize>(image.size()));
  o.close();
  if (!o) return Fail(a, in, out + ": cannot be written", 0);

  WarnOfCode("convert", in, warning);
  const int tracks = image[10] << 8 | image[11];
  const int division = image[12] << 8 | image[13];
  if (a.json()) {
    JsonWriter(std::cout)
        .beginObject()
        .field("input", in)
        .field("output", out)
        .field("tracks", tracks)
        .field("division", division)
        .field("bytes", static_cast<int64_t>(image.size()))
        .endObject();
  } else {
    std::cout << out << ": " << tracks << " tracks, division " << division << ", " << image.size()
              << " bytes\n";
  }
  return 0;
}

}  // namespace

QMIDI_TOOL_COMMAND(convert, {
  "convert",
  "write a Recomposer song (.RCP, .R36) as the Standard MIDI File the engine plays",
  "IN OUT.mid [--json]",
  {},
  Convert})
