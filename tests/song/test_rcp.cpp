// Recomposer songs to SMF images: songs built here field by field, the real
// songs of the shared test data against an independent converter, and bad
// input of every kind.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <random>
#include <tuple>

#include "engine/song/rcp_converter.h"
#include "support/result_code.h"
#include "tests/common/test_files.h"
#include "tests/song/rcp_test_util.h"

using namespace rcptest;

TEST(RcpConverter, HeaderBecomesConductorEventsOfTheFirstTrack) {
  RcpSong song;
  song.title = "My Song";
  song.memo = {"Line one", "", "Line three"};
  song.timeBase = 96;
  song.tempo = 0;  // means 120
  song.numerator = 3;
  song.denominator = 8;
  song.key = 0x1A;  // two flats, minor
  song.tracks = {Track(17).End()};
  Smf smf = Convert(song);
  EXPECT_EQ(smf.format, 1);
  EXPECT_EQ(smf.trackCount, 18);
  EXPECT_EQ(smf.division, 96);
  const auto& ev = smf.tracks[0].events;
  ASSERT_EQ(ev.size(), 8u);
  EXPECT_TRUE(ev[0].IsMeta(0x51));
  EXPECT_EQ(Micros(ev[0]), 500000u);
  EXPECT_EQ(ev[1].data, (Bytes{3, 3, 48, 8}));
  EXPECT_EQ(ev[2].data, (Bytes{0xFE, 1}));
  EXPECT_TRUE(ev[3].IsMeta(0x03));
  EXPECT_EQ(std::string(ev[3].data.begin(), ev[3].data.end()), "My Song");
  EXPECT_TRUE(ev[4].IsMeta(0x01));
  EXPECT_EQ(ev[4].data.size(), 28u);
  EXPECT_EQ(std::string(ev[5].data.begin(), ev[5].data.begin() + 10), "Line three");
  EXPECT_TRUE(IsPort(ev[6]));  // channel byte 17: port B
  EXPECT_EQ(ev[6].data, Bytes{1});
  EXPECT_TRUE(ev[7].IsMeta(0x2F));
  for (const auto& e : ev) EXPECT_EQ(e.tick, 0u);
  // Only the first track carries the conductor events.
  EXPECT_EQ(smf.tracks[1].events.size(), 1u);

  EXPECT_EQ(Convert(song, 36).trackCount, 36);
}

TEST(RcpConverter, KeyOffsetsTransposeNotesOrLeaveThem) {
  RcpSong song;
  for (uint8_t key : {0x80, 0x4C, 0x05, 0x7F}) {
    RcpTrack t = Track(0);
    t.key = key;
    song.tracks.push_back(t.Ev(60, 10, 5, 100).Ev(100, 10, 5, 100).Ev(30, 10, 5, 100).End());
  }
  Smf smf = Convert(song);
  auto keys = [&](int t) {
    std::vector<int> k;
    for (const Note& n : Notes(smf.tracks[t])) k.push_back(n.key);
    return k;
  };
  EXPECT_EQ(keys(0), (std::vector<int>{60, 100, 30}));  // 0x80: untransposed
  EXPECT_EQ(keys(1), (std::vector<int>{8, 48}));        // 0x4C: down 52; 30 falls below 0
  EXPECT_EQ(keys(2), (std::vector<int>{65, 105, 35}));
  EXPECT_EQ(keys(3), (std::vector<int>{59, 99, 29}));
}

