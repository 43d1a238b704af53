// qmidi-tool stream: converts a song the way the engine does before playing
// it (mode 3, with the edits of play mode --mode) and prints the packed
// records and the time table. No device is touched.
#include <cstdio>
#include <iostream>
#include <memory>
#include <string>

#include "engine/song/song_reader.h"
#include "support/file_record.h"
#include "support/result_code.h"
#include "tools/json_writer.h"
#include "tools/tool_command.h"

namespace {

std::string hex(const uint8_t* p, uint32_t n, const char* sep = "") {
  std::string s;
  char b[4];
  for (uint32_t i = 0; i < n; ++i) {
    std::snprintf(b, sizeof b, "%02x", p[i]);
    if (i && *sep) s += sep;
    s += b;
  }
  return s;
}

std::string describe(const StreamRecordView& r) {
  char buf[64];
  switch (r.kind()) {
    case kRecShort: {
      uint8_t m[3] = {static_cast<uint8_t>(r.data), static_cast<uint8_t>(r.data >> 8),
                      static_cast<uint8_t>(r.data >> 16)};
      return "short " + hex(m, 3, " ");
    }
    case kRecTempo:
      std::snprintf(buf, sizeof buf, "tempo %u", r.data);
      return buf;
    case kRecNop:
      return "nop";
    case kRecLong:
      std::snprintf(buf, sizeof buf, "long %u bytes: ", r.data);
      return buf + hex(r.payload, r.data, " ");
    default:
      std::snprintf(buf, sizeof buf, "kind 0x%02x", r.kind());
      return buf;
  }
}

std::string position(int32_t code) {
  return std::to_string(code / 10000) + "." + std::to_string(code % 10000);
}

int runStream(const ToolArgs& a) {
  const std::string& path = a.arg(0, "FILE");
  long mode = a.getInt("--mode", 0);
  if (mode < INT32_MIN || mode > INT32_MAX) throw UsageError("--mode is out of range");

  if (const std::string problem = QGFileProblem(path); !problem.empty()) {
    std::cerr << "qmidi-tool stream: " << path << ": " << problem << '\n';
    return 1;
  }
  ResultCode result;
  TQUORMSTR song(result);
  song.setinFileName(path);
  song.setSetupFiles(!a.flag("--no-setup"));
  PackedSong packed;
  const bool ok = song.Convert(3, static_cast<int32_t>(mode), &packed);
  for (const std::string& problem : song.SetupProblems()) std::cerr << "qmidi-tool stream: " << problem << '\n';
  const int32_t code = result.get();

  const uint8_t* data = packed.data();
  const uint32_t length = data ? packed.length : 0;
  const TimeTableEntry* table = packed.timeTable();
  const uint32_t entries = table ? packed.entries : 0;

  if (a.json()) {
    JsonWriter j(std::cout);
    j.beginObject()
        .field("errorcode", code)
        .field("division", song.getdwTimeDivision())
        .field("tickDivision", song.getdwTickDivision())
        .field("maxTimeIdx", song.getdwMaxTimeIdx())
        .field("maxTempo", song.getdwMaxTempo())
        .field("dataLength", length)
        .field("longMax", ok ? packed.longMessageMax : 0u)
        .field("detected", song.DetectedSetup());
    j.key("records").beginArray();
    StreamRecordView r;
    for (uint32_t at = 0; at < length && DecodeStreamRecord(data, length, at, &r); at += r.size) {
      j.beginObject()
          .field("offset", at)
          .field("flags", static_cast<uint32_t>(r.flags))
          .field("delta", r.delta)
          .field("data", r.data)
          .field("payload", hex(r.payload, r.payloadSize))
          .endObject();
    }
    j.endArray();
    j.key("timeTable").beginArray();
    for (uint32_t i = 0; i < entries; ++i) {
      j.beginArray().value(table[i].ms).value(table[i].position).value(table[i].hyosi).endArray();
    }
    j.endArray();
    j.endObject();
  } else if (ok) {
    std::cout << "file:            " << song.getinFileName() << '\n'
              << "division:        " << song.getdwTimeDivision() << " (normalised "
              << song.getdwTickDivision() << ")\n"
              << "play mode:       " << mode << ", detected set-up " << song.DetectedSetup()
              << '\n'
              << "stream:          " << length << " bytes, long-message maximum "
              << packed.longMessageMax << '\n'
              << "time table:      " << entries << " entries, song length "
              << position(song.getdwMaxTempo()) << " (bar.tick), "
              << (entries ? table[entries - 1].ms : 0) << " ms\n";
    std::cout << "\n  offset flags   delta  record\n";
    StreamRecordView r;
    uint32_t marker = 0;
    char line[64];
    for (uint32_t at = 0; at < length && DecodeStreamRecord(data, length, at, &r); at += r.size) {
      std::snprintf(line, sizeof line, "%8u  %02x %8u  ", at, r.flags, r.delta);
      std::cout << line << (r.portB() ? "B " : "A ") << describe(r);
      if (r.marker() && marker < entries) {
        const TimeTableEntry& e = table[marker++];
        std::cout << "   @ " << e.ms << " ms, " << position(e.position);
      }
      std::cout << '\n';
    }
  }
  if (!ok) std::cerr << "qmidi-tool stream: " << SongFailure(path, code) << '\n';
  else WarnOfCode("stream", path, code);
  return ok ? 0 : 1;
}

}  // namespace

QMIDI_TOOL_COMMAND(stream, {
  "stream",
  "convert a song into the player's packed records and time table",
  "FILE [--mode N] [--no-setup] [--json]",
  {"--mode"},
  runStream,
  {"--no-setup"}})
