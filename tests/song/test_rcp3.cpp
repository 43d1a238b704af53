// RCP 3.0 songs (".G36", ".G18") to SMF images, the play bias, tempo ramps,
// track sizes that lie, and the set-up measure. Expected values are worked
// out by hand from the layout and from how an independent converter
// (rcm2smf) documents each command.
#include <gtest/gtest.h>

#include <string>

#include "engine/song/rcp_converter.h"
#include "support/result_code.h"
#include "tests/common/test_files.h"
#include "tests/song/rcp_test_util.h"

using namespace rcptest;

namespace {

RcpSong G36() {
  RcpSong song;
  song.v3 = true;
  return song;
}

std::vector<uint32_t> Tempi(const SmfTrack& track, std::vector<uint32_t>* ticks = nullptr) {
  std::vector<uint32_t> us;
  for (const SmfEvent* e : Find(track, IsTempo)) {
    us.push_back(Micros(*e));
    if (ticks) ticks->push_back(e->tick);
  }
  return us;
}

std::vector<int> Keys(const SmfTrack& track) {
  std::vector<int> k;
  for (const Note& n : Notes(track)) k.push_back(n.key);
  return k;
}

}  // namespace

TEST(Rcp3Converter, HeaderWideFieldsAndLongSteps) {
  RcpSong song = G36();
  song.title = "G36 Song";
  song.memo = {"a memo line of thirty bytes ok", "", "third"};
  song.timeBase = 480;  // two bytes
  song.tempo = 300;     // two bytes, above 255
  song.numerator = 3;
  song.key = 0x02;
  song.tracks = {Track(0).Ev(60, 300, 700, 100).Ev(62, 1000, 200, 90).End()};
  Smf smf = Convert(song, 36);
  EXPECT_EQ(smf.trackCount, 36);
  EXPECT_EQ(smf.division, 480);
  const auto& ev = smf.tracks[0].events;
  EXPECT_EQ(Micros(ev[0]), 200000u);  // 60 s / 300
  EXPECT_EQ(ev[1].data, (Bytes{3, 2, 240, 8}));
  EXPECT_EQ(ev[2].data, (Bytes{2, 0}));
  auto memo = Find(smf.tracks[0], [](const SmfEvent& e) { return e.IsMeta(0x01); });
  ASSERT_EQ(memo.size(), 2u);
  EXPECT_EQ(std::string(memo[0]->data.begin(), memo[0]->data.end()),
            "a memo line of thirty bytes ok");
  // Steps and gates above 255.
  EXPECT_EQ(Notes(smf.tracks[0]), (std::vector<Note>{{0, 700, 0, 60, 100}, {300, 500, 0, 62, 90}}));
  EXPECT_EQ(smf.tracks[0].events.back().tick, 1300u);
}

TEST(Rcp3Converter, ExclusivesAndCommentsUseTheWiderEvents) {
  RcpSong song = G36();
  // RCP 3.0 user exclusive data starts one byte earlier than v2's.
  song.userExclusive[0] = {0x41, 0x10, 0x42, 0x12, 0x83, 0x40, 0x80, 0x81, 0x84, 0xF7};
  RcpTrack t = Track(2);
  t.Ev(0x90, 10, 0x04, 0x20);                   // gg from the gate, ee from the velocity
  t.Ev(0x98, 5, 0x11, 0x22);                    // channel exclusive at tick 10
  t.Raw(0xF7, {0x41, 0x10, 0x42, 0x12, 0x83});  // five message bytes a continuation
  t.Raw(0xF7, {0x40, 0x00, 0x80, 0x81, 0x84});
  t.Raw(0xF7, {0xF7, 0x55, 0x66, 0x77, 0x88});  // ended: the rest is not sent
  t.Ev(0xDD, 0, 0x40, 0x01).Ev(0xDE, 0, 0x30, 0x05);
  t.Raw(0xF6, {'h', 'e', 'l', 'l', 'o'}).Raw(0xF7, {' ', 'g', '3', '6', '!'});
  t.Ev(60, 10, 5, 100);
  song.tracks = {t.End()};
  Smf smf = Convert(song);
  auto sx = Find(smf.tracks[0], IsSysEx);
  ASSERT_EQ(sx.size(), 3u);
  EXPECT_EQ(sx[0]->tick, 0u);
  EXPECT_EQ(sx[0]->data, (Bytes{0x41, 0x10, 0x42, 0x12, 0x40, 0x04, 0x20, 0x1C, 0xF7}));
  EXPECT_EQ(sx[1]->tick, 10u);
  EXPECT_EQ(sx[1]->data, (Bytes{0x41, 0x10, 0x42, 0x12, 0x40, 0x00, 0x11, 0x22, 0x0D, 0xF7}));
  EXPECT_EQ(sx[2]->data, (Bytes{0x41, 0x10, 0x42, 0x12, 0x40, 0x01, 0x30, 0x05, 0x0A, 0xF7}));
  auto text = Find(smf.tracks[0], [](const SmfEvent& e) { return e.IsMeta(0x01); });
  ASSERT_EQ(text.size(), 1u);
  EXPECT_EQ(std::string(text[0]->data.begin(), text[0]->data.end()), "hello g36!");
  EXPECT_EQ(OnTicks(smf.tracks[0]), (std::vector<uint32_t>{15}));
}

