// The engine program end to end: qmidiexe runs on the capture devices and the
// offscreen platform, with its settings in a folder of the test's own.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "platform/png/png_file.h"
#include "tests/common/test_files.h"

namespace {

// A one-track song of about a second: C4 then E4, a quarter note each at
// 120 beats per minute (division 96).
std::vector<uint8_t> ShortSong() {
  std::vector<uint8_t> track = {
      0x00, 0xFF, 0x51, 0x03, 0x07, 0xA1, 0x20,  // tempo 500000
      0x00, 0x90, 0x3C, 0x64,                    // C4 on
      0x60, 0x80, 0x3C, 0x40,                    // C4 off after 96
      0x00, 0x90, 0x40, 0x64,                    // E4 on
      0x60, 0x80, 0x40, 0x40,                    // E4 off
      0x00, 0xFF, 0x2F, 0x00};
  std::vector<uint8_t> song = {'M', 'T', 'h', 'd', 0, 0, 0, 6, 0, 0, 0, 1, 0, 96,
                               'M', 'T', 'r', 'k', 0, 0, 0, uint8_t(track.size())};
  for (uint8_t b : track) song.push_back(b);
  return song;
}

bool Has(const std::string& text, const std::string& part);

struct ProcessRun {
  int exitCode = -1;
  std::string out;
  std::string err;
};

class QmidiexeTest : public ::testing::Test {
 protected:
  std::string config() const { return dir_.file("config"); }
  std::string capture() const { return dir_.file("capture"); }
  std::string settingsPath() const { return config() + "/QUOR/QMIDIEXE.conf"; }

  // Runs qmidiexe (or a copy of it at program) with args (each quoted) and at most 60 seconds.
  // extraEnv: more words for env, options first (QMIDI_FRAMES there replaces the test's none).
  ProcessRun run(const std::vector<std::string>& args, const std::string& program = QMIDIEXE_PATH,
                 const std::string& extraEnv = "") {
    const std::string frames = Has(extraEnv, "QMIDI_FRAMES=") ? "" : " QMIDI_FRAMES=";
    std::string cmd = "cd '" + dir_.path().string() + "' && env " + extraEnv + " XDG_CONFIG_HOME='" + config() +
                      "' QMIDI_CAPTURE='" + capture() + "' QMIDI_STATUS_LOG='" + dir_.file("status.log") +
                      "' QT_QPA_PLATFORM=offscreen" + frames + " timeout 60 '" + program + "'";
    for (const auto& a : args) cmd += " '" + a + "'";
    cmd += " >'" + dir_.file("out.txt") + "' 2>'" + dir_.file("err.txt") + "'";
    int status = std::system(cmd.c_str());
    ProcessRun r;
    r.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    r.out = qtest::ReadText(dir_.file("out.txt"));
    r.err = qtest::ReadText(dir_.file("err.txt"));
    return r;
  }

  // key=value lines of the settings file.
  std::map<std::string, std::string> settings() const {
    std::map<std::string, std::string> values;
    std::ifstream in(settingsPath());
    std::string line;
    while (std::getline(in, line)) {
      auto eq = line.find('=');
      if (eq != std::string::npos) values[line.substr(0, eq)] = line.substr(eq + 1);
    }
    return values;
  }

  void writeSettings(const std::string& text) {
    std::string folder = config() + "/QUOR";
    std::system(("mkdir -p '" + folder + "'").c_str());
    std::ofstream(settingsPath()) << "[General]\n" << text;
  }

  std::string captureLog(const std::string& device = "mapper") const {
    return qtest::ReadText(capture() + "/" + device + ".log");
  }

  std::string song() const { return dir_.write("short song.mid", ShortSong()); }

  qtest::TempDir dir_;
};

bool Has(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string l; std::getline(in, l);) lines.push_back(l);
  return lines;
}

