// The display values, totals and level meter read on the window thread,
// and the device volume and balance.
#include <gtest/gtest.h>

#include "engine/player/output_status.h"
#include "engine/player/tmidiexe.h"
#include "tests/player/player_fixture.h"

using namespace playertest;

namespace {

constexpr uint32_t k44 = 0x04020000;

class OutputStatus : public PlayerTest {
 protected:
  void SetUp() override {
    PlayerTest::SetUp();
    player.setSongInfo(960, k44);
  }
  // A song of 4/4 at a normalised division of 960: markers every beat.
  void SetTable() {
    const std::vector<TimeTableEntry> table = {{0, 0, k44},         {500, 960, k44},   {1000, 1920, k44},
                                               {1500, 2880, k44},   {2000, 10000, k44}, {4000, 20000, k44},
                                               {4500, 20960, 0x03020000}};
    const uint8_t nop[4] = {0, 0, 0, kRecNop};
    P().DEVICEID1A = 0;
    ASSERT_TRUE(player.open());
    ASSERT_TRUE(player.take(PackedSongOf(nop, 4, table.data(), static_cast<uint32_t>(table.size()), 960)));
  }
  TMIDIEXE& p = props;
};

}  // namespace

TEST_F(OutputStatus, DisplayValuesFollowTheirSelectors) {
  SetTable();
  P().markerIndex = 6;  // bar 2, beat 1
  p.setMIDICURRENTTIME1(kQDShowPosition);
  p.setMIDICURRENTTIME2(kQDShowMilliseconds);
  p.setMIDITIMEOPTION1(kQDShowTempo);
  p.setMIDITIMEOPTION2(kQDShowTimeSignature);
  EXPECT_EQ(p.getMIDICURRENTTIME1(), 21000);
  EXPECT_EQ(p.getMIDICURRENTTIME2(), 4500);
  EXPECT_EQ(p.getMIDITIMEOPTION1(), 120);
  EXPECT_EQ(p.getMIDITIMEOPTION2(), 4004);
  P().markerIndex = 3;
  EXPECT_EQ(p.getMIDICURRENTTIME1(), 3000);  // bar 0, beat 3
  // Selectors 7 and -1 read milliseconds, like 0.
  p.setMIDICURRENTTIME1(7);
  EXPECT_EQ(p.getMIDICURRENTTIME1(), 1500);
  p.setMIDICURRENTTIME1(-1);
  EXPECT_EQ(p.getMIDICURRENTTIME1(), 1500);
  // Outside the table, and without one: 0.
  P().markerIndex = 7;
  EXPECT_EQ(p.getMIDICURRENTTIME1(), 0);
  p.setMIDICURRENTTIME1(kQDShowPosition);
  EXPECT_EQ(p.getMIDICURRENTTIME1(), 0);
  player.forgetSong();
  P().markerIndex = 1;
  EXPECT_EQ(p.getMIDICURRENTTIME1(), 0);
  // The accumulator.
  P().tickAccumulator = 37;
  p.setMIDICURRENTTIME2(kQDShowAccumulator);
  EXPECT_EQ(p.getMIDICURRENTTIME2(), 37);
  EXPECT_EQ(player.displayValue(5), 0);
}

TEST_F(OutputStatus, TempoAndTimeSignatureValues) {
  p.setMIDITIMEOPTION1(kQDShowTempo);
  for (auto [tempo, bpm] : {std::pair{500000, 120}, {600000, 100}, {700000, 86}, {0, 120}, {1, 60000000},
                            {0xFFFFFF, 4}}) {
    P().tempo = tempo;
    EXPECT_EQ(p.getMIDITIMEOPTION1(), bpm) << tempo;
  }
  p.setMIDITIMEOPTION2(kQDShowTimeSignature);
  for (auto [hyosi, value] : {std::pair{0x06030000u, 6008}, {0x03020000u, 3004}, {0x02010000u, 2002},
                              {0x07040000u, 7016}, {0x05050000u, 5032}, {0x09060000u, 9064},
                              {0x00030000u, 4008}, {0x04070000u, 4004}, {0x0C000000u, 12004}}) {
    player.setSongInfo(960, hyosi);
    EXPECT_EQ(p.getMIDITIMEOPTION2(), value) << std::hex << hyosi;
  }
  EXPECT_EQ(QDPositionValue(20960, 0), 21000);  // no division handed over: 960
  EXPECT_EQ(QDPositionValue(10240, 480), 10500);
}