TEST(Rcp3Converter, ChannelCommandsPortBMutedTracksAnd36Tracks) {
  RcpSong song = G36();
  song.tracks.push_back(Track(0)
                            .Ev(0xE2, 0, 24, 8)  // bank 8, program 24
                            .Ev(0xEC, 0, 5)
                            .Ev(0xEB, 0, 7, 100)
                            .Ev(60, 10, 5, 100)
                            .Ev(0xE6, 0, 18)  // port B, channel 2
                            .Ev(62, 10, 5, 100)
                            .End());
  for (int t = 1; t < 36; ++t) {
    RcpTrack track = Track(static_cast<uint8_t>(t % 32));
    track.mode = t == 35 ? 1 : 0;
    song.tracks.push_back(track.Ev(0, static_cast<uint16_t>(t)).Ev(40 + t, 10, 5, 100).End());
  }
  Smf smf = Convert(song, 36);
  std::vector<Bytes> programs;
  for (const SmfEvent* e :
       Find(smf.tracks[0], [](const SmfEvent& e) { return (e.status & 0xF0) == 0xC0; }))
    programs.push_back(e->data);
  EXPECT_EQ(programs, (std::vector<Bytes>{{24}, {5}}));
  EXPECT_EQ(Notes(smf.tracks[0]), (std::vector<Note>{{0, 5, 0, 60, 100}, {10, 15, 1, 62, 100}}));
  ASSERT_EQ(Find(smf.tracks[0], IsPort).size(), 1u);
  for (int t = 1; t < 35; ++t) {
    SCOPED_TRACE(t);
    EXPECT_EQ(Notes(smf.tracks[t]),
              (std::vector<Note>{
                  {static_cast<uint32_t>(t), static_cast<uint32_t>(t + 5), t % 16, 40 + t, 100}}));
    auto ports = Find(smf.tracks[t], IsPort);
    EXPECT_EQ(ports.size(), t % 32 >= 16 ? 1u : 0u);
  }
  EXPECT_TRUE(Notes(smf.tracks[35]).empty());  // muted
}

