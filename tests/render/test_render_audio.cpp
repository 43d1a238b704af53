// qmidi-tool render-audio end to end: songs written here rendered through
// the soft synth, the files read back with FFmpeg.
#include <gtest/gtest.h>

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <thread>

#include "tests/render/render_tool_util.h"
#include "tests/song/rcp_builder.h"
#include "tests/song/song_fixture.h"

using namespace rendertest;
using songtest::Smf;
using songtest::Track;

namespace {

constexpr int kRate = 44100;
// One millisecond at 44.1 kHz.
constexpr int64_t kMs = kRate / 1000;

// 120 beats a minute, 480 ticks a beat: a piano note at 1 s, silence, and a
// second note at 6 s.
std::vector<uint8_t> TwoNotes() {
  Track t;
  t.tempo(0, 500000)
      .at(0, {0xC0, 0x00})
      .at(960, {0x90, 60, 127})
      .at(48, {0x80, 60, 0})
      .at(4752, {0x90, 60, 127})
      .at(48, {0x80, 60, 0})
      .end();
  return Smf(480, {t});
}

bool Has(const std::vector<std::string>& files, const std::string& name) {
  for (const auto& f : files)
    if (f.find(name) != std::string::npos) return true;
  return false;
}

}  // namespace

TEST(RenderAudio, NotesStartOnTimeSilenceStaysSilentAndTheLengthFollowsTheSong) {
  qtest::TempDir dir;
  const std::string song = dir.write("two.mid", TwoNotes());
  const std::string out = dir.file("two.wav");
  const std::string json = ToolJson("render-audio " + song + " " + out);
  ASSERT_EQ(JsonText(json, "format"), "WAV") << json;
  const std::vector<int16_t> sound = DecodeSound(out, kRate);
  ASSERT_EQ(static_cast<int64_t>(sound.size()), JsonNumber(json, "samples"));

  // Tick 0 is the file's first sample: the first note's onset within 1 ms of 1 s.
  const int64_t first = Onset(sound, 0);
  EXPECT_GE(first, kRate - kMs);
  EXPECT_LE(first, kRate + kMs);
  // After its release and reverb the gap is digital silence, and the second
  // note also starts within 1 ms of its time.
  const int64_t second = Onset(sound, 0, static_cast<size_t>(4 * kRate));
  EXPECT_GE(second, 6 * kRate - kMs);
  EXPECT_LE(second, 6 * kRate + kMs);

  // The length: the song's time table, then a tail that ends in silence, at
  // most a few seconds.
  const int64_t songMs = JsonNumber(json, "songMs");
  const int64_t lengthMs = JsonNumber(json, "lengthMs");
  EXPECT_GE(songMs, 6050);
  EXPECT_GE(lengthMs, songMs);
  EXPECT_LE(lengthMs, songMs + 5100);
  EXPECT_EQ(lengthMs, static_cast<int64_t>(sound.size()) * 1000 / kRate);
  EXPECT_EQ(Onset(sound, 0, sound.size() - static_cast<size_t>(90 * kMs)), -1) << "the tail ends silent";
  EXPECT_EQ(Files(dir.path()).size(), 2u) << "no temporary file left";
}