TEST(RcpConverter, NotesGatesAndTrackEnd) {
  RcpSong song;
  song.tracks = {Track(3)
                     .Ev(60, 24, 10, 100)   // off after its gate, as 0x93 velocity 0
                     .Ev(62, 24, 48, 200)   // velocity above 127 plays 127
                     .Ev(64, 24, 0, 100)    // gate 0: nothing
                     .Ev(65, 24, 10, 0)     // velocity 0: nothing
                     .Ev(0, 24, 10, 100)    // code 0 is never a note
                     .Ev(67, 0, 200, 90)    // released by the track end
                     .End()};
  Smf smf = Convert(song);
  EXPECT_EQ(Notes(smf.tracks[0]), (std::vector<Note>{{0, 10, 3, 60, 100}, {24, 72, 3, 62, 127}, {120, 320, 3, 67, 90}}));
  for (const SmfEvent& e : smf.tracks[0].events)
    if (e.IsNoteOff()) {
      EXPECT_EQ(e.status, 0x93);
    }
  EXPECT_EQ(smf.tracks[0].events.back().tick, 320u);  // end of track after the last note-off

  // A note struck again while it sounds is lengthened, not struck again; once
  // ended it is struck anew (its note-off first).
  song.tracks = {Track(0).Ev(60, 10, 20, 100).Ev(60, 50, 30, 80).Ev(62, 10, 10, 100).Ev(62, 10, 10, 100).End()};
  smf = Convert(song);
  EXPECT_EQ(Notes(smf.tracks[0]), (std::vector<Note>{{0, 40, 0, 60, 100}, {60, 70, 0, 62, 100}, {70, 80, 0, 62, 100}}));

  // 64 notes at once fill the slots; the 65th writes the "@" marker instead.
  RcpTrack chord = Track(0);
  for (uint8_t code = 1; code <= 65; ++code) chord.Ev(code, 0, 100, 100);
  song.tracks = {chord.End()};
  smf = Convert(song);
  EXPECT_EQ(Notes(smf.tracks[0]).size(), 64u);
  auto marks = Find(smf.tracks[0], [](const SmfEvent& e) { return e.IsMeta(0x02); });
  ASSERT_EQ(marks.size(), 1u);
  EXPECT_EQ(marks[0]->data, Bytes{'@'});
}

TEST(RcpConverter, OnlyNotesAndOrdinaryCommandsCarryTime) {
  // The gates move once per step whatever lies between; the step bytes of
  // 0xF5 and above (measure end, comment, continuation, key) are parameters.
  RcpSong song;
  song.tracks = {Track(0)
                     .Ev(60, 10, 30, 100)
                     .Ev(0x00, 10)              // writes nothing, 10 ticks
                     .Ev(0xFD, 0xFD)            // measure end: no time
                     .Ev(0xF6, 0x30, 'h', 'i')  // comment
                     .Ev(0xF7, 0x40, '!', '!')
                     .Ev(0xF5, 0x12, 0x01)
                     .Ev(0xFA, 0x50)            // unknown, 0xF5 and above: no time
                     .Ev(0xC0, 5)               // unknown below 0xF5: its step counts
                     .Ev(0xEB, 0, 7, 100)
                     .Ev(62, 10, 5, 100)
                     .End()};
  Smf smf = Convert(song);
  EXPECT_EQ(Notes(smf.tracks[0]), (std::vector<Note>{{0, 30, 0, 60, 100}, {25, 30, 0, 62, 100}}));
  auto comments = Find(smf.tracks[0], [](const SmfEvent& e) { return e.IsMeta(0x01); });
  ASSERT_EQ(comments.size(), 1u);
  EXPECT_EQ(comments[0]->tick, 20u);
  EXPECT_EQ(comments[0]->data, (Bytes{'h', 'i', '!', '!'}));
}

