// The converter: finding the header, track merge order, packed record
// layout, markers and the time table, and how bad songs are refused.
#include <gtest/gtest.h>

#include "support/result_code.h"
#include "support/tracked_memory.h"
#include "tests/song/song_fixture.h"

using namespace songtest;

namespace {

Track OneNote(uint32_t delta = 0) {
  Track t;
  t.at(delta, {0x90, 60, 100}).at(96, {0x80, 60, 0}).end();
  return t;
}

const Record* FindShort(const std::vector<Record>& rs, uint8_t status, uint8_t data1) {
  for (const Record& r : rs)
    if (r.isShort(status) && ((r.data >> 8) & 0xFF) == data1) return &r;
  return nullptr;
}

}  // namespace

class Converter : public SongTest {};

TEST_F(Converter, FindsTheHeaderBehindARiffWrapperOnlyOnAFourByteBoundary) {
  Bytes riff = RiffWrapped(Smf(480, {OneNote()}));
  ASSERT_EQ(std::string(riff.begin() + 20, riff.begin() + 24), "MThd");
  ASSERT_TRUE(Convert(riff));
  auto notes = ShortMessages(packed);
  EXPECT_NE(FindShort(notes, 0x90, 60), nullptr);

  // Two bytes more in front: the header starts at 22 and is not found.
  Bytes shifted = riff;
  shifted.insert(shifted.begin(), 2, uint8_t{0});
  song.setinFileName(dir.write("shifted.mid", shifted));
  song.ResetConverterState(3);
  EXPECT_FALSE(song.ConverterInit());
  EXPECT_EQ(ErrorCode(), 9109);
  EXPECT_TRUE(TraceHas("TQUORMSTR.ConverterInit"));
  EXPECT_FALSE(Convert(shifted));
  EXPECT_EQ(ErrorCode(), 9105);
  EXPECT_TRUE(TraceHas("TQUORMSTR.QGmstPreHeader"));
}

TEST_F(Converter, NormalisesTheDivision) {
  struct Case {
    uint16_t division;
    uint32_t file;
    int32_t normalised;
  } cases[] = {{48, 48, 960}, {96, 96, 768}, {120, 120, 960}, {480, 480, 960},
               {1000, 1000, 500}, {0, 960, 960}, {30000, 30000, 1875}, {1, 1, 16}};
  for (const Case& c : cases) {
    ASSERT_TRUE(Convert(Smf(c.division, {OneNote()}))) << c.division;
    EXPECT_EQ(song.getdwTimeDivision(), c.file) << c.division;
    EXPECT_EQ(song.getdwTickDivision(), c.normalised) << c.division;
    EXPECT_EQ(packed.division, static_cast<int32_t>(c.file));
    EXPECT_EQ(packed.tickDivision, c.normalised);
  }
}

TEST_F(Converter, PositionCodesFollowTheBarLengthOfTheTimeSignature) {
  for (auto [numerator, expected] : {std::pair{3, 10000}, std::pair{4, 2880}}) {
    Track t;
    t.timeSignature(0, static_cast<uint8_t>(numerator), 2).at(2880, {0x90, 60, 100}).end(10);
    ASSERT_TRUE(Convert(Smf(960, {t})));
    auto notes = ShortMessages(packed);
    const Record* note = FindShort(notes, 0x90, 60);
    ASSERT_NE(note, nullptr);
    ASSERT_GE(note->marker, 0);
    EXPECT_EQ(packed.timeTable()[note->marker].position, expected) << numerator << "/4";
    EXPECT_EQ(packed.timeTable()[note->marker].hyosi >> 24, static_cast<uint32_t>(numerator));
    EXPECT_EQ(packed.timeTable()[note->marker].ms, 1500u);
  }
}

TEST_F(Converter, OnATieTheHigherTrackComesFirst) {
  Track a, b, c;
  a.at(10, {0x90, 1, 1}).end();
  b.at(10, {0x91, 2, 1}).end();
  c.at(5, {0x92, 3, 1}).at(5, {0x92, 4, 1}).end();
  ASSERT_TRUE(Convert(Smf(480, {a, b, c})));
  auto notes = ShortMessages(packed);
  ASSERT_EQ(notes.size(), 4u);
  EXPECT_EQ(notes[0].data, 0x010392u);
  EXPECT_EQ(notes[1].data, 0x010492u);
  EXPECT_EQ(notes[2].data, 0x010291u);
  EXPECT_EQ(notes[3].data, 0x010190u);
  EXPECT_EQ(notes[3].tick, 10u);
}

