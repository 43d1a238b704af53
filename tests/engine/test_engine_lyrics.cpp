// A song with lyrics and no WRD script, played by an engine on the manual
// clock with the headless presenter: the karaoke screen is shown while it
// plays (the sung syllables in their own colour, also in the PNG frames),
// progress goes on beside it, and the window goes at the end as a script's
// does. A script beside the song wins.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "engine/wrd/karaoke_screen.h"
#include "platform/headless/headless_presenter.h"
#include "platform/manualtimer/manual_timer.h"
#include "platform/png/png_file.h"
#include "tests/common/block_glyphs.h"
#include "tests/engine/engine_session.h"
#include "tests/song/kar_songs.h"

namespace fs = std::filesystem;

namespace {

using enginetest::Session;

constexpr uint32_t kSungRgb = 0x50C8FF;    // TKaraokeScreen's sung colour
constexpr uint32_t kUnsungRgb = 0xFFFFFF;  // and the colour still to sing

// Pixels of the current line's first row that show rgb.
int CurrentLinePixels(const ShownFrame& f, uint32_t rgb) {
  int n = 0;
  for (int y = TKaraokeScreen::kCurrentTop; y < TKaraokeScreen::kCurrentTop + TKaraokeScreen::kRowHeight; ++y)
    for (int x = 0; x < f.width; ++x) n += f.rgb(x, y) == rgb;
  return n;
}

int CurrentLinePixels(const PngImage& png, uint32_t rgb) {
  const PngRgb want{uint8_t(rgb >> 16), uint8_t(rgb >> 8), uint8_t(rgb)};
  int n = 0;
  for (int y = TKaraokeScreen::kCurrentTop; y < TKaraokeScreen::kCurrentTop + TKaraokeScreen::kRowHeight; ++y)
    for (int x = 0; x < png.width; ++x) n += png.at(x, y) == want;
  return n;
}

class EngineLyrics : public ::testing::Test {
 protected:
  EngineLyrics() : presenter_(Options()), session_(dir_.file("capture"), timer_, &presenter_, &fonts_) {}

  HeadlessOptions Options() {
    HeadlessOptions o;
    o.framesFolder = dir_.file("frames");
    o.frameIntervalMs = 0;
    o.refreshHz = 0;
    o.clockMs = [this] { return timer_.nowMicroseconds() / 1000; };
    return o;
  }

  // Moves the clock on 10 ms at a time, running the engine's reports, until
  // done (false if it never comes).
  bool Until(const std::function<bool()>& done) {
    for (int i = 0; i < 100000; ++i) {
      if (done()) return true;
      timer_.advance(10);
      session_.drain();
    }
    return done();
  }
  int64_t TicksPlayed() { return session_.engine().player().state().totalTicks.load(); }
  bool Ended() { return session_.idle() && !session_.ends.empty(); }
  std::string KarSong() { return dir_.write("song.kar", kartest::BuildKar({kartest::KarText::kShiftJis, 1})); }

  qtest::TempDir dir_;
  ManualTimer timer_;
  qtest::BlockFonts fonts_;
  HeadlessPresenter presenter_;
  Session session_;
};

}  // namespace

TEST_F(EngineLyrics, ShowsTheSungSyllablesAsTheSongPlaysAndTheWindowGoesAtTheEnd) {
  Engine& engine = session_.engine();
  engine.player().setStatusSink(true);
  const std::vector<kartest::KarLine> lines = kartest::Lines();
  ASSERT_TRUE(session_.play(KarSong()));
  ASSERT_TRUE(Until([&] { return engine.wrd().lyricsShown(); }));
  EXPECT_TRUE(presenter_.isVisible());
  EXPECT_FALSE(engine.wrd().loaded());  // no script: the lyrics stand in its place

  // Before the first syllable the first line waits, nothing sung.
  ShownFrame f = presenter_.frame();
  EXPECT_GT(CurrentLinePixels(f, kUnsungRgb), 0);
  EXPECT_EQ(CurrentLinePixels(f, kSungRgb), 0);

  // Two syllables in, both colours share the line, on screen and on disk.
  ASSERT_TRUE(Until([&] { return TicksPlayed() > lines[0].ticks[1]; }));
  timer_.advance(50);  // a few status periods
  session_.drain();
  f = presenter_.frame();
  const int sung = CurrentLinePixels(f, kSungRgb);
  EXPECT_GT(sung, 0);
  EXPECT_GT(CurrentLinePixels(f, kUnsungRgb), sung);  // three of five syllables still to sing
  presenter_.flushFrames();
  std::vector<std::string> frames;
  for (const auto& e : fs::directory_iterator(dir_.file("frames"))) frames.push_back(e.path().string());
  ASSERT_FALSE(frames.empty());
  PngImage png;
  ASSERT_TRUE(ReadPngRgb(*std::max_element(frames.begin(), frames.end()), png));
  EXPECT_EQ(CurrentLinePixels(png, kSungRgb), sung);

  // The song's progress was reported beside the screen, and at its end the
  // window went as a script's does (STOPOPTION 0).
  EXPECT_GT(session_.progressReports.load(), 0);
  ASSERT_TRUE(Until([&] { return Ended(); }));
  EXPECT_EQ(session_.ends, std::vector<int32_t>{kStatusEndedStop});
  EXPECT_FALSE(presenter_.isVisible());
  EXPECT_FALSE(engine.display().exists());
  EXPECT_FALSE(engine.wrd().lyricsShown());
  EXPECT_EQ(session_.result(), 0);
}

TEST_F(EngineLyrics, AWindowKeptAfterTheEndGoesWithTheNextSongWithoutLyrics) {
  Engine& engine = session_.engine();
  session_.sequence().setStopOption(1);  // the window stays for the next song
  ASSERT_TRUE(session_.play(KarSong()));
  ASSERT_TRUE(Until([&] { return Ended(); }));
  EXPECT_EQ(session_.ends, std::vector<int32_t>{kStatusEndedContinue});
  EXPECT_TRUE(presenter_.isVisible());
  EXPECT_TRUE(engine.wrd().lyricsShown());
  // The last line, all sung, is what stays.
  EXPECT_EQ(CurrentLinePixels(presenter_.frame(), kUnsungRgb), 0);

  songtest::Track t;
  t.tempo(0, 500000).at(0, {0x90, 60, 64}).at(480, {0x80, 60, 0}).end();
  ASSERT_TRUE(session_.play(dir_.write("plain.mid", songtest::Smf(480, {t}))));
  ASSERT_TRUE(Until([&] { return session_.ends.size() == 2 && session_.idle(); }));
  EXPECT_FALSE(engine.wrd().lyricsShown());
  EXPECT_FALSE(presenter_.isVisible());
}

TEST_F(EngineLyrics, AScriptBesideTheSongWinsOverItsLyrics) {
  Engine& engine = session_.engine();
  const std::string song = KarSong();
  dir_.write("SONG.WRD", "@COLOR(1)\nhello\n");
  ASSERT_TRUE(session_.play(song));
  ASSERT_TRUE(Until([&] { return session_.sequence().playing(); }));
  EXPECT_TRUE(engine.wrd().loaded());
  EXPECT_FALSE(engine.wrd().lyricsShown());
  ASSERT_TRUE(Until([&] { return TicksPlayed() > kartest::Lines()[0].ticks[1]; }));
  timer_.advance(50);
  session_.drain();
  EXPECT_EQ(CurrentLinePixels(presenter_.frame(), kSungRgb), 0);
  session_.sequence().stop(StopKind::Stop);
  ASSERT_TRUE(Until([&] { return Ended(); }));
}