TEST(RcpConverter, ExclusiveMessagesAreBuiltWithChecksums) {
  RcpSong song;
  song.userExclusive[0] = {0x41, 0x10, 0x42, 0x12, 0x83, 0x40, 0x00, 0x7F, 0x00, 0x84, 0xF7};
  song.userExclusive[1] = {0x41, 0x80, 0x81, 0x82, 0xF0, 0x84};  // gg, ee, channel; 0xF0 dropped
  song.userExclusive[2] = Bytes(24, 0x01);                          // no 0xF7: all 24 bytes
  RcpTrack t = Track(3);
  t.Ev(0x90, 0).Ev(0x91, 0, 0x05, 0x06).Ev(0x92, 0);
  t.Ev(60, 10, 5, 100).Ev(0x98, 6, 0x11, 0x22);  // channel exclusive at tick 10
  t.Ev(0xF7, 9, 0x41, 0x10).Ev(0xF7, 9, 0x42, 0x12).Ev(0xF7, 9, 0x83, 0x40).Ev(0xF7, 9, 0x00, 0x7F);
  t.Ev(0xF7, 9, 0x80, 0x81).Ev(0xF7, 9, 0x84, 0xF7).Ev(0xF7, 9, 0x55, 0x66);  // the last after the end
  t.Ev(62, 10, 5, 100);
  t.Ev(0x98, 0);
  for (int i = 0; i < 100; ++i) t.Ev(0xF7, 0, 0x01, 0x02);  // 200 bytes: two-byte length
  t.Ev(0xDE, 0, 0x05, 0x06).Ev(0xDD, 0, 0x20, 0x01).Ev(0xDF, 0, 0x11, 0x16).Ev(0xDE, 0, 0x05, 0x06);
  song.tracks = {t.End()};
  std::vector<uint8_t> image = Image(song.Build());
  // The length byte 10 counts the data and the closing 0xF7.
  const Bytes user0 = {0xF0, 10, 0x41, 0x10, 0x42, 0x12, 0x40, 0x00, 0x7F, 0x00, 0x41, 0xF7};
  EXPECT_NE(std::search(image.begin(), image.end(), user0.begin(), user0.end()), image.end());

  Smf smf = qtest::ReadSmf(image);
  auto sx = Find(smf.tracks[0], IsSysEx);
  ASSERT_EQ(sx.size(), 7u);
  EXPECT_EQ(sx[1]->data, (Bytes{0x41, 0x05, 0x06, 0x03, 0x31, 0xF7}));
  EXPECT_EQ(sx[2]->data.size(), 25u);
  EXPECT_EQ(sx[3]->tick, 10u);  // written at the time of its 0x98
  EXPECT_EQ(sx[3]->data, (Bytes{0x41, 0x10, 0x42, 0x12, 0x40, 0x00, 0x7F, 0x11, 0x22, 0x0E, 0xF7}));
  EXPECT_EQ(sx[4]->data.size(), 201u);
  EXPECT_EQ(sx[5]->data, (Bytes{0x41, 0x10, 0x42, 0x12, 0x40, 0x00, 0x05, 0x06, 0x35, 0xF7}));
  EXPECT_EQ(sx[6]->data, (Bytes{0x41, 0x11, 0x16, 0x12, 0x20, 0x01, 0x05, 0x06, 0x54, 0xF7}));
  EXPECT_EQ(OnTicks(smf.tracks[0]), (std::vector<uint32_t>{0, 16}));
}

TEST(RcpConverter, ChannelCommandsAndRunningStatus) {
  RcpSong song;
  song.tracks = {Track(2)
                     .Ev(0xE2, 0, 5, 3)        // bank 3, program 5
                     .Ev(0xE1, 0, 7, 2)        // last bank, LSB 2, program 7
                     .Ev(0xEB, 0, 7, 100)
                     .Ev(0xEB, 0, 10, 64)      // running status
                     .Ev(0xEE, 0, 0, 64)
                     .Ev(0xEE, 0, 0, 65)       // running status
                     .Ev(0xEA, 0, 0x40)
                     .Ev(0xED, 0, 60, 0x30)
                     .Ev(0xEC, 0, 0x85)        // data bytes keep 7 bits
                     .Ev(60, 0, 5, 100)
                     .Ev(0xEB, 10, 7, 90)
                     .Ev(0xEB, 0, 7, 80)       // the note-off at 5 came between
                     .End()};
  Smf smf = Convert(song);
  std::vector<std::tuple<uint8_t, Bytes, bool>> got;
  for (const SmfEvent* e : Find(smf.tracks[0], IsChannelMessage)) got.emplace_back(e->status, e->data, e->running);
  std::vector<std::tuple<uint8_t, Bytes, bool>> want = {
      {0xB2, {0, 3}, false},   {0xB2, {0x20, 0}, true}, {0xC2, {5}, false},
      {0xB2, {0, 3}, false},   {0xB2, {0x20, 2}, true}, {0xC2, {7}, false},
      {0xB2, {7, 100}, false}, {0xB2, {10, 64}, true},  {0xE2, {0, 64}, false},
      {0xE2, {0, 65}, true},   {0xD2, {0x40}, false},   {0xA2, {60, 0x30}, false},
      {0xC2, {0x05}, false},   {0x92, {60, 100}, false}, {0xB2, {7, 90}, false},
      {0x92, {60, 0}, false},  {0xB2, {7, 80}, false}};
  EXPECT_EQ(got, want);
}