TEST(RenderAudio, WritesFlacOggVorbisAndOggOpusByTheirNames) {
  qtest::TempDir dir;
  const std::string song = dir.write("two.mid", TwoNotes());
  struct Case {
    const char* name;
    const char* codec;
    const char* rate;
  };
  for (const Case& c : {Case{"a.flac", "flac", "44100"}, Case{"a.ogg", "vorbis", "44100"},
                        Case{"a.opus", "opus", "48000"}, Case{"b.flac", "flac", "22050"}}) {
    SCOPED_TRACE(c.name);
    const std::string out = dir.file(c.name);
    const std::string rate = std::string(c.name) == "b.flac" ? " --rate 22050" : "";
    const std::string json = ToolJson("render-audio " + song + " " + out + rate);
    EXPECT_EQ(Probe(out, "a:0", "stream=codec_name"), c.codec) << json;
    EXPECT_EQ(Probe(out, "a:0", "stream=sample_rate"), c.rate);
    const double seconds = std::stod("0" + Probe(out, "a:0", "format=duration"));
    EXPECT_NEAR(seconds * 1000, static_cast<double>(JsonNumber(json, "lengthMs")), 30);
  }
  // The modes' reset sequences change what sounds, not when.
  const std::string json = ToolJson("render-audio " + song + " " + dir.file("m5.wav") + " --mode 5");
  const std::vector<int16_t> sound = DecodeSound(dir.file("m5.wav"), kRate);
  EXPECT_NEAR(static_cast<double>(Onset(sound, 0)), kRate, kMs) << json;
}

TEST(RenderAudio, BadInputFailsClearlyAndLeavesNoFile) {
  qtest::TempDir dir;
  const std::string song = dir.write("two.mid", TwoNotes());
  const std::string text = dir.write("notes.mid", std::string("these are not notes\n"));
  struct Case {
    std::string args;
    std::string says;
  };
  const Case cases[] = {
      {dir.file("missing.mid") + " " + dir.file("o.wav"), "missing.mid: no such file"},
      {text + " " + dir.file("o.wav"), "could not be converted"},
      {dir.path().string() + " " + dir.file("o.wav"), "is a folder"},
      {song + " " + dir.file("o.mp3"), "cannot tell the format"},
      {song + " " + dir.file("o"), "cannot tell the format"},
      {song + " " + dir.file("no/such/folder/o.wav"), "cannot write"},
      {song + " " + dir.file("two.mid/o.wav"), "cannot write"},
      {song + " " + dir.file("o.opus") + " --rate 44100", "48000"},
      {song + " " + dir.file("o.wav") + " --rate 1000", "8000 to 192000"},
      {song + " " + dir.file("o.wav") + " --soundfont " + text, "sound font"},
      {song + " " + dir.file("o.wav") + " --soundfont " + dir.file("none.sf2"), "no such sound font"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args);
    std::string out;
    EXPECT_EQ(Tool("render-audio " + c.args, &out), 1) << out;
    EXPECT_NE(out.find(c.says), std::string::npos) << out;
    EXPECT_EQ(Files(dir.path()).size(), 2u) << "only the two songs";
  }
  std::string out;
  EXPECT_EQ(Tool("render-audio " + song + " " + dir.file("o.wav") + " --volume 101", &out), 2) << out;
  EXPECT_EQ(Tool("render-audio " + song, &out), 2) << out;
  EXPECT_EQ(Files(dir.path()).size(), 2u);
}

TEST(RenderAudio, AnInterruptedRenderRemovesItsTemporaryFile) {
  qtest::TempDir dir;
  const std::string song = qtest::TestData("smf/timing/bartok/concerto_for_orchestra_1.mid");
  const std::string out = dir.file("long.flac");
  const std::string tool = QMIDI_TOOL;
  char* argv[] = {const_cast<char*>(tool.c_str()), const_cast<char*>("render-audio"),
                  const_cast<char*>(song.c_str()), const_cast<char*>(out.c_str()), nullptr};
  pid_t pid = 0;
  ASSERT_EQ(posix_spawn(&pid, tool.c_str(), nullptr, nullptr, argv, environ), 0);
  // Interrupt once the render is under way (its temporary file exists).
  bool started = false;
  for (int i = 0; i < 2000 && !started; ++i) {
    started = Has(Files(dir.path()), ".part-");
    if (!started) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  EXPECT_TRUE(started);
  kill(pid, SIGINT);
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 130);
  EXPECT_TRUE(Files(dir.path()).empty()) << "neither the file nor its temporary";
}