TEST(Rcp3Converter, LoopsAndSameMeasuresNamingAnEvent) {
  auto keys = [](std::vector<qtest::RcpEvent> events) {
    RcpSong song = G36();
    RcpTrack t = Track(0);
    t.events = std::move(events);
    song.tracks = {t.End()};
    Smf smf = Convert(song);
    std::vector<int> k;
    uint32_t expected = 0;
    for (const Note& n : Notes(smf.tracks[0])) {
      k.push_back(n.key);
      EXPECT_EQ(n.on, expected);
      expected += 300;
    }
    return k;
  };
  using K = std::vector<int>;
  const qtest::RcpEvent n60 = {60, 300, 5, 100}, n62 = {62, 300, 5, 100}, n64 = {64, 300, 5, 100},
                        fd = {0xFD, 0};
  // The event the command names (0x30 is the first) wins over its measure number.
  EXPECT_EQ(keys({n60, fd, n62, fd, {0xFC, 9, 0x30 + 2}, n64, fd}), (K{60, 62, 62, 64}));
  EXPECT_EQ(keys({n60, fd, n62, fd, {0xFC, 0, 0x30}, fd}), (K{60, 62, 60}));
  // Without an event (below 0x30) the measure number counts.
  EXPECT_EQ(keys({n60, fd, n62, fd, {0xFC, 1, 0}, fd}), (K{60, 62, 62}));
  // A named event that is itself a same-measure command is followed on.
  EXPECT_EQ(keys({n60, fd, {0xFC, 0, 0x30}, {0xFC, 0, 0x30 + 2}, n62, fd}), (K{60, 60, 60, 62}));
  // Loop counts are 16-bit: 3 plays three times; 0 (endless) plays twice;
  // a count above the cap stops at 256 passes.
  EXPECT_EQ(keys({{0xF9, 0}, n60, {0xF8, 3}}), (K{60, 60, 60}));
  EXPECT_EQ(keys({{0xF9, 0}, n60, {0xF8, 0}}), (K{60, 60}));
  EXPECT_EQ(keys({{0xF9, 0}, n60, {0xF8, 1000}}).size(), 256u);
}

TEST(RcpConverter, PlayBiasTransposesEveryTrackButRhythmTracks) {
  for (bool v3 : {false, true}) {
    SCOPED_TRACE(v3 ? "RCP 3.0" : "v2");
    RcpSong song;
    song.v3 = v3;
    song.playBias = v3 ? 3 : -12;
    for (uint8_t key : {0x00, 0x80, 0x7F, 0x05}) {
      RcpTrack t = Track(0);
      t.key = key;
      song.tracks.push_back(t.Ev(60, 10, 5, 100).End());
    }
    Smf smf = Convert(song);
    const int b = song.playBias;
    EXPECT_EQ(Keys(smf.tracks[0]), (std::vector<int>{60 + b}));
    EXPECT_EQ(Keys(smf.tracks[1]), (std::vector<int>{60}));  // bit 7: a rhythm track
    EXPECT_EQ(Keys(smf.tracks[2]), (std::vector<int>{59 + b}));
    EXPECT_EQ(Keys(smf.tracks[3]), (std::vector<int>{65 + b}));
  }
}

// A tempo change with graduation g moves in steps of 2/48 of a quarter
// note over (255 - 30 log2 g)/48 of one: g = 255 takes 15/48, so from 120 to
// 240 beats a minute the steps are 136, 152, ... 232, then 240 exactly.
TEST(RcpConverter, TempoRampsMoveInSteps) {
  for (bool v3 : {false, true}) {
    SCOPED_TRACE(v3 ? "RCP 3.0" : "v2");
    RcpSong song;
    song.v3 = v3;
    song.tracks = {Track(0)
                       .Ev(0xE7, 0, 128, 255)
                       .Ev(60, 48, 40, 100)
                       .Ev(0xE7, 0, 64)
                       .Ev(62, 48, 5, 100)
                       .End()};
    std::vector<uint32_t> ticks;
    std::vector<uint32_t> us = Tempi(Convert(song).tracks[0], &ticks);
    EXPECT_EQ(us, (std::vector<uint32_t>{500000, 441176, 394736, 357142, 326086, 300000, 277777,
                                         258620, 250000, 500000}));
    EXPECT_EQ(ticks, (std::vector<uint32_t>{0, 2, 4, 6, 8, 10, 12, 14, 15, 48}));
  }
  // A slow ramp (graduation 1: 255/48 of a quarter note) is cut by the next
  // tempo change.
  RcpSong song = G36();
  song.timeBase = 480;
  song.tracks = {
      Track(0).Ev(0xE7, 0, 32, 1).Ev(60, 480, 5, 100).Ev(0xE7, 0, 64).Ev(62, 100, 5, 100).End()};
  std::vector<uint32_t> ticks;
  std::vector<uint32_t> us = Tempi(Convert(song).tracks[0], &ticks);
  ASSERT_GE(us.size(), 3u);
  EXPECT_EQ(us.back(), 500000u);
  EXPECT_EQ(ticks.back(), 480u);
  for (size_t i = 1; i + 1 < us.size(); ++i) EXPECT_GT(us[i], us[i - 1]);  // slowing down
}