TEST(RcpConverter, ChannelChangeTempoAndKeyEvents) {
  RcpSong song;
  song.tempo = 100;
  song.tracks = {Track(0)
                     .Ev(60, 10, 20, 100)
                     .Ev(0xE6, 0, 18)        // port B channel 2; the sounding note ends on channel 1
                     .Ev(62, 10, 5, 100)
                     .Ev(0xE6, 0, 17)        // port B channel 1 plays
                     .Ev(64, 10, 5, 100)
                     .Ev(0xE6, 0, 0)         // no channel: silent
                     .Ev(65, 10, 5, 100)
                     .Ev(0xE7, 0, 128)       // twice the header tempo
                     .Ev(0xE7, 0, 0)         // 0 gives 120
                     .Ev(0xF5, 0x05, 0x03)   // key change from gg
                     .End(),
                 Track(1).Ev(0xF5, 0, 0x03).End()};  // only the first track changes key
  Smf smf = Convert(song);
  EXPECT_EQ(Notes(smf.tracks[0]), (std::vector<Note>{{0, 20, 0, 60, 100}, {10, 15, 1, 62, 100}, {20, 25, 0, 64, 100}}));
  std::vector<Bytes> ports;
  for (const SmfEvent* e : Find(smf.tracks[0], IsPort)) ports.push_back(e->data);
  EXPECT_EQ(ports, (std::vector<Bytes>{{1}, {1}, {1}}));
  std::vector<uint32_t> tempi;
  for (const SmfEvent* e : Find(smf.tracks[0], IsTempo)) tempi.push_back(Micros(*e));
  EXPECT_EQ(tempi, (std::vector<uint32_t>{600000, 300000, 500000}));
  auto keys = Find(smf.tracks[0], [](const SmfEvent& e) { return e.IsMeta(0x59); });
  ASSERT_EQ(keys.size(), 2u);
  EXPECT_EQ(keys[1]->data, (Bytes{3, 0}));
  EXPECT_TRUE(Find(smf.tracks[1], [](const SmfEvent& e) { return e.IsMeta(0x59); }).empty());

  // The slowest tempo a meta event can carry.
  song.tempo = 1;
  song.tracks = {Track(0).Ev(0xE7, 0, 64).End()};
  smf = Convert(song);
  for (const SmfEvent* e : Find(smf.tracks[0], IsTempo)) EXPECT_EQ(Micros(*e), 0xFFFFFFu);
}

TEST(RcpConverter, MutedTrackKeepsExclusiveTempoChannelChangeAndComments) {
  RcpSong song;
  song.userExclusive[0] = {0x41, 0x10, 0xF7};
  RcpTrack t = Track(17);
  t.mode = 1;
  t.Ev(60, 10, 5, 100).Ev(0xEB, 0, 7, 100).Ev(0xEC, 0, 5).Ev(0xE2, 0, 5, 3).Ev(0xEE, 0, 0, 64);
  t.Ev(0x90, 0).Ev(0x98, 0).Ev(0xF7, 0, 0x43, 0xF7).Ev(0xDE, 0, 1, 2);
  t.Ev(0xE7, 0, 64).Ev(0xE6, 0, 2).Ev(0xF6, 0, 'o', 'k').Ev(62, 10, 5, 100).End();
  song.tracks = {Track(0).End(), t};
  Smf smf = Convert(song);
  const SmfTrack& muted = smf.tracks[1];
  EXPECT_TRUE(Find(muted, IsChannelMessage).empty());
  EXPECT_EQ(Find(muted, IsSysEx).size(), 3u);
  EXPECT_EQ(Find(muted, IsTempo).size(), 1u);
  auto ports = Find(muted, IsPort);  // port B from the start, then the channel change
  ASSERT_EQ(ports.size(), 2u);
  EXPECT_EQ(ports[0]->data, Bytes{1});
  EXPECT_EQ(ports[1]->data, Bytes{0});
  EXPECT_EQ(Find(muted, [](const SmfEvent& e) { return e.IsMeta(0x01); }).size(), 1u);
  EXPECT_EQ(muted.events.back().tick, 20u);
}