TEST_F(QmidiexeTest, CommandLineSongPlaysToItsEndAndTheProgramEnds) {
  ProcessRun r = run({song()});
  ASSERT_EQ(r.exitCode, 0) << r.err;

  // Both notes on and off reached the mapper, after its open and before its close.
  std::string log = captureLog();
  auto lines = Lines(log);
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines.front(), "open");
  EXPECT_EQ(lines.back(), "close");
  EXPECT_TRUE(Has(log, " 903c64")) << log;
  EXPECT_TRUE(Has(log, " 904064")) << log;
  EXPECT_TRUE(Has(log, " 803c40") || Has(log, " 903c00")) << log;
  EXPECT_TRUE(Has(log, " 804040") || Has(log, " 904000")) << log;
  // Play mode 0 sends no GM system on.
  EXPECT_FALSE(Has(log, "f07e7f0901f7"));

  // The sink saw display values while the song played and "ended, stop" last.
  auto status = Lines(qtest::ReadText(dir_.file("status.log")));
  ASSERT_FALSE(status.empty());
  EXPECT_EQ(status.back(), "-1 0 0 0");
  EXPECT_GT(status.size(), 1u);
  EXPECT_GT(std::atoi(status.front().c_str()), 0);

  // A command-line run keeps the play options of the file as they were.
  auto s = settings();
  EXPECT_TRUE(s.count("Handle"));
  EXPECT_TRUE(s.count("FontName"));
  EXPECT_EQ(s["FontStyle"], "NotBold");
  for (const char* key : {"MidiId1", "MidiId2", "MidiId3", "MidiId4"}) EXPECT_EQ(s[key], "0") << key;
  for (const char* key : {"WRDChecked", "swBunkainou", "swHatuon", "swWRDDely"})
    EXPECT_EQ(s.count(key), 0u) << key;
}