TEST(RenderAudio, ABatchOfEightOnTwoWorkersWritesWhatEachSongAloneWrites) {
  qtest::TempDir dir;
  std::string songs;
  for (int i = 0; i < 8; ++i) {
    // Each its own instrument, key and length.
    Track t;
    t.tempo(0, 400000 + 20000 * i).at(0, {0xC0, static_cast<uint8_t>(i * 9)});
    for (int n = 0; n <= i % 3; ++n)
      t.at(n == 0 ? 0 : 240, {0x90, static_cast<uint8_t>(48 + 5 * i + n), 100}).at(240, {0x80, static_cast<uint8_t>(48 + 5 * i + n), 0});
    t.end();
    songs += dir.write("song" + std::to_string(i) + ".mid", Smf(480, {t})) + " ";
  }
  std::string out;
  ASSERT_EQ(Tool("render-audio --jobs 2 " + songs + dir.file("batch"), &out), 0) << out;
  for (int i = 1; i <= 8; ++i)
    EXPECT_NE(out.find("[" + std::to_string(i) + "/8] wrote "), std::string::npos) << "a line per song\n" << out;
  for (int i = 0; i < 8; ++i) {
    const std::string name = "song" + std::to_string(i);
    const std::string alone = dir.file(name + ".wav");
    ASSERT_EQ(Tool("render-audio " + dir.file(name + ".mid") + " " + alone, &out), 0) << out;
    const std::vector<uint8_t> batch = qtest::ReadBytes(dir.file("batch/" + name + ".wav"));
    EXPECT_GT(batch.size(), 44u);
    EXPECT_TRUE(batch == qtest::ReadBytes(alone)) << name << " differs from its render alone";
  }
  EXPECT_EQ(Files(dir.file("batch")).size(), 8u) << "no temporary file left";

  ASSERT_EQ(Tool("render-audio --help", &out), 0);
  EXPECT_NE(out.find("--jobs N"), std::string::npos) << out;
  EXPECT_NE(out.find("SONG... OUTDIR"), std::string::npos) << out;
}

namespace {

struct Sides {
  double left = 0, right = 0;
};

// Root mean square of each side over the whole file.
Sides Rms(const std::string& wav) {
  const std::vector<int16_t> s = DecodeStereo(wav, kRate);
  Sides out;
  for (size_t i = 0; i + 1 < s.size(); i += 2) {
    out.left += double(s[i]) * s[i];
    out.right += double(s[i + 1]) * s[i + 1];
  }
  const double n = static_cast<double>(s.size() / 2);
  out.left = std::sqrt(out.left / n);
  out.right = std::sqrt(out.right / n);
  return out;
}

// Port A: a piano note on channel 1 for a second. Port B (when asked):
// channel 1 silenced, panned hard left, another program.
std::vector<uint8_t> TwoPortSong(bool portA, bool portB) {
  Track a, b;
  a.tempo(0, 500000).at(0, {0xC0, 0x00});
  if (portA) a.at(0, {0x90, 60, 127}).at(960, {0x80, 60, 0});
  a.end();
  b.meta(0, 0x21, {0x01}).at(0, {0xB0, 7, 0}).at(0, {0xB0, 10, 0}).at(0, {0xC0, 24});
  if (!portA) b.at(0, {0xB0, 7, 127}).at(0, {0x90, 64, 127}).at(960, {0x80, 64, 0});
  b.end();
  return portB ? Smf(480, {a, b}) : Smf(480, {a});
}

// FFmpeg's EBU R 128 integrated loudness of a file, in LUFS.
double FfmpegLoudness(const std::string& path) {
  std::string out;
  Run("ffmpeg -nostats -hide_banner -i " + path + " -filter_complex ebur128 -f null -", &out);
  const size_t summary = out.rfind("Integrated loudness:");
  const size_t at = out.find("I:", summary);
  return summary == std::string::npos || at == std::string::npos ? 0.0 : std::stod(out.substr(at + 2));
}

}  // namespace

