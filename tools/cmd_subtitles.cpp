// qmidi-tool subtitles: writes a song's WRD screen text and lyrics as a
// subtitle file. The song is converted as a song start converts it (its time
// table gives the times), its script compiled as the engine compiles it;
// the file is written under a temporary name and renamed when complete.
#include <fstream>
#include <iostream>

#include "engine/song/song_reader.h"
#include "engine/wrd/wrd_compiler.h"
#include "engine/wrd/wrd_display.h"
#include "platform/encode/temp_output.h"
#include "support/cp932.h"
#include "support/file_record.h"
#include "support/result_code.h"
#include "tools/device_free_stream.h"
#include "tools/json_writer.h"
#include "tools/song_subtitles.h"
#include "tools/tool_command.h"

namespace {

int Fail(const std::string& message) {
  std::cerr << "qmidi-tool subtitles: " << message << '\n';
  return 1;
}

const char* formatName(SubtitleFormat f) {
  switch (f) {
    case SubtitleFormat::kSrt: return "srt";
    case SubtitleFormat::kLrc: return "lrc";
    case SubtitleFormat::kAss: return "ass";
  }
  return "?";
}

// The song converted on no device, and the cues of its compiled script.
bool ScreenTextOfSong(const std::string& path, int32_t offset, std::vector<SubtitleCue>* cues,
                      std::string* title, std::string* error) {
  if (const std::string problem = QGFileProblem(path); !problem.empty()) {
    *error = path + ": " + problem;
    return false;
  }
  TQUORMSTR& song = QGSongReader();
  song.setinFileName(path);
  TDeviceFreeStream stream;
  QGSetErrorCode(0);
  song.QGmstTitle();
  *title = Cp932ToUtf8(song.getinFileTitle());
  if (!song.QGmstPreHeader(3)) {
    *error = SongFailure(path, QGEngineErrorCode().load());
    return false;
  }
  WarnOfCode("subtitles", path, QGEngineErrorCode().load());
  const std::string script = song.getWRDFileName();
  if (script.empty()) return true;
  TWRDCRE& wrd = WRDControl();
  wrd.setWRDFileName(script);
  wrd.setWRDDelay(offset);
  if (!wrd.compileSongScript(song) || !subWRDTableCalc()) {
    std::cerr << "qmidi-tool subtitles: the WRD script " << script
              << " did not compile; its text is left out\n";
    return true;
  }
  *cues = ScreenTextCues(WRDScreenTextCues(WRDState(), song.TimeTable(), song.TimeTableEntries()));
  return true;
}

bool WriteWhole(const std::string& outPath, const std::string& text, std::string* error) {
  TempOutput temp(outPath);
  std::ofstream f(temp.path(), std::ios::binary | std::ios::trunc);
  f.write(text.data(), static_cast<std::streamsize>(text.size()));
  f.close();
  if (!f) {
    *error = "cannot write \"" + outPath + "\"";
    return false;
  }
  return temp.commit(error);
}

int runSubtitles(const ToolArgs& a) {
  const std::string& songPath = a.arg(0, "SONG");
  const std::string& outPath = a.arg(1, "OUT");
  SubtitleFormat format;
  if (!SubtitleFormatFor(outPath, &format))
    throw UsageError("OUT must be named .srt, .lrc or .ass");
  const long offset = a.getInt("--offset", 0);
  if (offset < -384 || offset > 384) throw UsageError("--offset takes -384 .. 384 steps");
  std::string error, target;
  if (!QGOutputTarget(outPath, &target, &error)) return Fail(error);

  std::vector<SubtitleCue> screen;
  std::string songTitle;
  if (!ScreenTextOfSong(songPath, static_cast<int32_t>(offset), &screen, &songTitle, &error))
    return Fail(error);
  const TSongLyrics lyrics = ReadSongLyrics(QGSongReader().getinFileName());
  std::vector<SubtitleCue> sung = LyricCues(lyrics);
  if (screen.empty() && sung.empty())
    return Fail("the song has neither WRD screen text nor lyrics");
  const size_t screenCount = screen.size(), lyricCount = sung.size();
  const std::vector<SubtitleCue> cues = AllCues(std::move(screen), std::move(sung));

  const SubtitleTitle title{lyrics.title.empty() ? songTitle : lyrics.title, lyrics.artist};
  const std::string text = format == SubtitleFormat::kSrt   ? FormatSrt(cues)
                           : format == SubtitleFormat::kLrc ? FormatLrc(cues, title)
                                                            : FormatAss(cues, title);
  if (!WriteWhole(target, text, &error)) return Fail(error);

  if (a.json()) {
    JsonWriter(std::cout)
        .beginObject()
        .field("file", outPath)
        .field("format", formatName(format))
        .field("screenText", static_cast<int64_t>(screenCount))
        .field("lyricLines", static_cast<int64_t>(lyricCount))
        .field("encoding", LyricEncodingName(lyrics.encoding))
        .field("title", title.title)
        .endObject();
    std::cout << '\n';
  } else {
    std::cout << "wrote " << outPath << ": " << screenCount << " lines of WRD screen text, "
              << lyricCount << " lyric lines\n";
  }
  return 0;
}

}  // namespace

QMIDI_TOOL_COMMAND(subtitles,
                   {"subtitles",
                    "write a song's WRD screen text and lyrics as subtitles: .srt, .lrc, or .ass "
                    "with karaoke timing",
                    "SONG OUT.srt|OUT.lrc|OUT.ass [--offset STEPS] [--json]\n"
                    "  --offset  WRD display offset in 1/48 quarter notes (0, +-3 ... +-384)",
                    {"--offset"},
                    runSubtitles})
