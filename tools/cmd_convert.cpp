// qmidi-tool convert: a Recomposer song written out, byte for byte, as the
// Standard MIDI File image the engine builds from it and plays: the set-up
// files it names beside it (unless --no-setup) in a set-up measure before
// the music.
#include <fstream>
#include <iostream>
#include <vector>

#include "engine/song/rcp_converter.h"
#include "engine/song/setup_files.h"
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

std::string Refusal(const std::string& in, int32_t code) {
  if (code == kRcpErrNotRecomposer)
    return in + ": not a Recomposer song (it starts with neither \"" + kRcpSignature + "\" nor \"" +
           kRcp3Signature + "\")";
  if (code == kRcpErrHeaderNotRead) return in + ": too short for its song header";
  return in + ": the conversion failed: " + QGResultCodeText(code);
}

int Convert(const ToolArgs& a) {
  const std::string& in = a.arg(0, "IN");
  const std::string& out = a.arg(1, "OUT.mid");

  std::string target, error;
  if (!QGOutputTarget(out, &target, &error)) return Fail(a, in, error, 0);
  if (const std::string problem = QGFileProblem(in); !problem.empty())
    return Fail(a, in, in + ": " + problem, 0);
  QGFILE* file = QGOpenFile(in, QG_GENERIC_READ);
  if (file == nullptr) return Fail(a, in, in + ": cannot be read", 0);
  RcpHeader header;
  const bool named = RcpReadHeader(file->data, file->dataSize, in, &header);
  SongSetup setup;
  if (named && !a.flag("--no-setup")) setup = LoadSongSetup(in, header);
  for (const std::string& problem : setup.problems) std::cerr << "qmidi-tool convert: " << problem << '\n';
  RcpImage image;
  ResultCode result;
  bool ok = RcpBuildImage({file->data, file->dataSize, named ? header.trackCount : 18, &setup.messages, &result},
                          &image);
  QGCloseFile(kQGFileRecordTag, file);
  if (!ok) return Fail(a, in, Refusal(in, result.get()), result.get());
  const int32_t warning = result.get();

  std::ofstream o(target, std::ios::binary | std::ios::trunc);
  o.write(reinterpret_cast<const char*>(image.smf.data()), static_cast<std::streamsize>(image.smf.size()));
  o.close();
  if (!o) return Fail(a, in, out + ": cannot be written", 0);

  WarnOfCode("convert", in, warning);
  const int tracks = image.smf[10] << 8 | image.smf[11];
  const int division = image.smf[12] << 8 | image.smf[13];
  const char* layout = header.layout == RcpLayout::kV3 ? "RCP 3.0" : "v2";
  if (a.json()) {
    JsonWriter(std::cout)
        .beginObject()
        .field("input", in)
        .field("output", out)
        .field("layout", std::string(layout))
        .field("tracks", tracks)
        .field("division", division)
        .field("bytes", static_cast<int64_t>(image.smf.size()))
        .field("setupMessages", static_cast<int64_t>(setup.messages.size()))
        .field("setupTicks", image.leadInTicks)
        .endObject();
  } else {
    std::cout << out << ": " << layout << ", " << tracks << " tracks, division " << division << ", "
              << image.smf.size() << " bytes";
    if (!setup.messages.empty())
      std::cout << ", set-up measure of " << setup.messages.size() << " messages (" << image.leadInTicks
                << " ticks)";
    std::cout << '\n';
  }
  return 0;
}

}  // namespace

QMIDI_TOOL_COMMAND(convert, {
  "convert",
  "write a Recomposer song (.RCP, .R36, .G36, .G18) as the Standard MIDI File the engine plays",
  "IN OUT.mid [--no-setup] [--json]",
  {},
  Convert,
  {"--no-setup"}})