TEST(RcpConverter, TrackSizesThatLieAreFoundByTheTrackEnd) {
  for (bool v3 : {false, true}) {
    SCOPED_TRACE(v3 ? "RCP 3.0" : "v2");
    for (uint32_t size : {0u, 10u, 0x30u, 0xFFF0u}) {
      RcpSong song;
      song.v3 = v3;
      song.tracks = {Track(0).Ev(60, 10, 5, 100).Ev(62, 10, 5, 100).End(),
                     Track(1).Ev(64, 10, 5, 100).End()};
      song.tracks[0].size = size;
      Smf smf = Convert(song);
      EXPECT_EQ(Keys(smf.tracks[0]), (std::vector<int>{60, 62})) << size;
      EXPECT_EQ(Keys(smf.tracks[1]), (std::vector<int>{64})) << size;
    }
  }
}

TEST(Rcp3Converter, SignatureDecidesAndBadFilesAreRefusedOrReadSafely) {
  RcpSong v3 = G36();
  v3.tracks = {Track(0).Ev(60, 10, 5, 100).End()};
  const Bytes g36 = v3.Build();
  EXPECT_EQ(RcpLayoutOf(g36.data(), g36.size()), RcpLayout::kV3);
  const Bytes v2 = RcpSong().Build();
  EXPECT_EQ(RcpLayoutOf(v2.data(), v2.size()), RcpLayout::kV2);

  std::vector<uint8_t> image;
  ResultCode result;
  for (const char* sig : {"COME ON MUSIC RECOMPOSER RCP2.9", "RCM-PC98V2.0(C)COME ON MUSIK"}) {
    RcpSong damaged = v3;
    damaged.signature = sig;
    const Bytes bytes = damaged.Build();
    result.clear();
    EXPECT_FALSE(RcpToSmfImage(bytes.data(), bytes.size(), false, &image, &result)) << sig;
    EXPECT_EQ(result.get(), kRcpErrNotRecomposer);
  }
  // Cut inside the header: refused; cut inside a track: what is there.
  EXPECT_FALSE(RcpToSmfImage(g36.data(), kRcp3HeaderSize - 1, false, &image, &result));
  EXPECT_EQ(result.get(), kRcpErrHeaderNotRead);
  for (size_t cut = kRcp3HeaderSize; cut < g36.size(); cut += 5) {
    ASSERT_TRUE(RcpToSmfImage(g36.data(), cut, false, &image));
    EXPECT_NO_THROW(qtest::ReadSmf(image)) << cut;
  }
  // A v2 body behind the RCP 3.0 signature: too short to be one, or read as
  // one without harm.
  RcpSong mixed;
  mixed.signature = "COME ON MUSIC RECOMPOSER RCP3.0";
  const Bytes small = mixed.Build();
  EXPECT_FALSE(RcpToSmfImage(small.data(), small.size(), false, &image));
  for (int t = 0; t < 18; ++t) {
    RcpTrack track = Track(static_cast<uint8_t>(t));
    for (int i = 0; i < 40; ++i)
      track.Ev(static_cast<uint8_t>(40 + i), 12, 10, 100).Ev(0xF9, 0).Ev(0xFC, 2, 0xF8);
    mixed.tracks.push_back(track.End());
  }
  const Bytes big = mixed.Build();
  ASSERT_TRUE(RcpToSmfImage(big.data(), big.size(), false, &image));
  EXPECT_NO_THROW(qtest::ReadSmf(image));
}