TEST(RcpConverter, LoopsPlayTheirBodyRepeatCountTimes) {
  auto ticks = [](std::vector<qtest::RcpEvent> events) {
    RcpSong song;
    RcpTrack t = Track(0);
    t.events = std::move(events);
    song.tracks = {t.End()};
    return OnTicks(Convert(song).tracks[0]);
  };
  using V = std::vector<uint32_t>;
  for (uint8_t count : {0, 1, 2})
    EXPECT_EQ(ticks({{0xF9, 0}, {60, 10, 5, 100}, {0xF8, count}}), (V{0, 10})) << int{count};
  EXPECT_EQ(ticks({{0xF9, 0}, {60, 10, 5, 100}, {0xF8, 3}}), (V{0, 10, 20}));
  // Nested: the inner loop twice in each of three outer passes.
  EXPECT_EQ(ticks({{0xF9, 0}, {0xF9, 0}, {60, 10, 5, 100}, {0xF8, 2}, {62, 10, 5, 100}, {0xF8, 3}}),
            (V{0, 10, 20, 30, 40, 50, 60, 70, 80}));
  // A loop end with no loop start is ignored.
  EXPECT_EQ(ticks({{60, 10, 5, 100}, {0xF8, 3}, {62, 10, 5, 100}}), (V{0, 10}));
}

TEST(RcpConverter, RepeatedMeasuresAndChains) {
  auto keys = [](std::vector<qtest::RcpEvent> events) {
    RcpSong song;
    RcpTrack t = Track(0);
    t.events = std::move(events);
    song.tracks = {t.End()};
    std::vector<int> k;
    uint32_t expected = 0;
    for (const Note& n : Notes(Convert(song).tracks[0])) {
      k.push_back(n.key);
      EXPECT_EQ(n.on, expected);  // one note of 10 ticks per measure
      expected += 10;
    }
    return k;
  };
  using K = std::vector<int>;
  const qtest::RcpEvent m0 = {60, 10, 5, 100}, m1 = {62, 10, 5, 100}, fd = {0xFD, 0xFD};
  // Measure 1 again, then on after the 0xFC.
  EXPECT_EQ(keys({m0, fd, m1, fd, {0xFC, 1}, {64, 10, 5, 100}, fd}), (K{60, 62, 62, 64}));
  EXPECT_EQ(keys({m0, fd, m1, fd, {0xFC, 0}, fd}), (K{60, 62, 60}));
  // A 0xFC reached by the jump is followed on (a chain).
  EXPECT_EQ(keys({m0, fd, {0xFC, 0}, {0xFC, 1}, m1, fd}), (K{60, 60, 60, 62}));
  // A reference to itself takes the measure before; one past the end is ignored.
  EXPECT_EQ(keys({m0, fd, {0xFC, 1}, {0xFC, 9}, m1, fd}), (K{60, 60, 62}));
  // Measure numbers above 255 keep their high bits in gg.
  {
    std::vector<qtest::RcpEvent> ev;
    for (int i = 0; i < 300; ++i) {
      ev.push_back({static_cast<uint8_t>(i == 257 ? 70 : 60), 10, 5, 100});
      ev.push_back(fd);
    }
    ev.push_back({0xFC, 257 & 0xFF, 257 >> 8});
    K k = keys(ev);
    ASSERT_EQ(k.size(), 301u);
    EXPECT_EQ(k.back(), 70);
  }
  // Loops inside a repeated measure.
  EXPECT_EQ(keys({{0xF9, 0}, m0, {0xF8, 2}, fd, {0xFC, 0}, m1, fd}), (K{60, 60, 60, 60, 62}));
  // Two measures that refer to each other end after the chain limit.
  EXPECT_EQ(keys({m0, fd, {0xFC, 2}, {0xFC, 1}, m1, fd}), (K{60, 62}));
}

TEST(RcpConverter, ResultCodes) {
  RcpSong song;
  song.tracks = {Track(0).Ev(60, 10, 10, 100).Ev(62, 10, 20, 100).End()};  // always a note sounding
  ResultCode result;
  Convert(song, 18, &result);
  EXPECT_EQ(result.get(), 0);
  song.tracks = {Track(0).Ev(60, 10, 5, 100).Ev(62, 10, 20, 100).End()};  // a rest of 5 ticks
  Convert(song, 18, &result);
  EXPECT_EQ(result.get(), kRcpErrNoNoteSounding);
}

