// qmidi-tool wrd: compiles a WRD script as the engine does before playback
// and prints the command table with its side tables. Given a song, the
// script beside it is compiled against the song's own bars.
#include <iomanip>
#include <iostream>
#include <sstream>

#include "engine/core/engine.h"
#include "engine/wrd/wrd_compiler.h"
#include "engine/wrd/wrd_state.h"
#include "support/cp932.h"
#include "support/file_record.h"
#include "tools/json_writer.h"
#include "tools/tool_command.h"

namespace {

bool endsWithNoCase(const std::string& s, const std::string& tail) {
  if (s.size() < tail.size()) return false;
  for (size_t i = 0; i < tail.size(); ++i) {
    char a = s[s.size() - tail.size() + i];
    if (a >= 'A' && a <= 'Z') a = static_cast<char>(a + 32);
    if (a != tail[i]) return false;
  }
  return true;
}

// A bare script: the song facts come from the options.
void bareScriptInputs(const ToolArgs& a, TWRDInputs& in) {
  in.tickDivision = static_cast<int32_t>(a.getInt("--division", 480));
  in.beatsPerBar = static_cast<int32_t>(a.getInt("--beats", 4));
  in.songEnd = static_cast<int32_t>(a.getInt("--end", 0));
  in.displayOffset = static_cast<int32_t>(a.getInt("--offset", 0));
}

// A song: converted as a song start converts it, then its script compiled
// exactly as the engine's WRD load compiles it. Returns the script's name;
// empty after a message when there is nothing to compile.
std::string compileForSong(Engine& engine, const std::string& path, const ToolArgs& a, bool* ok) {
  for (const char* option : {"--division", "--beats", "--end"})
    if (a.has(option))
      throw UsageError(std::string(option) + " is for a bare script; a song gives its own");
  if (const std::string problem = QGFileProblem(path); !problem.empty()) {
    std::cerr << "qmidi-tool wrd: " << path << ": " << problem << '\n';
    return {};
  }
  TQUORMSTR& song = engine.song();
  song.setinFileName(path);
  std::string script;
  PackedSong packed;
  if (!song.Convert(3, 0, &packed)) {
    std::cerr << "qmidi-tool wrd: " << SongFailure(path, engine.result().get()) << '\n';
  } else if ((script = song.getWRDFileName()).empty()) {
    std::cerr << "qmidi-tool wrd: " << path << ": the song has no .wrd script beside it\n";
  } else {
    WrdRuntime& wrd = engine.wrd();
    wrd.setWRDDelay(static_cast<int32_t>(a.getInt("--offset", 0)));
    *ok = wrd.compileScript(script, packed);
  }
  return script;
}

bool validUtf8(const std::string& s) {
  size_t i = 0;
  while (i < s.size()) {
    auto c = static_cast<uint8_t>(s[i]);
    size_t n = 0;
    if (c >= 0x80) {
      if ((c & 0xE0) == 0xC0) n = 1;
      else if ((c & 0xF0) == 0xE0) n = 2;
      else if ((c & 0xF8) == 0xF0) n = 3;
      else return false;
    }
    if (n > s.size() - i - 1) return false;
    for (size_t k = 1; k <= n; ++k)
      if ((static_cast<uint8_t>(s[i + k]) & 0xC0) != 0x80) return false;
    i += n + 1;
  }
  return true;
}

std::string printable(const std::string& name) { return validUtf8(name) ? name : Cp932ToUtf8(name); }

std::string hexBytes(std::string_view bytes) {
  std::ostringstream o;
  o << std::hex << std::uppercase << std::setfill('0');
  for (char c : bytes) o << std::setw(2) << static_cast<int>(static_cast<uint8_t>(c));
  return o.str();
}

const char* opName(uint8_t op) {
  switch (op) {
    case kWRDOpText: return "text";
    case kWRDOpClearText: return "clear text";
    case kWRDOpErase: return "erase";
    case kWRDOpScroll: return "scroll";
    case kWRDOpGcls: return "GCLS";
    case kWRDOpGscreen: return "GSCREEN";
    case kWRDOpGon: return "GON";
    case kWRDOpGline: return "GLINE";
    case kWRDOpGcircle: return "GCIRCLE";
    case kWRDOpPal: return "PAL";
    case kWRDOpPalRev: return "PALREV";
    case kWRDOpFade: return "fade";
    case kWRDOpGmove: return "copy";
    case kWRDOpPicture: return "picture";
    case kWRDOpTextFirst: return "text, batch first";
    case kWRDOpTextMiddle: return "text, batch";
    case kWRDOpTextLast: return "text, batch last";
    case kWRDOpScrollBatch: return "scroll, batch";
    case kWRDOpGmode: return "GMODE";
    case kWRDOpGlinePlanes: return "GLINE, planes";
    case kWRDOpGcirclePlanes: return "GCIRCLE, planes";
    case kWRDOpGmovePlanes: return "copy, planes";
    case kWRDOpClearTextBatch: return "clear text, batch";
    case kWRDOpEraseBatch: return "erase, batch";
    case kWRDOpPictureBatch: return "picture, batch";
    case kWRDOpTextLastFull: return "text, batch last (whole screen)";
    case kWRDOpScrollLast: return "scroll, batch last";
    case kWRDOpFreeSlot: return "free slot";
    case kWRDOpFreeCancelled: return "(free cancelled)";
    default: return "?";
  }
}

std::string errorText(const TWRDState& s) {
  if (s.errorCode == kWRDCompiled) return "compiled";
  if (s.errorCode == kWRDErrFault) return "the compiler failed (see the trace log)";
  return "the script is " + WRDProblemText(s);
}

std::string position(int32_t time) {
  std::ostringstream o;
  o << time / 10000 << ':' << std::setw(4) << std::setfill('0') << time % 10000;
  return o.str();
}

void printJson(const TWRDState& s) {
  JsonWriter w(std::cout);
  w.beginObject();
  w.key("entries").beginArray();
  for (size_t i = 0; i < s.commands.size(); ++i)
    w.beginObject()
        .field("time", s.commands.time(i))
        .field("op", static_cast<int32_t>(s.commands.op(i)))
        .field("arg", s.commands.arg(i))
        .endObject();
  w.endArray();
  w.key("cells").beginArray();
  for (const TWRDCell& c : s.cells.items())
    w.beginObject().field("text", hexBytes(c.view())).field("x", c.x).field("y", c.y).field("colour", c.colour).endObject();
  w.endArray();
  w.key("rects").beginArray();
  for (const TWRDRect& r : s.rects.items())
    w.beginObject()
        .field("x", r.x)
        .field("y", r.y)
        .field("width", r.width)
        .field("height", r.height)
        .field("kind", r.kind)
        .field("colour", r.colour)
        .field("colour2", r.colour2)
        .endObject();
  w.endArray();
  w.key("pictures").beginArray();
  for (const TWRDPicRecord& p : s.pictures.items())
    w.beginObject()
        .field("x1", p.x1)
        .field("y1", p.y1)
        .field("x2", p.x2)
        .field("y2", p.y2)
        .field("width", p.width)
        .field("height", p.height)
        .field("modeA", p.modeA)
        .field("modeB", p.modeB)
        .endObject();
  w.endArray();
  w.key("palettes").beginArray();
  for (const TWRDPalRecord& p : s.palRecords.items()) {
    w.beginObject().field("target", p.target).key("entries").beginArray();
    for (const TWRDPalEntry& e : p.colours)
      w.beginArray()
          .value(int32_t{e.red})
          .value(int32_t{e.green})
          .value(int32_t{e.blue})
          .value(int32_t{e.flags})
          .endArray();
    w.endArray().endObject();
  }
  w.endArray();
  w.key("fades").beginArray();
  for (const TWRDFadeStep& f : s.fades.items())
    w.beginObject().field("from", f.from).field("to", f.to).field("step", f.step).endObject();
  w.endArray();
  w.key("slots").beginArray();
  for (const std::string& n : s.slotNames) w.value(printable(n));
  w.endArray();
  w.field("errorcode", s.errorCode);
  w.endObject();
}

void printText(const std::string& script, const TWRDState& s) {
  std::cout << "WRD script " << script << ": " << errorText(s) << '\n'
            << "division " << s.division << ", bar " << s.barLength << " ticks; " << s.commands.size()
            << " entries, " << s.cells.size() << " cells, " << s.rects.size() << " rectangles, "
            << s.pictures.size() << " pictures/copies, " << s.palRecords.size() << " palettes, "
            << s.fades.size() << " fade steps\n\n";
  size_t cell = 0;
  for (size_t i = 0; i < s.commands.size(); ++i) {
    const uint8_t op = s.commands.op(i);
    const int32_t arg = s.commands.arg(i);
    std::cout << std::setw(6) << i << "  " << std::setw(10) << position(s.commands.time(i)) << "  "
              << std::setw(3) << int{op} << ' ' << std::left << std::setw(18) << opName(op) << std::right
              << ' ' << arg;
    switch (op) {
      case kWRDOpText: case kWRDOpTextFirst: case kWRDOpTextMiddle: case kWRDOpTextLast: case kWRDOpTextLastFull: {
        std::string text;
        size_t end = std::min(static_cast<size_t>(std::max(arg, 0)), s.cells.size());
        if (cell < end) std::cout << "  @" << s.cells.at(cell).x << ',' << s.cells.at(cell).y << " colour " << s.cells.at(cell).colour;
        for (; cell < end; ++cell) text.append(s.cells.at(cell).view());
        std::cout << "  \"" << Cp932ToUtf8(text) << '"';
        break;
      }
      case kWRDOpErase: case kWRDOpScroll: case kWRDOpGline: case kWRDOpGcircle: case kWRDOpGlinePlanes:
      case kWRDOpGcirclePlanes: case kWRDOpScrollBatch: case kWRDOpScrollLast: case kWRDOpEraseBatch:
        if (arg >= 0 && static_cast<size_t>(arg) < s.rects.size()) {
          const TWRDRect& r = s.rects.at(static_cast<size_t>(arg));
          std::cout << "  {" << r.x << ", " << r.y << ", " << r.width << ", " << r.height << ", kind " << r.kind
                    << ", colour " << r.colour << ", " << r.colour2 << '}';
        }
        break;
      case kWRDOpPicture: case kWRDOpPictureBatch: case kWRDOpFreeSlot: case kWRDOpGmove: case kWRDOpGmovePlanes:
        if (arg >= 0 && static_cast<size_t>(arg) < s.pictures.size()) {
          const TWRDPicRecord& p = s.pictures.at(static_cast<size_t>(arg));
          std::cout << "  {" << p.x1 << ", " << p.y1 << ", " << p.x2 << ", " << p.y2 << ", " << p.width << " x "
                    << p.height << ", " << p.modeA << ", " << p.modeB << '}';
          if (op != kWRDOpGmove && op != kWRDOpGmovePlanes)
            std::cout << " slot " << p.modeB / 64 << " mode " << p.modeB % 64;
        }
        break;
      case kWRDOpFade:
        if (arg >= 0 && static_cast<size_t>(arg) < s.fades.size()) {
          const TWRDFadeStep& f = s.fades.at(static_cast<size_t>(arg));
          std::cout << "  palette " << f.from << " -> " << f.to << " step " << f.step;
        }
        break;
      case kWRDOpPal:
        if (arg >= 0 && static_cast<size_t>(arg) < s.palRecords.size())
          std::cout << "  into palette " << s.palRecords.at(static_cast<size_t>(arg)).target;
        break;
      default: break;
    }
    std::cout << '\n';
  }
  std::cout << "\nPicture slots:\n";
  for (size_t i = 0; i < s.slotNames.size(); ++i)
    if (!s.slotNames[i].empty()) std::cout << std::setw(4) << i << "  " << printable(s.slotNames[i]) << '\n';
}

}  // namespace