TEST(Rcp3Converter, HeaderReadsNamesWhateverTheFileIsCalled) {
  RcpSong song = G36();
  song.gsd = "MYGS.GSD";
  song.gsdB = "PORTB.GSD  ";
  song.cm6 = "SOUND.CM6";
  song.playBias = -5;
  const Bytes bytes = song.Build(18);
  RcpHeader h;
  ASSERT_TRUE(RcpReadHeader(bytes.data(), bytes.size(), "whatever.dat", &h));
  EXPECT_EQ(h.layout, RcpLayout::kV3);
  EXPECT_EQ(h.trackCount, 18);
  EXPECT_EQ(h.gsd, "MYGS.GSD");
  EXPECT_EQ(h.gsdB, "PORTB.GSD");
  EXPECT_EQ(h.cm6, "SOUND.CM6");
  EXPECT_EQ(h.playBias, -5);

  for (const char* name : {"a.g36", "A.G36", "a.G36", "a.g18", "A.G18", "a.Rcp", "a.r36"})
    EXPECT_TRUE(RcpIsSongName(name)) << name;
  EXPECT_EQ(RcpKindOfName("x.G36"), 36);
  EXPECT_EQ(RcpKindOfName("x.g18"), 18);
  EXPECT_FALSE(RcpIsSongName("x.gsd"));
  // A v2 song of another name: its header's track count byte.
  RcpSong v2;
  Bytes b = v2.Build(36);
  b[0x1E6] = 36;
  ASSERT_TRUE(RcpReadHeader(b.data(), b.size(), "song.bin", &h));
  EXPECT_EQ(h.trackCount, 36);
  ASSERT_TRUE(RcpReadHeader(b.data(), b.size(), "song.rcp", &h));
  EXPECT_EQ(h.trackCount, 18);
}

// The set-up measure: whole bars before the music, at a tempo that gives
// every message at least its wait; the song's tempo and port come back
// where the music starts.
TEST(RcpConverter, SetupMeasureLeadsTheSong) {
  RcpSong song = G36();
  song.tempo = 100;
  song.numerator = 3;
  song.tracks = {Track(0).Ev(60, 10, 5, 100).End(), Track(1).Ev(0, 10).Ev(62, 0, 5, 100).End()};
  const Bytes rcp = song.Build();
  std::vector<RcpSetupMessage> setup = {
      {{0xF0, 0x41, 0x10, 0x42, 0x12, 0x40, 0x00, 0x7F, 0x00, 0x41, 0xF7}, 54, 0},
      {{0xF0, 0x7E, 0x7F, 0x09, 0x01, 0xF7}, 30, 0},
      {{0xF0, 0x43, 0x10, 0x4C, 0x00, 0x00, 0x7E, 0x00, 0xF7}, 420, 1}};
  RcpImage image;
  ASSERT_TRUE(RcpBuildImage({rcp.data(), rcp.size(), 18, &setup}, &image));
  const uint32_t bar = 3 * 48;
  ASSERT_GT(image.leadInTicks, 0u);
  EXPECT_EQ(image.leadInTicks % bar, 0u);
  Smf smf = qtest::ReadSmf(image.smf);
  std::vector<uint32_t> ticks;
  std::vector<uint32_t> us = Tempi(smf.tracks[0], &ticks);
  ASSERT_EQ(us.size(), 2u);
  EXPECT_EQ(ticks, (std::vector<uint32_t>{0, image.leadInTicks}));
  EXPECT_EQ(us[1], 600000u);
  const double tickUs = us[0] / 48.0;
  auto sx = Find(smf.tracks[0], IsSysEx);
  ASSERT_EQ(sx.size(), 3u);
  for (size_t i = 0; i < 3; ++i) {
    EXPECT_EQ(sx[i]->data, Bytes(setup[i].bytes.begin() + 1, setup[i].bytes.end()));
    const uint32_t next = i + 1 < 3 ? sx[i + 1]->tick : image.leadInTicks;
    EXPECT_GE((next - sx[i]->tick) * tickUs, setup[i].waitMs * 1000.0) << i;
  }
  std::vector<Bytes> ports;
  for (const SmfEvent* e : Find(smf.tracks[0], IsPort)) ports.push_back(e->data);
  EXPECT_EQ(ports, (std::vector<Bytes>{{1}, {0}}));
  EXPECT_EQ(OnTicks(smf.tracks[0]), (std::vector<uint32_t>{image.leadInTicks}));
  EXPECT_EQ(OnTicks(smf.tracks[1]), (std::vector<uint32_t>{image.leadInTicks + 10}));
}