TEST(RcpConverter, RefusedSongsLeaveACodeAndATraceEntry) {
  qtest::TempDir dir;
  qtest::StartTrace(dir);
  RcpSong song;
  song.signature = "COME ON MUSIC RECOMPOSER RCP2.0";
  Bytes rcp = song.Build();
  std::vector<uint8_t> image = {1, 2, 3};
  ResultCode result;
  EXPECT_FALSE(RcpToSmfImage(rcp.data(), rcp.size(), false, &image, &result));
  EXPECT_TRUE(image.empty());
  EXPECT_EQ(result.get(), kRcpErrNotRecomposer);

  rcp = RcpSong().Build();
  EXPECT_FALSE(RcpToSmfImage(rcp.data(), 1000, false, &image, &result));
  EXPECT_EQ(result.get(), kRcpErrHeaderNotRead);
  EXPECT_FALSE(RcpToSmfImage(nullptr, 0, false, &image));
  EXPECT_EQ(qtest::TraceLines(), (std::vector<std::string>{"TRACE ON", "TQUORMSTR.ConverterInit",
                                                           "TQUORMSTR.ConverterInit", "TQUORMSTR.ConverterInit"}));
}

TEST(RcpConverter, BrokenSongsGiveWellFormedImages) {
  RcpSong song;
  song.tracks = {Track(0).Ev(60, 10, 5, 100).End(), Track(1).Ev(60, 10, 5, 100).End(),
                 Track(2).Ev(60, 10, 100, 100).Ev(62, 10, 5, 100).Ev(64, 10, 5, 100).End()};
  Bytes rcp = song.Build(3);
  // Cut inside the third track: its whole events are kept, its sounding
  // note is released, and the image counts the tracks it holds.
  Bytes cut(rcp.begin(), rcp.end() - 6);
  ResultCode result;
  Smf smf = qtest::ReadSmf(Image(cut, false, &result));
  EXPECT_EQ(result.get(), kRcpErrCut) << "what is there converts, with a warning";
  ASSERT_EQ(smf.trackCount, 3);
  EXPECT_EQ(Notes(smf.tracks[2]), (std::vector<Note>{{0, 100, 2, 60, 100}, {10, 15, 2, 62, 100}}));
  // Cut inside a size field: the song ends before that track.
  cut.assign(rcp.begin(), rcp.begin() + 1414 + 52 + 1);
  EXPECT_EQ(qtest::ReadSmf(Image(cut)).trackCount, 1);

  // A size field of 0, one below the track header and one past the file.
  for (uint16_t size : {0, 10, 60000}) {
    song.tracks[0].size = size;
    rcp = song.Build(18);
    EXPECT_NO_THROW(qtest::ReadSmf(Image(rcp))) << size;
  }

  // Loops that never end while writing nothing stop; loops that write too
  // much are cut inside the output limit and closed properly.
  for (bool notes : {false, true}) {
    RcpTrack t = Track(0);
    for (int i = 0; i < 8; ++i) t.Ev(0xF9, 0);
    if (notes) t.Ev(60, 1, 1, 100);
    for (int i = 0; i < 8; ++i) t.Ev(0xF8, 255);
    song.tracks = {t.End()};
    smf = qtest::ReadSmf(Image(song.Build()));
    const size_t limit = 4 * (44 + 4 * t.events.size()) + 64000;
    EXPECT_LE(smf.tracks[0].length, limit);
    if (notes) {
      EXPECT_GT(smf.tracks[0].length, limit - 2048);
      for (const Note& n : Notes(smf.tracks[0])) ASSERT_EQ(n.off, n.on + 1);
    }
  }
}