// Port B plays channels of its own on the soft synth: its volume 0 and hard
// pan on channel 1 leave port A's channel 1 note as loud and as centred as
// in a song without port B, and a note on port B alone sounds.
TEST(RenderAudio, TwoPortsOnTheSoftSynth) {
  qtest::TempDir dir;
  const std::string both = dir.file("both.wav"), alone = dir.file("alone.wav"), onlyB = dir.file("b.wav");
  ASSERT_EQ(Tool("render-audio " + dir.write("both.mid", TwoPortSong(true, true)) + " " + both), 0);
  ASSERT_EQ(Tool("render-audio " + dir.write("alone.mid", TwoPortSong(true, false)) + " " + alone), 0);
  const Sides withB = Rms(both), withoutB = Rms(alone);
  ASSERT_GT(withoutB.left, 100);
  EXPECT_NEAR(withB.left, withoutB.left, withoutB.left * 0.02);
  EXPECT_NEAR(withB.right, withoutB.right, withoutB.right * 0.02);
  EXPECT_NEAR(withB.left, withB.right, withB.left * 0.25);  // centred
  ASSERT_EQ(Tool("render-audio " + dir.write("b.mid", TwoPortSong(false, true)) + " " + onlyB), 0);
  EXPECT_GT(Rms(onlyB).left, 100);
}

// The file runs to where the song's last track ends: 1.5 s of rests after
// the last note are kept, for a MIDI file and for a Recomposer song.
TEST(RenderAudio, RestsAfterTheLastNoteAreRendered) {
  qtest::TempDir dir;
  Track t;
  t.tempo(0, 500000).at(0, {0x90, 60, 100}).at(96, {0x80, 60, 0}).end(1440);
  const std::string json = ToolJson("render-audio " + dir.write("rests.mid", Smf(480, {t})) + " " + dir.file("r.wav"));
  EXPECT_GE(JsonNumber(json, "lengthMs"), 1600) << json;

  // 48 ticks a beat at 120: a note of a beat, then three beats of rest.
  qtest::RcpSong song;
  song.v3 = true;
  qtest::RcpTrack track;
  track.Ev(60, 48, 40, 100).Ev(0, 144).End();
  song.tracks = {track};
  const std::string g36 = ToolJson("render-audio " + dir.write("Rests.G36", song.Build()) + " " + dir.file("g.wav"));
  EXPECT_GE(JsonNumber(g36, "lengthMs"), 2000) << g36;
}

// The soft synth's gain (--gain, else the engine's SynthGain setting) and a
// loudness target reached in two passes, as FFmpeg measures the result.
TEST(RenderAudio, GainAndNormalizeSetTheLoudness) {
  qtest::TempDir dir;
  const std::string demo = std::string(QMIDI_SOURCE_DIR) + "/demo/DEMO.MID";
  const std::string env = "XDG_CONFIG_HOME=" + dir.file("config") + " ";
  auto render = [&](const std::string& name, const std::string& options) {
    const std::string out = dir.file(name);
    std::string said;
    EXPECT_EQ(rendertest::Run(env + QMIDI_TOOL + " render-audio " + demo + " " + out + " " + options, &said), 0) << said;
    return FfmpegLoudness(out);
  };
  const double plain = render("plain.wav", "");
  EXPECT_NEAR(render("gain.wav", "--gain 0.4"), plain + 6.02, 0.5) << "twice the gain, 6 dB louder";
  EXPECT_NEAR(render("target.wav", "--normalize -16"), -16.0, 0.5);
  dir.write("config/QUOR/QMIDIEXE.conf", std::string("[General]\nSynthGain=0.4\n"));
  EXPECT_NEAR(render("setting.wav", ""), plain + 6.02, 0.5) << "the engine's setting is the default";
  std::string said;
  EXPECT_EQ(Tool("render-audio " + demo + " " + dir.file("x.wav") + " --normalize 3", &said), 2) << said;
  EXPECT_EQ(Tool("render-audio " + demo + " " + dir.file("x.wav") + " --gain loud", &said), 2) << said;
}