TEST_F(OutputStatus, TotalsOfTheFirstTwoValues) {
  SetTable();
  P().totalTicks = 12345;
  struct Case {
    int32_t selector, total;
  } cases[] = {{kQDShowPosition, 21000}, {kQDShowAccumulator, 12345}, {kQDShowTempo, 0x03020000},
               {kQDShowMilliseconds, 4500}, {kQDShowLevel, 4500}, {kQDShowTimeSignature, 4500}};
  for (const Case& c : cases) {
    p.setMIDICURRENTTIME1(c.selector);
    p.setMIDICURRENTTIME2(c.selector);
    EXPECT_EQ(p.getMIDITOTALTIME1(), c.total) << c.selector;
    EXPECT_EQ(p.getMIDITOTALTIME2(), c.total) << c.selector;
  }
  player.forgetSong();
  p.setMIDICURRENTTIME1(kQDShowTempo);
  EXPECT_EQ(p.getMIDITOTALTIME1(), 120);
  p.setMIDICURRENTTIME1(kQDShowPosition);
  EXPECT_EQ(p.getMIDITOTALTIME1(), 0);
  p.setMIDICURRENTTIME1(kQDShowMilliseconds);
  EXPECT_EQ(p.getMIDITOTALTIME1(), 0);
}

TEST_F(OutputStatus, LevelOfOneChannelOrTheLoudestDecaysOnEachRead) {
  TMIDIEXEState& s = P();
  for (auto& v : s.lastVolume) v = kQDDefaultVolume;
  s.levels[3] = 100 << 16;                 // port A channel 4: 100 × 100
  s.levels[16 + 5] = 120 << 16;            // port B channel 6: 120 × 64
  s.lastVolume[16 + 5] = 0x4007B5;
  s.levels[16 + 9] = 90 << 16;             // port B channel 10: 90 × 100
  p.setOUTSTATUSCH(40);
  EXPECT_EQ(p.getOUTSTATUSLEVEL(), 10000);
  EXPECT_EQ(s.levels[3].load() >> 16, 98);  // 100 × 63/64, rounded down
  EXPECT_EQ(p.getOUTSTATUSLEVEL(), 9800);   // smaller the second time
  p.setOUTSTATUSCH(21);
  EXPECT_EQ(p.getOUTSTATUSLEVEL(), (120 * 63 / 64 * 63 / 64) * 64);
  p.setOUTSTATUSCH(0);
  EXPECT_EQ(p.getOUTSTATUSLEVEL(), 0);
  // Repeated reads fall to nothing.
  p.setOUTSTATUSCH(-1);
  int32_t last = p.getOUTSTATUSLEVEL();
  for (int i = 0; i < 400; ++i) {
    int32_t now = p.getOUTSTATUSLEVEL();
    EXPECT_LE(now, last);
    last = now;
  }
  EXPECT_EQ(last, 0);
  // Selector 5 of a display value reads the level too.
  s.levels[31] = 127 << 16;
  s.lastVolume[31] = 0x7F07BF;
  p.setMIDICURRENTTIME2(kQDShowLevel);
  EXPECT_EQ(p.getMIDICURRENTTIME2(), 16129);
}

TEST_F(OutputStatus, VolumeAndBalanceArithmetic) {
  EXPECT_EQ(QDPackVolume(100, 50), 0xFFFFFFFFu);
  EXPECT_EQ(QDPackVolume(100, 0), 0x0000FFFFu);  // balance 0 silences the right
  EXPECT_EQ(QDPackVolume(100, 100), 0xFFFF0000u);
  EXPECT_EQ(QDPackVolume(50, 75), 32767u << 16 | 16383u);
  EXPECT_EQ(QDPackVolume(50, 25), 16383u << 16 | 32767u);
  EXPECT_EQ(QDPackVolume(0, 50), 0u);
  EXPECT_EQ(QDPackVolume(150, -3), QDPackVolume(100, 0));  // out of range: clamped
  struct Case {
    uint32_t packed;
    int32_t volume, balance;
  } cases[] = {{0xFFFFFFFFu, 99, 50}, {0x0000FFFFu, 99, 0}, {0xFFFF0000u, 99, 100},
               {0x7FFF3FFFu, 49, 76}, {0x3FFF7FFFu, 49, 24}, {0, 0, 50}};
  for (const Case& c : cases) {
    int32_t v = -1, b = -1;
    QDUnpackVolume(c.packed, &v, &b);
    EXPECT_EQ(v, c.volume) << std::hex << c.packed;
    EXPECT_EQ(b, c.balance) << std::hex << c.packed;
  }
}