TEST(RcpConverter, ArbitraryBytesNeverBreakTheImage) {
  std::mt19937 rng(1234);
  RcpSong song;
  song.userExclusive[0] = {0x41, 0x80, 0x84};
  for (int t = 0; t < 18; ++t) {
    RcpTrack track = Track(static_cast<uint8_t>(t));
    for (int i = 0; i < 40; ++i) track.Ev(static_cast<uint8_t>(rng()), static_cast<uint8_t>(rng() % 8),
                                          static_cast<uint8_t>(rng()), static_cast<uint8_t>(rng()));
    song.tracks.push_back(track.End());
  }
  Bytes base = song.Build();
  const uint8_t interesting[] = {0xF7, 0xF8, 0xF9, 0xFC, 0xFD, 0xFE, 0x98, 0x90, 0x00, 0xFF, 0x01};
  for (int round = 0; round < 300; ++round) {
    Bytes rcp = base;
    for (int i = 0; i < 40; ++i) {
      size_t at = 1414 + rng() % (rcp.size() - 1414);
      rcp[at] = (rng() % 2) ? interesting[rng() % sizeof interesting] : static_cast<uint8_t>(rng());
    }
    if (round % 3 == 0) rcp.resize(1414 + rng() % (rcp.size() - 1414));
    std::vector<uint8_t> image;
    ASSERT_TRUE(RcpToSmfImage(rcp.data(), rcp.size(), round % 2 == 1, &image));
    ASSERT_NO_THROW(qtest::ReadSmf(image)) << "round " << round;
  }
}

// The real songs, against the same songs converted by rcm2smf: the note-ons
// (tick, channel, key, velocity), tempo changes and program changes agree.
TEST(RcpConverter, RealSongsMatchAnIndependentConverter) {
  using Key = std::tuple<uint32_t, int, int, int>;
  auto summary = [](const Smf& smf) {
    std::multiset<Key> notes, tempi, programs;
    for (const SmfTrack& t : smf.tracks)
      for (const SmfEvent& e : t.events) {
        if (e.IsNoteOn()) notes.insert({e.tick, e.Channel(), e.data[0], e.data[1]});
        if (IsTempo(e)) tempi.insert({e.tick, static_cast<int>(Micros(e)), 0, 0});
        if ((e.status & 0xF0) == 0xC0) programs.insert({e.tick, e.Channel(), e.data[0], 0});
      }
    return std::make_tuple(notes, tempi, programs);
  };
  // recomposer-file_test is an RCP 3.0 song under a ".rcp" name.
  for (const char* name : {"src_test_old", "sted-cli_test", "sted-cli_test_v1", "recomposer-file_test"}) {
    SCOPED_TRACE(name);
    std::string path = qtest::TestData(std::string("recomposer/") + name + ".rcp");
    Bytes rcp = qtest::ReadBytes(path);
    ASSERT_FALSE(rcp.empty());
    ASSERT_EQ(RcpKindOfName(path), 18);
    Smf ours = qtest::ReadSmf(Image(rcp));
    Smf theirs = qtest::ReadSmf(qtest::ReadBytes(qtest::TestData(std::string("recomposer/expected/") + name + ".rcm2smf.mid")));
    auto [notes, tempi, programs] = summary(ours);
    auto [theirNotes, theirTempi, theirPrograms] = summary(theirs);
    EXPECT_FALSE(notes.empty());
    EXPECT_EQ(notes, theirNotes);
    EXPECT_EQ(tempi, theirTempi);
    EXPECT_EQ(programs, theirPrograms);
    EXPECT_EQ(ours.division, theirs.division);
  }
}

TEST(RcpConverter, KindOfName) {
  EXPECT_EQ(RcpKindOfName("song.rcp"), 18);
  EXPECT_EQ(RcpKindOfName("/music/SONG.R36"), 36);
  EXPECT_EQ(RcpKindOfName("Song.Rcp"), 18);
  EXPECT_EQ(RcpKindOfName("song.mid"), 0);
  EXPECT_EQ(RcpKindOfName("rcp"), 0);
  EXPECT_EQ(RcpKindOfName("dir.rcp/song"), 0);
  EXPECT_EQ(RcpKindOfName("song.rcp.mid"), 0);
}

TEST(RcpConverter, TimeBasesAbove255TakeTheirHighByte) {
  RcpSong song;
  song.tracks = {Track(0).End()};
  Bytes bytes = song.Build();
  bytes[0x1C0] = 0xE0;  // 480 = 0x01E0
  bytes[0x1E7] = 0x01;
  Bytes image;
  ASSERT_TRUE(RcpToSmfImage(bytes.data(), bytes.size(), false, &image));
  EXPECT_EQ(image[12] << 8 | image[13], 480);
  EXPECT_EQ(RcpTimeBase(bytes.data()), 480);
}
