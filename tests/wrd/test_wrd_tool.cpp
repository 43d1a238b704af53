// qmidi-tool wrd: exit statuses, the JSON keys it prints, and a song's
// script compiled against the song's own bars as the engine's WRD load does.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <array>
#include <cstdio>
#include <sstream>
#include <string>

#include "engine/song/song_reader.h"
#include "engine/wrd/wrd_compiler.h"
#include "engine/wrd/wrd_runtime.h"
#include "platform/glyphs.h"
#include "platform/presenter.h"
#include "engine/wrd/wrd_state.h"
#include "tests/common/test_files.h"
#include "tests/song/song_fixture.h"

namespace {

struct ToolRun {
  int status;
  std::string out;
};

ToolRun Tool(const std::string& args) {
  std::string command = std::string(QMIDI_TOOL) + " wrd " + args + " 2>/dev/null";
  ToolRun r{-1, {}};
  FILE* p = popen(command.c_str(), "r");
  if (!p) return r;
  std::array<char, 4096> buf;
  size_t n;
  while ((n = fread(buf.data(), 1, buf.size(), p)) > 0) r.out.append(buf.data(), n);
  int status = pclose(p);
  r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return r;
}

TEST(WrdTool, PrintsTheTablesAsJson) {
  qtest::TempDir dir;
  std::string script = dir.write("s.wrd", std::string("@PAL(#1,FFF)\r\n@FADE(0,1,0)\r\n@MAG(pic)\r\n\x82\xA0;\r\n@GLINE(1,2,3,4)\r\n"));
  ToolRun r = Tool(script + " --json --raw");
  ASSERT_EQ(r.status, 0) << r.out;
  // Exactly these keys, in this order.
  size_t at = 0;
  for (const char* key : {"{\"entries\":[{\"time\":0,\"op\":16,\"arg\":0}", "\"cells\":[{\"text\":\"82A0\",\"x\":0,\"y\":0,\"colour\":255}]",
                          "\"rects\":[{\"x\":1,\"y\":2,\"width\":3,\"height\":3,\"kind\":4,\"colour\":241,\"colour2\":241}]",
                          "\"pictures\":[{\"x1\":0", "\"palettes\":[{\"target\":1,\"entries\":[[0,0,0,4]",
                          "\"fades\":[{\"from\":1,\"to\":1,\"step\":0}]", "\"slots\":[\"", "\"errorcode\":0}"}) {
    size_t found = r.out.find(key, at);
    ASSERT_NE(found, std::string::npos) << key << "\n" << r.out;
    at = found;
  }
  EXPECT_NE(r.out.find("pic.MAG\",\"\",\""), std::string::npos);

  // Text for people, with the post-pass.
  r = Tool(script + " --offset 192");
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(r.out.find("1:0000"), std::string::npos) << r.out;
}

TEST(WrdTool, FailuresAndWrongCommandLines) {
  qtest::TempDir dir;
  EXPECT_EQ(Tool(dir.file("none.wrd")).status, 1);
  ToolRun r = Tool(dir.write("empty.wrd", std::string()) + " --json");
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.out.find("\"errorcode\":1"), std::string::npos) << r.out;
  EXPECT_EQ(Tool(dir.file("song.mid")).status, 1) << "no such song";
  EXPECT_EQ(Tool("").status, 2);
}

// The command table as the tool's JSON writes it.
std::string EntriesJson(const TWRDState& s) {
  std::ostringstream o;
  o << "\"entries\":[";
  for (size_t i = 0; i < s.commands.size(); ++i)
    o << (i ? "," : "") << "{\"time\":" << s.commands.time(i) << ",\"op\":" << int{s.commands.op(i)}
      << ",\"arg\":" << s.commands.arg(i) << '}';
  o << ']';
  return o.str();
}

std::string EntriesOf(const std::string& json) {
  const size_t from = json.find("\"entries\":[");
  const size_t to = json.find("],\"cells\"");
  return from == std::string::npos || to == std::string::npos ? json
                                                              : json.substr(from, to + 1 - from);
}

class WrdToolSong : public songtest::SongTest {
 protected:
  GraphicsDisplay display{QDNoPresenter(), QRNoGlyphs(), result};
  WrdRuntime wrd{display, result};
};

TEST_F(WrdToolSong, ASongsScriptGetsTheTableOfTheEnginesLoad) {
  // Division 96, 3/4, eight bars: bar lengths, line waits, REST and END
  // all depend on the song.
  songtest::Track t;
  t.timeSignature(0, 3, 2)
      .tempo(0, 500000)
      .at(0, {0x90, 60, 100})
      .at(96 * 3 * 8, {0x80, 60, 0})
      .end();
  const std::string path = dir.write("waltz.mid", songtest::Smf(96, {t}));
  dir.write("waltz.wrd", std::string("@WAIT(2)\r\nA\r\n@WMODE(11)\r\nB\r\nC\r\n@REST(1,24)\r\nD\r\n"
                                     "@END\r\nE\r\n"));

  // The engine: a song start converts the song, then loads its script.
  song.setinFileName(path);
  ASSERT_TRUE(song.Convert(3, 0, &packed));
  wrd.setVisible(-1);
  wrd.setWRDDelay(0);
  ASSERT_TRUE(wrd.load(dir.file("waltz.wrd"), packed));  // no display here: the compile is what counts
  const TWRDState& s = wrd.state();
  ASSERT_EQ(s.errorCode, kWRDCompiled);
  ASSERT_EQ(s.commands.size(), 5u);               // the five lines of text
  const int32_t division = packed.tickDivision;  // 96 normalised
  EXPECT_EQ(s.division, division);
  EXPECT_EQ(s.barLength, 3 * division);
  const std::string raw = EntriesJson(s);
  ASSERT_TRUE(wrd.tableCalc());
  const std::string settled = EntriesJson(s);

  ToolRun r = Tool(path + " --json --raw");
  ASSERT_EQ(r.status, 0) << r.out;
  EXPECT_EQ(EntriesOf(r.out), raw);
  r = Tool(path + " --json");
  ASSERT_EQ(r.status, 0) << r.out;
  EXPECT_EQ(EntriesOf(r.out), settled);
  r = Tool(path);
  EXPECT_NE(r.out.find("division " + std::to_string(division) + ", bar " +
                       std::to_string(3 * division) + " ticks"),
            std::string::npos)
      << r.out;
}

TEST_F(WrdToolSong, SongsWithoutScriptsAndSongOptionsAreRefused) {
  songtest::Track t;
  t.at(0, {0x90, 60, 100}).at(96, {0x80, 60, 0}).end();
  const std::string song = dir.write("plain.mid", songtest::Smf(96, {t}));
  EXPECT_EQ(Tool(song).status, 1) << "no script beside the song";
  EXPECT_EQ(Tool(dir.write("bad.mid", std::string("not a song")) + " --json").status, 1);
  dir.write("plain.wrd", std::string("A\r\n"));
  EXPECT_EQ(Tool(song).status, 0);
  EXPECT_EQ(Tool(song + " --division 480").status, 2) << "a song gives its own division";
}

}  // namespace