TEST_F(QmidiexeTest, M3AfterTheSongSendsTheGmSystemOn) {
  ProcessRun r = run({song(), "/M3"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  std::string log = captureLog();
  EXPECT_TRUE(Has(log, " f07e7f0901f7")) << log;
  EXPECT_TRUE(Has(log, " 903c64"));
  // The option was for this run only.
  EXPECT_EQ(settings().count("swHatuon"), 0u);
}

TEST_F(QmidiexeTest, NoPortADeviceGivesError9000AndPlaysNothing) {
  writeSettings("MidiId1=257\nswHatuon=3\n");
  ProcessRun r = run({song()});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_TRUE(Has(r.err, "qmidiexe: " + song() + ": port A has no output device (setting MidiId1) (9000)\n")) << r.err;
  EXPECT_FALSE(Has(captureLog(), "open"));
  auto s = settings();
  EXPECT_EQ(s["MidiId1"], "257");
  EXPECT_EQ(s["swHatuon"], "3");  // not rewritten in a command-line run
}

TEST_F(QmidiexeTest, OptionBeforeTheSongNamesNoSongAndDefaultsAreWritten) {
  ProcessRun r = run({"/M1", song()});
  // No song and (offscreen) no tray to wait in: the program says so and ends.
  EXPECT_EQ(r.exitCode, 2);
  EXPECT_TRUE(Has(r.err, "usage"));
  EXPECT_FALSE(Has(captureLog(), "open"));
  // Not a command-line run: every play value is written, at its default.
  auto s = settings();
  EXPECT_EQ(s["WRDChecked"], "TRUE");
  EXPECT_EQ(s["swBunkainou"], "8");
  EXPECT_EQ(s["swHatuon"], "0");
  EXPECT_EQ(s["swWRDDely"], "3");
  for (const char* key : {"MidiId1", "MidiId2", "MidiId3", "MidiId4"}) EXPECT_EQ(s[key], "0") << key;
}

TEST_F(QmidiexeTest, MissingSongFileSaysSoAndEndsWithoutPlaying) {
  const std::string missing = dir_.file("nothing here.mid");
  ProcessRun r = run({missing});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_TRUE(Has(r.err, "qmidiexe: no such song file: " + missing + "\n")) << r.err;
  EXPECT_FALSE(Has(r.err, "usage")) << r.err;
  EXPECT_FALSE(Has(r.err, "no display")) << "nothing else to say: " << r.err;
  EXPECT_FALSE(Has(captureLog(), "open"));
}

TEST_F(QmidiexeTest, AFolderNamedAsTheSongSaysSo) {
  const std::string folder = dir_.file("songs");
  std::system(("mkdir -p '" + folder + "'").c_str());
  ProcessRun r = run({folder});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_TRUE(Has(r.err, "qmidiexe: " + folder + " is a folder\n")) << r.err;
  EXPECT_FALSE(Has(r.err, "usage")) << r.err;
  EXPECT_FALSE(Has(captureLog(), "open"));
}

TEST_F(QmidiexeTest, QtPlatformWarningsGoToTheTraceLogNotTheTerminal) {
  // A copy of the program in the test's folder writes its trace log there.
  const std::string program = dir_.file("qmidiexe");
  ASSERT_EQ(std::system(("cp '" QMIDIEXE_PATH "' '" + program + "'").c_str()), 0);
  // On the offscreen platform, showing the control window makes Qt warn
  // "This plugin does not support raise()" (the qt.qpa categories are
  // covered by the host tests).
  ProcessRun r = run({song()}, program);
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_FALSE(Has(r.err, "This plugin does not support")) << r.err;
  EXPECT_FALSE(Has(r.err, "qt.qpa")) << r.err;
  const std::string trace = qtest::ReadText(dir_.file("QUORTRC.LOG"));
  EXPECT_TRUE(Has(trace, "This plugin does not support raise()")) << trace;
}

TEST_F(QmidiexeTest, SongThatDoesNotConvertClosesThePortsAndEnds) {
  std::string bad = dir_.write("bad.mid", std::vector<uint8_t>{'M', 'T', 'h', 'd', 0, 0, 0, 6, 0, 0, 0, 1, 0, 96,
                                                               'M', 'T', 'r', 'k', 0, 0, 0, 200, 0x90});
  ProcessRun r = run({bad});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_TRUE(Has(r.err, "qmidiexe: " + bad + ": the song could not be converted (9404)\n")) << r.err;
  std::string log = captureLog();
  if (Has(log, "open")) {
    EXPECT_EQ(Lines(log).back(), "close") << log;
  }
}

size_t Count(const std::string& text, const std::string& part) {
  size_t n = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
  return n;
}

TEST_F(QmidiexeTest, AScriptThatDoesNotLoadIsSaidOnceAndTheProgramEndsWithTheSong) {
  const std::string program = dir_.file("qmidiexe");  // its trace log goes beside it
  ASSERT_EQ(std::system(("cp '" QMIDIEXE_PATH "' '" + program + "'").c_str()), 0);
  const std::string path = song();
  const std::string script = dir_.write("short song.wrd", std::string());
  for (const char* why : {"empty", "too large"}) {
    SCOPED_TRACE(why);
    if (std::string(why) == "too large") std::filesystem::resize_file(script, 9999999 + 1);  // sparse
    ProcessRun r = run({path}, program);
    ASSERT_EQ(r.exitCode, 0) << "ended with the song, not kept alive by the script: " << r.err;
    EXPECT_EQ(Count(r.err, "the WRD script was not loaded"), 1u) << r.err;
    EXPECT_TRUE(Has(r.err, why)) << r.err;
    EXPECT_EQ(Lines(captureLog()).back(), "close");
    const std::string trace = qtest::ReadText(dir_.file("QUORTRC.LOG"));
    EXPECT_EQ(Count(trace, "the WRD script was not loaded"), 1u) << trace;
    EXPECT_TRUE(Has(trace, why)) << trace;
  }
}

TEST_F(QmidiexeTest, AFirstRunInAPlainShellSaysEachThingOnceInWords) {
  // No display, no session bus, no XDG_RUNTIME_DIR: a container or a login over ssh.
  ProcessRun r = run({song()}, QMIDIEXE_PATH,
                     "-u DISPLAY -u WAYLAND_DISPLAY -u XDG_RUNTIME_DIR -u DBUS_SESSION_BUS_ADDRESS");
  EXPECT_EQ(r.exitCode, 0) << r.err;
  const std::vector<std::string> lines = Lines(r.err);
  ASSERT_EQ(lines.size(), 2u) << r.err;
  EXPECT_TRUE(Has(lines[0], "no display")) << r.err;
  EXPECT_TRUE(Has(lines[1], "no session bus")) << r.err;
  EXPECT_FALSE(Has(r.err, "XDG_RUNTIME_DIR")) << r.err;
  EXPECT_FALSE(Has(r.err, "autolaunch")) << r.err;
}

TEST_F(QmidiexeTest, ASongBelowAPathOfMoreThan255BytesPlays) {
  const std::string folder = dir_.longFolder(400);
  const std::string path = folder + "/\xe6\x9b\xb2.mid";  // 曲.mid
  dir_.write(path.substr(dir_.path().string().size() + 1), ShortSong());
  ProcessRun r = run({path});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_TRUE(Has(captureLog(), " 903c64")) << "C4 was played";
}

TEST_F(QmidiexeTest, ACutRecomposerSongPlaysWhatIsThereWithAWarningInWords) {
  const std::vector<uint8_t> whole = qtest::ReadBytes(qtest::TestData("recomposer/sted-cli_test.rcp"));
  ASSERT_GT(whole.size(), 1414u + 600u);
  const std::string cut = dir_.write("CUT.RCP", std::vector<uint8_t>(whole.begin(), whole.begin() + 1414 + 600));
  ProcessRun r = run({cut});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_TRUE(Has(r.err, "qmidiexe: warning: " + cut + ": the Recomposer song is cut short")) << r.err;
  EXPECT_TRUE(Has(r.err, "(9119)\n")) << r.err;
  EXPECT_FALSE(Has(r.err, "result code")) << "no bare codes: " << r.err;
}

TEST_F(QmidiexeTest, AKaraokeSongShowsItsSungSyllablesInTheFramesAndTheProgramEndsWithIt) {
  // Two syllables a quarter note apart at 120 beats per minute, each with its note.
  std::vector<uint8_t> track = {0x00, 0xFF, 0x01, 0x06, '@', 'T', 'T', 'i', 'n', 'y',  //
                                0x00, 0xFF, 0x01, 0x03, '\\', 'l', 'a',                   //
                                0x00, 0x90, 0x3C, 0x64, 0x60, 0x80, 0x3C, 0x40,          //
                                0x00, 0xFF, 0x01, 0x02, 'l', 'a',                        //
                                0x00, 0x90, 0x40, 0x64, 0x60, 0x80, 0x40, 0x40,          //
                                0x00, 0xFF, 0x2F, 0x00};
  std::vector<uint8_t> song = {'M', 'T', 'h', 'd', 0, 0, 0, 6, 0, 0, 0, 1, 0, 96,
                               'M', 'T', 'r', 'k', 0, 0, 0, uint8_t(track.size())};
  for (uint8_t b : track) song.push_back(b);
  const std::string frames = dir_.file("frames");
  std::filesystem::create_directories(frames);
  ProcessRun r = run({dir_.write("tiny.kar", song)}, QMIDIEXE_PATH,
                     "QMIDI_FRAMES='" + frames + "' QMIDI_FRAMES_INTERVAL=0");
  ASSERT_EQ(r.exitCode, 0) << r.err;  // the window went with the song
  int sung = 0;
  for (const auto& f : std::filesystem::directory_iterator(frames)) {
    PngImage png;
    ASSERT_TRUE(ReadPngRgb(f.path().string(), png));
    for (const PngRgb& p : png.pixels) sung += p == PngRgb{80, 200, 255};
  }
  EXPECT_GT(sung, 0);
}

}  // namespace