TEST_F(Converter, LongDeltasAreCutIntoMarkerIntervals) {
  Track t;
  t.at(0, {0x90, 60, 100}).at(1000, {0x80, 60, 0}).end();
  ASSERT_TRUE(Convert(Smf(480, {t})));
  auto rs = Records(packed);
  // tempo, note-on, 8 interval markers, the note-off with delta 40
  ASSERT_GE(rs.size(), 11u);
  EXPECT_EQ(rs[0].flags, kRecTempo);
  EXPECT_EQ(rs[0].data, 500000u);
  EXPECT_EQ(rs[1].flags, kRecShort);
  for (int i = 2; i < 10; ++i) {
    EXPECT_EQ(rs[i].flags, 0x72) << i;
    EXPECT_EQ(rs[i].delta, 120u) << i;
  }
  EXPECT_EQ(rs[10].flags, kRecMarker | kRecDeltaWord);
  EXPECT_EQ(rs[10].delta, 40u);
  EXPECT_EQ(rs[10].data, 0x003C80u);
  EXPECT_EQ(rs[10].marker, 8);
  EXPECT_EQ(packed.timeTable()[8].ms, 1041u);  // 1000 ticks at 480/quarter, 120 bpm: 1041.67 ms
}

TEST_F(Converter, DeltaCodesAndThePortMetaEvent) {
  Track a, b;
  a.at(0, {0x90, 60, 1}).at(1, {0x90, 61, 1}).at(2, {0x90, 62, 1}).meta(3, 0x21, {1})
      .at(0, {0x90, 63, 1}).meta(0, 0x21, {0}).at(0, {0x90, 64, 1}).end();
  b.at(10, {0x91, 70, 1}).end();
  ASSERT_TRUE(Convert(Smf(480, {a, b})));
  auto notes = ShortMessages(packed);
  ASSERT_EQ(notes.size(), 6u);
  EXPECT_EQ(notes[0].flags, 0x00);
  EXPECT_EQ(notes[1].flags, kRecDelta1 | kRecMarker);
  EXPECT_EQ(notes[2].flags, kRecDelta2 | kRecMarker);
  EXPECT_EQ(notes[3].flags, kRecPortB);       // port B from the meta event on
  EXPECT_EQ(notes[4].flags, 0x00);            // port 0 puts the track back on A
  EXPECT_EQ(notes[5].flags, kRecDeltaWord | kRecMarker);  // the other track stays on A
  EXPECT_EQ(notes[5].delta, 4u);
}

TEST_F(Converter, SystemExclusiveRecordLayout) {
  Track t;
  t.at(0, {0x90, 60, 1}).sysex(1, {0x41, 0x10, 0x42, 0x12, 0x40, 0x01, 0x30, 0x00, 0xF7}).end();
  ASSERT_TRUE(Convert(Smf(480, {t})));
  auto rs = Records(packed);
  ASSERT_GE(rs.size(), 3u);
  const Record& sx = rs[2];
  EXPECT_EQ(sx.kind(), kRecLong);
  EXPECT_EQ(sx.flags, kRecLong | kRecDelta1 | kRecMarker);
  EXPECT_EQ(sx.data, 10u);  // status and 9 data bytes
  Bytes expected{0xF0, 0x41, 0x10, 0x42, 0x12, 0x40, 0x01, 0x30, 0x00, 0xF7, 0, 0};
  EXPECT_EQ(sx.payload, expected);
  EXPECT_EQ(rs[3].offset - sx.offset, 16u);  // one word, no delta word, 12 payload bytes
  EXPECT_EQ(packed.longMessageMax, 32u);
}

