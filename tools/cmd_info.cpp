// qmidi-tool info: what the song reader tells about a song without playing
// it: title and memo, Recomposer set-up files, time signature, WRD script,
// and its lyrics (title and artist of a karaoke file, encoding, lines).
#include <cstdio>
#include <iostream>

#include "engine/song/song_lyrics.h"
#include "engine/song/song_reader.h"
#include "support/cp932.h"
#include "support/file_record.h"
#include "support/result_code.h"
#include "tools/json_writer.h"
#include "tools/tool_command.h"

namespace {

std::string hex8(uint32_t v) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "0x%08X", v);
  return buf;
}

// A result code the reading left, said on standard error; the exit status.
int reportCode(const std::string& path, int32_t code) {
  if (code == 0 || QGResultIsQuiet(code)) return 0;
  const bool warning = QGResultIsWarning(code);
  std::cerr << "qmidi-tool info: " << (warning ? "warning: " : "") << path << ": " << QGResultCodeText(code) << " ("
            << code << ")\n";
  return warning ? 0 : 1;
}

int runInfo(const ToolArgs& a) {
  const std::string& path = a.arg(0, "FILE");
  if (const std::string problem = QGFileProblem(path); !problem.empty()) {
    std::cerr << "qmidi-tool info: " << path << ": " << problem << '\n';
    return 1;
  }
  ResultCode result;
  TQUORMSTR song(result);
  song.setinFileName(path);
  if (song.getinFileName().empty()) {
    std::cerr << "qmidi-tool info: " << path << ": cannot be read\n";
    return 1;
  }
  std::string title = Cp932ToUtf8(song.getinFileTitle());
  std::string memo = Cp932ToUtf8(song.getinFileMemo());
  std::string cm6 = Cp932ToUtf8(song.getinFileCm6());
  std::string gsd = Cp932ToUtf8(song.getinFileGsd());
  std::string gsdB = Cp932ToUtf8(song.getinFileGsdB());
  uint32_t hyosi = song.getdwHyosi();
  int32_t beats = song.getBeatsPerBar();
  std::string wrd = song.getWRDFileName();
  int32_t code = result.get();
  const TSongLyrics lyrics = ReadSongLyrics(song.getinFileName());

  if (a.json()) {
    JsonWriter(std::cout)
        .beginObject()
        .field("title", title)
        .field("memo", memo)
        .field("cm6", cm6)
        .field("gsd", gsd)
        .field("gsdB", gsdB)
        .field("hyosi", hyosi)
        .field("beatsPerBar", beats)
        .field("wrd", wrd)
        .field("lyricTitle", lyrics.title)
        .field("lyricArtist", lyrics.artist)
        .field("lyricEncoding", LyricEncodingName(lyrics.encoding))
        .field("lyricLines", static_cast<int64_t>(lyrics.lines.size()))
        .field("lyricSyllables", static_cast<int64_t>(lyrics.syllableCount()))
        .field("errorcode", code)
        .endObject();
    return reportCode(path, code);
  }
  std::cout << "file:           " << song.getinFileName() << '\n'
            << "title:          " << title << '\n'
            << "memo:           " << memo << '\n';
  if (!cm6.empty() || !gsd.empty() || !gsdB.empty())
    std::cout << "CM6 set-up:     " << cm6 << '\n' << "GSD set-up:     " << gsd << '\n';
  if (!gsdB.empty()) std::cout << "GSD port B:     " << gsdB << '\n';
  std::cout << "time signature: " << (hyosi >> 24) << '/' << (1u << ((hyosi >> 16) & 0x1F)) << " ("
            << hex8(hyosi) << "), " << beats << " beats per bar\n"
            << "WRD script:     " << (wrd.empty() ? "(none)" : wrd) << '\n';
  if (!lyrics.empty()) {
    if (!lyrics.title.empty()) std::cout << "lyric title:    " << lyrics.title << '\n';
    if (!lyrics.artist.empty()) std::cout << "lyric artist:   " << lyrics.artist << '\n';
    std::cout << "lyrics:         " << lyrics.lines.size() << " lines, " << lyrics.syllableCount()
              << " syllables (" << LyricEncodingName(lyrics.encoding)
              << (lyrics.fromTextEvents ? ", karaoke text events" : "") << ")\n";
  }
  return reportCode(path, code);
}

}  // namespace

QMIDI_TOOL_COMMAND(info, {
  "info",
  "a song's title, memo, set-up files, time signature and WRD script",
  "FILE [--json]",
  {},
  runInfo})