TEST_F(OutputStatus, DeviceVolumeReachesEveryOutputThatSupportsIt) {
  TMIDIEXEState& s = P();
  s.DEVICEID1A = 0;
  s.DEVICEID2A = 1;
  s.DEVICEID1B = 2;
  s.DEVICEID2B = kMidiNoDevice;
  devices.volumeDevices = {1, 2, 3};
  ASSERT_TRUE(player.open());
  player.close();  // closed again: volume calls open the devices themselves
  s.DEVICEID1A = 0;
  devices.clear();
  p.setDEVBALANCE(0);
  p.setDEVVOLUME(100);
  EXPECT_TRUE(devices.log(0).empty());  // no volume support
  EXPECT_EQ(devices.log(1).back().what, "close");
  EXPECT_EQ(devices.messages(1).size(), 0u);
  std::vector<std::string> want = {"volume 0000ffff", "volume 0000ffff"};
  auto volumes = [&](int id) {
    std::vector<std::string> out;
    for (const Received& r : devices.log(id))
      if (r.what.rfind("volume", 0) == 0) out.push_back(r.what);
    return out;
  };
  EXPECT_EQ(volumes(1), want);
  EXPECT_EQ(volumes(2), want);
  EXPECT_TRUE(volumes(3).empty());  // its output is not in use

  // Reading: the first output with volume that can be read.
  devices.unreadable = {1};
  devices.volume[3] = 0x7FFF3FFF;  // device 2
  EXPECT_EQ(p.getDEVVOLUME(), 49);
  EXPECT_EQ(p.getDEVBALANCE(), 76);  // 100 - 16383 × 50 / 32767, in integers
  // Nothing readable: the stored values stay.
  devices.unreadable = {1, 2};
  EXPECT_EQ(p.getDEVVOLUME(), 49);
  // Open outputs are used through their handles.
  devices.unreadable.clear();
  ASSERT_TRUE(player.open());
  int opens = devices.opens;
  p.setDEVVOLUME(50);
  EXPECT_EQ(devices.opens, opens);
  EXPECT_EQ(devices.volume[2], QDPackVolume(50, 76));  // device 1
  EXPECT_EQ(devices.volume[3], QDPackVolume(50, 76));  // device 2
  // MIDIDISABLE: no device is touched.
  player.close();
  p.setMIDIDISABLE(1);
  devices.clear();
  p.setDEVVOLUME(10);
  EXPECT_EQ(p.getDEVVOLUME(), 10);
  for (int id = -1; id < 4; ++id) EXPECT_TRUE(devices.log(id).empty());
}

TEST_F(OutputStatus, StoredPropertiesKeepWhatIsWritten) {
  EXPECT_EQ(p.getTIMERMIDI(), 4);
  EXPECT_EQ(p.getTIMERWRD(), 16);
  EXPECT_EQ(p.getTIMEROUTSTATUS(), 32);
  EXPECT_EQ(p.getSTEPTIME(), 1);
  p.setTIMEROUTSTATUS(-7);
  p.setTIMERSCORE(12);
  p.setSTEPTIME(9);
  p.setOUTSTATUSENABLE(0);
  p.setEXTOPTION1(64);
  p.setEXTOPTION2(-2);
  p.setEXTOPTION3(3);
  p.setEXTOPTION4(0x101);
  EXPECT_EQ(p.getTIMEROUTSTATUS(), -7);
  EXPECT_EQ(p.getTIMERSCORE(), 12);
  EXPECT_EQ(p.getSTEPTIME(), 9);
  EXPECT_EQ(p.getOUTSTATUSENABLE(), 0);
  EXPECT_EQ(p.getEXTOPTION1(), 64);
  EXPECT_EQ(p.getEXTOPTION2(), -2);
  EXPECT_EQ(p.getEXTOPTION3(), 3);
  EXPECT_EQ(p.getEXTOPTION4(), 0x101);
  TQUORONPU score;
  EXPECT_EQ(score.SCOREHEIGHT, 100);
  EXPECT_EQ(score.SCOREWIDTH, 400);
  p.setRESETMODE(5);
  EXPECT_EQ(p.getRESETMODE(), 5);
  EXPECT_EQ(P().resetKind.load(), 3);  // the SC-55 map sequence
  p.setERRORCODE(9406);
  EXPECT_EQ(p.getERRORCODE(), 9406);
  p.setTimeDiv(96);
  EXPECT_EQ(p.getTimeDiv(), 96);
}