TEST_F(Converter, LongMessagesRaiseTheMaximumAndTooLongOnesAreLeftOut) {
  Bytes fits(1021, 0x11), tooLong(1100, 0x22);
  fits.push_back(0xF7);     // 1022 data bytes + F0 = 1023
  tooLong.push_back(0xF7);
  Track t;
  t.sysex(0, fits).sysex(5, tooLong).at(5, {0x90, 60, 1}).end();
  ASSERT_TRUE(Convert(Smf(480, {t})));
  auto rs = Records(packed);
  ASSERT_GE(rs.size(), 4u);
  EXPECT_EQ(rs[1].kind(), kRecLong);
  EXPECT_EQ(rs[1].data, 1023u);
  EXPECT_EQ(rs[1].payload.size(), 1024u);
  EXPECT_EQ(rs[2].kind(), kRecNop);  // the 1102-byte message keeps only its time
  EXPECT_EQ(rs[2].delta, 5u);
  EXPECT_TRUE(rs[3].isShort(0x90));
  EXPECT_EQ(rs[3].tick, 10u);
  EXPECT_EQ(packed.longMessageMax, 1024u);
}

TEST_F(Converter, TimeAndPositionAccumulateExactly) {
  // Division 96: one tick is 5.208 ms at 120 bpm; truncating each delta's
  // share loses 0.208 ms a tick. 96 single-tick deltas are exactly 500 ms.
  Track t;
  t.at(0, {0x90, 60, 1});
  for (int i = 0; i < 96; ++i) t.at(1, {0xB0, 1, static_cast<uint8_t>(i)});
  t.tempo(0, 1000000).at(48, {0x80, 60, 0}).end();
  ASSERT_TRUE(Convert(Smf(96, {t})));
  auto rs = Records(packed);
  const Record* tempo = nullptr;
  for (const Record& r : rs)
    if (r.kind() == kRecTempo && r.data == 1000000) tempo = &r;
  ASSERT_NE(tempo, nullptr);
  const Record* off = FindShort(rs, 0x80, 60);
  ASSERT_NE(off, nullptr);
  // The last control change (tick 96) carries the entry at 500 ms, quarter 1.
  const TimeTableEntry& quarter = packed.timeTable()[off->marker - 2];
  EXPECT_EQ(quarter.ms, 500u);
  EXPECT_EQ(quarter.position, 768);
  // Half a quarter at 60 bpm later: 1000 ms.
  EXPECT_EQ(packed.timeTable()[off->marker].ms, 1000u);
  EXPECT_EQ(packed.timeTable()[off->marker].position, 768 + 384);

  // Division 1000 normalises to 500: 3 ticks are 1.5 normalised ticks; the
  // half carries over instead of being lost each time.
  Track u;
  for (int i = 0; i < 1000; ++i) u.at(3, {0xB0, 1, 0});
  u.end();
  ASSERT_TRUE(Convert(Smf(1000, {u})));
  auto last = ShortMessages(packed).back();
  EXPECT_EQ(packed.timeTable()[last.marker].position, 1500);  // 3000 ticks = 1500 normalised
  EXPECT_EQ(packed.timeTable()[last.marker].ms, 1500u);
}

TEST_F(Converter, TheStreamStartsWithTheTempoAndEndsWithTwoClosingRecords) {
  Track t;
  t.tempo(0, 400000).at(0, {0x90, 60, 1}).end(480);
  ASSERT_TRUE(Convert(Smf(480, {t})));
  auto rs = Records(packed);
  ASSERT_GE(rs.size(), 4u);
  EXPECT_EQ(rs[0].flags, kRecTempo);
  EXPECT_EQ(rs[0].data, 500000u);
  EXPECT_EQ(rs[1].flags, kRecTempo);
  EXPECT_EQ(rs[1].data, 400000u);
  // 144 ticks at 480 per quarter: one 120-tick marker and the rest.
  const Record& end = rs.back();
  EXPECT_EQ(end.kind(), kRecNop);
  EXPECT_EQ(end.tick, 288u);
  EXPECT_EQ(packed.length, end.offset + 8);
  EXPECT_EQ(packed.bufferLength, packed.length + 1024);
  EXPECT_EQ(song.getdwMaxTimeIdx(), static_cast<int32_t>(packed.entries));
  EXPECT_EQ(song.getdwMaxTempo(), packed.endPosition());
  EXPECT_EQ(packed.endPosition(), 576);  // 288 ticks × 960/480
  EXPECT_EQ(packed.lengthMs(), 240u);

  // The song owns its memory: letting it go frees the stream and the table.
  const int live = QGTrLiveBlocks();
  packed = PackedSong();
  EXPECT_EQ(QGTrLiveBlocks(), live - 2);
}