QMIDI_TOOL_COMMAND(wrd, {
  "wrd",
  "compile a WRD script against a song's bars and print its command table",
  "SONG_OR_WRD [--offset STEPS] [--xymode] [--division N --beats N] [--end POSITION] [--raw] [--json]\n"
  "  --offset    WRD display offset in 1/48 quarter notes (0, +-3 ... +-384)\n"
  "  --xymode    LOCATE takes the row first\n"
  "  --division  ticks per quarter note (480), --beats beats per bar (4),\n"
  "  --end       song end position for @END (bar x 10000 + tick, 0): for a bare\n"
  "              script; a song (.mid, .rcp, .r36, .g36, .g18) gives its own\n"
  "  --raw       the table as compiled, before times are settled and text batched",
  {"--offset", "--division", "--beats", "--end"},
  [](const ToolArgs& a) {
    Engine engine{EngineServices{}};
    TWRDState& s = engine.wrd().state();
    const std::string& arg = a.arg(0, "SONG_OR_WRD");
    s.inputs.xyMode = a.flag("--xymode");
    bool ok = false;
    std::string script = arg;
    if (endsWithNoCase(arg, ".wrd")) {
      bareScriptInputs(a, s.inputs);
      ok = subWRDInit(s, script);
    } else {
      script = compileForSong(engine, arg, a, &ok);
      if (script.empty()) return 1;
    }
    if (ok && !a.flag("--raw")) ok = subWRDTableCalc(s);
    if (a.json())
      printJson(s);
    else
      printText(script, s);
    if (!ok) std::cerr << "qmidi-tool wrd: " << errorText(s) << '\n';
    return ok ? 0 : 1;
  },
  {"--xymode", "--raw"}})