TEST_F(Converter, EveryMarkerHasATimeTableEntry) {
  // Single-tick notes with running status: 3 input bytes per marker, more
  // entries than the table's first size holds.
  Track t;
  t.at(0, {0x90, 60, 1});
  for (int i = 0; i < 3000; ++i) t.at(1, {61, 1});
  t.end();
  ASSERT_TRUE(Convert(Smf(480, {t})));
  EXPECT_EQ(packed.entries, 3000u + 4);
  EXPECT_EQ(packed.timeTable()[99].position, 200);  // tick 100
  EXPECT_EQ(packed.timeTable()[2999].position, 12160);  // tick 3000: bar 1, tick 2160
}

TEST_F(Converter, ASecondSilenceBeyondTheGapLimitCutsTheSong) {
  // Tempo 10 s a quarter: the limit is 480 × 20000 / 100 = 96000 ticks.
  Track t;
  t.text(0, 0x01, std::string(4000, 'x')).tempo(0, 10000000).at(0, {0x90, 60, 1})
      .at(100000, {0x90, 61, 1}).at(1, {0x90, 62, 1}).at(100000, {0x90, 63, 1}).at(1, {0x90, 64, 1})
      .at(1, {0x90, 65, 1}).end();
  ASSERT_TRUE(Convert(Smf(480, {t})));
  EXPECT_EQ(ErrorCode(), 9142);
  EXPECT_TRUE(TraceHas("TQUORMSTR.AddEventToStreamBuffer"));
  auto notes = ShortMessages(packed);
  ASSERT_EQ(notes.size(), 4u);  // warned after the first gap, cut after the second
  EXPECT_EQ(notes.back().tick, 200001u);

  // One long silence alone only warns; a long song at a slow tempo is whole.
  Track slow;
  slow.tempo(0, 10000000);
  for (int i = 0; i < 300; ++i) slow.at(960, {0x90, 60, 1});
  slow.end();
  ASSERT_TRUE(Convert(Smf(480, {slow})));
  EXPECT_EQ(ErrorCode(), 0);
  EXPECT_EQ(ShortMessages(packed).size(), 300u);
}

TEST_F(Converter, AnAbsurdDeltaCutsTheSongInsteadOfFillingMemory) {
  // Division 1: a marker every 12 ticks; 2^28 ticks would take 180 MB of
  // marker records. The song ends before that event.
  Track t;
  t.at(0, {0x90, 60, 1}).at(0x0FFFFFFF, {0x90, 61, 1}).end();
  ASSERT_TRUE(Convert(Smf(1, {t})));
  auto notes = ShortMessages(packed);
  ASSERT_EQ(notes.size(), 1u);
  EXPECT_LT(packed.bufferLength, 8u << 20);
}

TEST_F(Converter, ATrackWhoseDataRunsOutEndsAndTheOthersGoOn) {
  Track a, b;
  a.at(0, {0x90, 60, 1}).at(10, {0x90, 61, 1});  // no end of track
  b.at(5, {0x91, 70, 1}).at(20, {0x91, 71, 1}).end();
  ASSERT_TRUE(Convert(Smf(480, {a, b})));
  EXPECT_EQ(ShortMessages(packed).size(), 4u);
  EXPECT_EQ(ErrorCode(), 9118);
  EXPECT_TRUE(TraceHas("TQUORMSTR.GetTrackVDWord"));

  Track cut;  // the last message is missing its second data byte
  cut.at(0, {0x90, 60, 1}).at(10, {0x90, 61});
  ASSERT_TRUE(Convert(Smf(480, {cut, b})));
  EXPECT_EQ(ShortMessages(packed).size(), 3u);
  EXPECT_EQ(ErrorCode(), 9129);
}

TEST_F(Converter, CorruptTracksFailTheSongWithCodesAndTraceEntries) {
  Track bad;
  bad.at(5, {0x90, 60, 1}).at(10, {0xF4}).end();
  EXPECT_FALSE(Convert(Smf(480, {bad})));
  EXPECT_EQ(ErrorCode(), 9103);
  EXPECT_TRUE(TraceHas("TQUORMSTR.GetTrackEvent"));
  EXPECT_TRUE(TraceHas("TQUORMSTR.ConvertToBuffer"));
  EXPECT_TRUE(TraceHas("TQUORMSTR.QGmstPreHeader"));
  EXPECT_TRUE(packed.empty());  // nothing to hand to the player
  EXPECT_EQ(song.getdwMaxTimeIdx(), 1);  // the first note's marker was counted

  // Called again after the failure.
  EXPECT_EQ(song.ConvertToBuffer(0), kConvAfterFailure);
  EXPECT_EQ(ErrorCode(), 9122);

  Track noStatus;  // a data byte with no running status
  noStatus.at(0, {0x3C, 0x40}).end();
  EXPECT_FALSE(Convert(Smf(480, {noStatus})));
  EXPECT_TRUE(TraceHas("TQUORMSTR.GetTrackEvent"));
}

TEST_F(Converter, RefusesBadHeadersAndTracks) {
  auto initCode = [&](const Bytes& file) {
    song.setinFileName(dir.write("bad.mid", file));
    song.ResetConverterState(3);
    result.clear();
    EXPECT_FALSE(song.ConverterInit());
    return ErrorCode();
  };
  Bytes shortHeader = Smf(480, {OneNote()});
  shortHeader[7] = 5;
  EXPECT_EQ(initCode(shortHeader), 9108);
  Bytes foreign = Smf(480, {OneNote()});
  foreign[14] = 'X';  // the first chunk is not "MTrk"
  EXPECT_EQ(initCode(foreign), 9113);
  EXPECT_EQ(initCode(Smf(480, {})), 9116);
  Track open;
  open.at(0x80, {});  // a delta that never ends
  open.bytes.resize(1);
  EXPECT_EQ(initCode(Smf(480, {open})), 9115);
  EXPECT_EQ(initCode(Bytes{'M', 'T', 'h', 'd', 0, 0}), 9117);
  EXPECT_EQ(initCode(Bytes{'n', 'o', 'p', 'e'}), 9109);
  // Nothing is left allocated by the refusals.
  EXPECT_EQ(QGTrLiveBlocks(), 0);
}

TEST_F(Converter, ReadsAtMost36Tracks) {
  std::vector<Track> tracks(37);
  for (int i = 0; i < 37; ++i) tracks[i].at(static_cast<uint32_t>(i), {0x90, static_cast<uint8_t>(i), 1}).end();
  ASSERT_TRUE(Convert(Smf(480, tracks)));
  auto notes = ShortMessages(packed);
  ASSERT_EQ(notes.size(), 36u);
  EXPECT_EQ((notes.back().data >> 8) & 0xFF, 35u);
}

TEST_F(Converter, ModeZeroPacksNoMarkers) {
  Track t;
  t.at(0, {0x90, 60, 1}).at(1000, {0x80, 60, 0}).end();
  song.setinFileName(dir.write("song.mid", Smf(480, {t})));
  ASSERT_TRUE(song.Convert(0, 0, &packed));
  EXPECT_EQ(song.getdwMaxTimeIdx(), 0);
  for (const Record& r : Records(packed)) EXPECT_EQ(r.flags & kRecMarker, 0) << r.offset;
}

namespace {
bool FakeRecomposer(const RcpImageRequest& request, RcpImage* image) {
  if (request.size < 4 || request.v2Tracks == 36) return false;
  Track t;
  t.at(0, {0x90, request.data[0], 1}).end();
  image->smf = Smf(48, {t});
  return true;
}
}  // namespace

TEST_F(Converter, RecomposerSongsGoThroughTheImageBuilder) {
  Bytes rcp(2000, 0);
  rcp[0] = 64;
  song.setRcpImageBuilder(&FakeRecomposer);
  ASSERT_TRUE(Convert(rcp, 0, "SONG.RCP"));
  EXPECT_EQ(song.getdwTickDivision(), 960);
  ASSERT_EQ(ShortMessages(packed).size(), 1u);
  EXPECT_EQ(ShortMessages(packed)[0].data, 0x014090u);
  EXPECT_FALSE(Convert(rcp, 0, "SONG.R36"));
}
