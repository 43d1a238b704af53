// The soft synth (device -1) rendered offline: it sounds, it acts on GM
// system on, GS reset, XG system on and GS data sets, its two ports keep
// their channels apart, its volume scales each side, and without an audio
// output it writes a WAV file in real time.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <thread>

#include "platform/softsynth/soft_synth.h"
#include "support/trace.h"
#include "tests/common/test_files.h"

namespace {

const std::vector<uint8_t> kGmOn = {0xF0, 0x7E, 0x7F, 0x09, 0x01, 0xF7};
const std::vector<uint8_t> kGsReset = {0xF0, 0x41, 0x10, 0x42, 0x12, 0x40, 0x00, 0x7F, 0x00, 0x41, 0xF7};
const std::vector<uint8_t> kXgOn = {0xF0, 0x43, 0x10, 0x4C, 0x00, 0x00, 0x7E, 0x00, 0xF7};

// The sound font these tests were written for, named by its own file: the
// machine's default GM font may be another one (FluidR3 once TiMidity++ or
// fluid-soundfont-gm is installed) with other samples and stereo images.
const char* const kTestSoundFont = "/usr/share/sounds/sf2/TimGM6mb.sf2";

SoftSynthConfig Offline() {
  SoftSynthConfig c;
  c.offline = true;
  c.soundFont = kTestSoundFont;
  return c;
}

bool HaveTestSoundFont() {
  if (std::filesystem::exists(kTestSoundFont)) return true;
  ADD_FAILURE() << "missing " << kTestSoundFont << " (package timgm6mb-soundfont)";
  return false;
}

struct Levels {
  double left = 0, right = 0;
};

// Root mean square of each side over the next frames.
Levels Render(SoftSynthSystem& synth, int frames) {
  std::vector<float> buf(static_cast<size_t>(frames) * 2);
  EXPECT_TRUE(synth.render(buf.data(), frames));
  Levels l;
  for (int i = 0; i < frames; ++i) {
    l.left += double(buf[2 * i]) * buf[2 * i];
    l.right += double(buf[2 * i + 1]) * buf[2 * i + 1];
  }
  l.left = std::sqrt(l.left / frames);
  l.right = std::sqrt(l.right / frames);
  return l;
}

MidiResult Long(MidiOutPort& port, const std::vector<uint8_t>& bytes) {
  return port.longMessage(bytes.data(), static_cast<uint32_t>(bytes.size()));
}

class SoftSynth : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!HaveTestSoundFont()) GTEST_SKIP();
    ASSERT_EQ(synth.open(kMidiMapper, &port), kMidiOk);
  }
  SoftSynthSystem synth{Offline()};
  std::unique_ptr<MidiOutPort> port;
};

}  // namespace

TEST_F(SoftSynth, AShortSequenceIsAudibleAndEndsWithItsNotes) {
  EXPECT_EQ(synth.output(), "offline");
  Levels quiet = Render(synth, 4410);
  EXPECT_LT(quiet.left, 1e-4);

  ASSERT_EQ(port->shortMessage(0x0000C0), kMidiOk);  // piano
  ASSERT_EQ(port->shortMessage(0x643C90), kMidiOk);  // C4
  ASSERT_EQ(port->shortMessage(0x644090), kMidiOk);  // E4
  ASSERT_EQ(port->shortMessage(0x644390), kMidiOk);  // G4
  Levels chord = Render(synth, 22050);
  EXPECT_GT(chord.left, 0.01);
  EXPECT_GT(chord.right, 0.01);

  // Reset ends every note (sustain pedal included).
  port->shortMessage(0x7F40B0);
  ASSERT_EQ(port->reset(), kMidiOk);
  Render(synth, 44100);  // the release tail
  Levels after = Render(synth, 4410);
  EXPECT_LT(after.left, chord.left / 20);
}

TEST_F(SoftSynth, GmSystemOnGsResetAndXgSystemOnChangeHowBanksAreRead) {
  auto select = [&](uint8_t msb, uint8_t program) {
    port->shortMessage(0xB0 | (uint32_t{msb} << 16));
    port->shortMessage(0xC0 | (uint32_t{program} << 8));
    return synth.channelPreset(0);
  };
  // GM: bank select is ignored.
  ASSERT_EQ(Long(*port, kGmOn), kMidiOk);
  EXPECT_EQ(select(8, 4).selectedBank, 0);
  // GS: bank select MSB chooses the bank (a variation the sound font lacks
  // falls back to the capital tone).
  ASSERT_EQ(Long(*port, kGsReset), kMidiOk);
  SoftSynthSystem::ChannelPreset gs = select(8, 4);
  EXPECT_EQ(gs.selectedBank, 8);
  EXPECT_EQ(gs.program, 4);
  // XG: MSB 127 makes a channel a drum channel.
  ASSERT_EQ(Long(*port, kXgOn), kMidiOk);
  SoftSynthSystem::ChannelPreset xg = select(127, 0);
  EXPECT_EQ(xg.bank, 128);
  // And GM system on puts it back to a melodic channel.
  ASSERT_EQ(Long(*port, kGmOn), kMidiOk);
  EXPECT_EQ(select(127, 0).bank, 0);
}

TEST_F(SoftSynth, GsPartMessagesAreHonouredOnlyAfterAGsReset) {
  // "Use for rhythm part" for part 1 (channel 1): F0 41 10 42 12 40 11 15 02 cs F7.
  const std::vector<uint8_t> rhythm = {0xF0, 0x41, 0x10, 0x42, 0x12, 0x40, 0x11, 0x15, 0x02, 0x18, 0xF7};
  ASSERT_EQ(Long(*port, kGmOn), kMidiOk);
  ASSERT_EQ(Long(*port, rhythm), kMidiOk);
  port->shortMessage(0x00C0);
  EXPECT_EQ(synth.channelPreset(0).bank, 0);  // in GM mode the GS message means nothing
  ASSERT_EQ(Long(*port, kGsReset), kMidiOk);
  ASSERT_EQ(Long(*port, rhythm), kMidiOk);
  port->shortMessage(0x00C0);
  EXPECT_EQ(synth.channelPreset(0).bank, 128);
}

TEST_F(SoftSynth, LongBufferMayCarryShortMessagesToo) {
  // One buffer: GM system on, then a running-status chord.
  std::vector<uint8_t> bytes = kGmOn;
  bytes.insert(bytes.end(), {0xC0, 0x00, 0x90, 0x3C, 0x64, 0x40, 0x64, 0x43, 0x64});
  ASSERT_EQ(Long(*port, bytes), kMidiOk);
  EXPECT_GT(Render(synth, 22050).left, 0.01);
  const std::vector<uint8_t> truncated = {0x90, 0x3C};  // a message cut short is dropped
  EXPECT_EQ(Long(*port, truncated), kMidiOk);
  EXPECT_EQ(port->longMessage(nullptr, 1), kMidiInvalidParam);
}

TEST_F(SoftSynth, DeviceVolumeScalesEachSideAndLeavesControllersAlone) {
  uint32_t v = 0;
  ASSERT_EQ(port->getVolume(&v), kMidiOk);
  EXPECT_EQ(v, 0xFFFFFFFFu);
  EXPECT_TRUE(synth.supportsVolume(kMidiMapper));

  // A second synth at full volume plays the same notes over the same frames,
  // so each side is compared with itself at the same moment: the sound's own
  // stereo image may move as it likes.
  SoftSynthSystem reference(Offline());
  std::unique_ptr<MidiOutPort> full;
  ASSERT_EQ(reference.open(kMidiMapper, &full), kMidiOk);
  for (MidiOutPort* p : {port.get(), full.get()}) {
    p->shortMessage(0x7F07B0);  // the song's own channel volume
    p->shortMessage(0x7F3C90);
    p->shortMessage(0x7F4390);
  }
  auto renderBoth = [&](int frames) {
    Levels ref = Render(reference, frames);
    return std::make_pair(Render(synth, frames), ref);
  };
  auto [same, ref0] = renderBoth(4410);
  ASSERT_GT(ref0.left, 0.01);
  EXPECT_NEAR(same.left, ref0.left, 1e-6);
  EXPECT_NEAR(same.right, ref0.right, 1e-6);

  ASSERT_EQ(port->setVolume(0x0000FFFF), kMidiOk);  // left only (balance 0)
  auto [left, ref1] = renderBoth(4410);
  EXPECT_NEAR(left.left, ref1.left, ref1.left * 0.01);
  EXPECT_EQ(left.right, 0.0);

  ASSERT_EQ(port->setVolume(0x80008000), kMidiOk);  // both at half
  auto [half, ref2] = renderBoth(4410);
  ASSERT_GT(ref2.right, 0.001);
  EXPECT_NEAR(half.left / ref2.left, half.right / ref2.right, 0.01);
  EXPECT_LT(half.left, ref2.left * 0.75);
  EXPECT_GT(half.left, ref2.left * 0.25);

  ASSERT_EQ(port->setVolume(0), kMidiOk);
  EXPECT_EQ(Render(synth, 4410).left, 0.0);
  full->close();

  // The volume belongs to the device: a new open finds it.
  port->close();
  std::unique_ptr<MidiOutPort> again;
  ASSERT_EQ(synth.open(kMidiMapper, &again), kMidiOk);
  ASSERT_EQ(again->getVolume(&v), kMidiOk);
  EXPECT_EQ(v, 0u);
  again->close();
  EXPECT_EQ(again->setVolume(1), kMidiInvalidHandle);
}

TEST(SoftSynthDevice, NamedAfterItsSoundFontAndMissingWithoutIt) {
  if (!HaveTestSoundFont()) GTEST_SKIP();
  SoftSynthSystem synth(Offline());
  EXPECT_EQ(synth.deviceCount(), 0);
  std::string name = synth.productName(kMidiMapper);
  EXPECT_EQ(name.rfind("FluidSynth ", 0), 0u) << name;
  EXPECT_NE(name.find(".sf2"), std::string::npos) << name;
  EXPECT_EQ(synth.productName(0), "");
  EXPECT_NE(synth.describe(kMidiMapper).find("sound font /"), std::string::npos);
  std::unique_ptr<MidiOutPort> port;
  EXPECT_EQ(synth.open(0, &port), kMidiBadDevice);

  SoftSynthConfig c = Offline();
  c.soundFont = "/nonexistent/none.sf2";
  SoftSynthSystem missing(c);
  EXPECT_EQ(missing.productName(kMidiMapper), "");
  EXPECT_FALSE(missing.supportsVolume(kMidiMapper));
  EXPECT_EQ(missing.open(kMidiMapper, &port), kMidiBadDevice);

  // A file that is not a sound font: the open fails and says so in the trace log.
  qtest::TempDir dir;
  qtest::StartTrace(dir);
  c.soundFont = dir.write("broken.sf2", "RIFF0000sfbk");
  SoftSynthSystem broken(c);
  EXPECT_EQ(broken.productName(kMidiMapper), "FluidSynth broken.sf2");
  testing::internal::CaptureStderr();
  EXPECT_EQ(broken.open(kMidiMapper, &port), kMidiError);
  EXPECT_NE(testing::internal::GetCapturedStderr().find("broken.sf2"), std::string::npos);
  auto lines = qtest::TraceLines();
  EXPECT_NE(std::find(lines.begin(), lines.end(), "SoftSynth sound font " + c.soundFont), lines.end());
}

TEST(SoftSynthDevice, WithoutAudioOutputItWritesAWavFileInRealTime) {
  if (!HaveTestSoundFont()) GTEST_SKIP();
  qtest::TempDir dir;
  qtest::StartTrace(dir);
  SoftSynthConfig c;
  c.audioDrivers = {};  // as if none could be opened
  c.wavPath = dir.file("out/synth.wav");
  SoftSynthSystem synth(c);
  std::unique_ptr<MidiOutPort> port;
  testing::internal::CaptureStderr();
  ASSERT_EQ(synth.open(kMidiMapper, &port), kMidiOk);
  std::string said = testing::internal::GetCapturedStderr();
  EXPECT_NE(said.find(c.wavPath), std::string::npos) << said;
  EXPECT_EQ(synth.output(), "WAV " + c.wavPath);
  auto lines = qtest::TraceLines();
  EXPECT_NE(std::find(lines.begin(), lines.end(), "SoftSynth no audio output, writing " + c.wavPath),
            lines.end());

  port->shortMessage(0x7F3C90);
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  port->shortMessage(0x003C80);
  ASSERT_EQ(port->close(), kMidiOk);
  EXPECT_EQ(synth.output(), "");

  std::vector<uint8_t> wav = qtest::ReadBytes(c.wavPath);
  ASSERT_GT(wav.size(), 44u);
  EXPECT_EQ(std::string(wav.begin(), wav.begin() + 4), "RIFF");
  EXPECT_EQ(std::string(wav.begin() + 8, wav.begin() + 16), "WAVEfmt ");
  auto le32 = [&](size_t at) {
    return uint32_t{wav[at]} | uint32_t{wav[at + 1]} << 8 | uint32_t{wav[at + 2]} << 16 |
           uint32_t{wav[at + 3]} << 24;
  };
  EXPECT_EQ(le32(24), 44100u);
  EXPECT_EQ(le32(40), wav.size() - 44);  // the header holds the final length
  EXPECT_EQ(le32(4), wav.size() - 8);
  // Real time: about 0.3 s of sound (loosely: 0.1 s to 3 s).
  double seconds = double(wav.size() - 44) / (44100 * 4);
  EXPECT_GT(seconds, 0.1);
  EXPECT_LT(seconds, 3.0);
  int peak = 0;
  for (size_t i = 44; i + 1 < wav.size(); i += 2)
    peak = std::max(peak, std::abs(int(int16_t(wav[i] | wav[i + 1] << 8))));
  EXPECT_GT(peak, 300);

  // An open that sends nothing (a volume query) leaves no file behind.
  std::filesystem::remove(c.wavPath);
  testing::internal::CaptureStderr();
  ASSERT_EQ(synth.open(kMidiMapper, &port), kMidiOk);
  testing::internal::GetCapturedStderr();
  uint32_t v;
  port->getVolume(&v);
  port->close();
  EXPECT_FALSE(std::filesystem::exists(c.wavPath));
}

namespace {

// A GS data set for device 16 with its checksum.
std::vector<uint8_t> GsDataSet(uint32_t address, const std::vector<uint8_t>& data) {
  std::vector<uint8_t> body = {static_cast<uint8_t>(address >> 16), static_cast<uint8_t>(address >> 8),
                               static_cast<uint8_t>(address)};
  for (uint8_t d : data) body.push_back(d);
  uint32_t sum = 0;
  for (uint8_t b : body) sum += b;
  std::vector<uint8_t> m = {0xF0, 0x41, 0x10, 0x42, 0x12};
  for (uint8_t b : body) m.push_back(b);
  m.push_back(static_cast<uint8_t>((0x80 - (sum & 0x7F)) & 0x7F));
  m.push_back(0xF7);
  return m;
}

// A synth at full volume playing only what `play` sends to its port A,
// rendered over the same frames as the synth under test.
class TwoPorts : public SoftSynth {
 protected:
  void SetUp() override {
    SoftSynth::SetUp();
    if (IsSkipped()) return;
    ASSERT_EQ(synth.open(kMidiMapper, &portB), kMidiOk);
    portB->servePort(1);
    ASSERT_EQ(reference.open(kMidiMapper, &refPort), kMidiOk);
  }
  std::pair<Levels, Levels> RenderBoth(int frames) {
    Levels ref = Render(reference, frames);
    return {Render(synth, frames), ref};
  }
  std::unique_ptr<MidiOutPort> portB;
  SoftSynthSystem reference{Offline()};
  std::unique_ptr<MidiOutPort> refPort;
};

}  // namespace

// Port B's channel 1 is channel 17 of the synth: silencing it and panning
// it hard left leaves port A's channel 1 exactly as a synth without port B.
TEST_F(TwoPorts, PortBChannelsNeverTouchPortAChannels) {
  portB->shortMessage(0x0007B0);  // volume 0
  portB->shortMessage(0x000AB0);  // pan hard left
  portB->shortMessage(0x0018C0);  // another program
  for (MidiOutPort* p : {port.get(), refPort.get()}) p->shortMessage(0x7F3C90);
  auto [a, ref] = RenderBoth(8820);
  ASSERT_GT(ref.left, 0.01);
  EXPECT_NEAR(a.left, ref.left, 1e-6);
  EXPECT_NEAR(a.right, ref.right, 1e-6);
  EXPECT_EQ(synth.channelPreset(0).program, 0);
  EXPECT_EQ(synth.channelPreset(16).program, 0x18);

  // A song whose only notes are on port B sounds.
  port->shortMessage(0x003C90);
  portB->shortMessage(0x7F07B0);
  portB->shortMessage(0x7F4090);
  EXPECT_GT(Render(synth, 8820).left, 0.01);
}

// The player's first and second outputs may both be the mapper: one open
// per port plays, so that no note sounds twice.
TEST_F(TwoPorts, ASecondOpenOfThePortDoesNotDoubleItsNotes) {
  std::unique_ptr<MidiOutPort> second;
  ASSERT_EQ(synth.open(kMidiMapper, &second), kMidiOk);
  for (MidiOutPort* p : {port.get(), second.get(), refPort.get()}) p->shortMessage(0x7F3C90);
  auto [a, ref] = RenderBoth(8820);
  EXPECT_NEAR(a.left, ref.left, 1e-6);
  // Once the first is closed the second plays.
  port->close();
  second->shortMessage(0x7F4390);
  refPort->shortMessage(0x7F4390);
  auto [b, ref2] = RenderBoth(8820);
  EXPECT_NEAR(b.left, ref2.left, 1e-6);
  second->close();
}

TEST_F(TwoPorts, GsDataSetsSetUpThePartsOfTheirPort) {
  ASSERT_EQ(Long(*port, kGsReset), kMidiOk);
  // Part 1 tone: bank 8, program 4; port B part 2 used for rhythm.
  ASSERT_EQ(Long(*port, GsDataSet(0x401100, {8, 4})), kMidiOk);
  ASSERT_EQ(Long(*portB, GsDataSet(0x401215, {1})), kMidiOk);
  EXPECT_EQ(synth.channelPreset(0).selectedBank, 8);
  EXPECT_EQ(synth.channelPreset(0).program, 4);
  EXPECT_EQ(synth.channelPreset(17).bank, 128);
  EXPECT_EQ(synth.channelPreset(1).bank, 0);
  // Part level 0 silences part 1; a wrong checksum is ignored.
  std::vector<uint8_t> bad = GsDataSet(0x401119, {100});
  bad[bad.size() - 2] ^= 1;
  ASSERT_EQ(Long(*port, GsDataSet(0x401119, {0})), kMidiOk);
  ASSERT_EQ(Long(*port, bad), kMidiOk);
  port->shortMessage(0x7F3C90);
  EXPECT_LT(Render(synth, 8820).left, 1e-4);
  // The master volume scales the whole module.
  ASSERT_EQ(Long(*port, GsDataSet(0x401119, {127})), kMidiOk);
  port->shortMessage(0x7F4090);
  ASSERT_GT(Render(synth, 4410).left, 0.01);
  ASSERT_EQ(Long(*port, GsDataSet(0x400004, {0})), kMidiOk);
  EXPECT_EQ(Render(synth, 4410).left, 0.0);
}

// A reset on port B is port B's own; one on port A starts the whole module.
TEST_F(TwoPorts, EachPortKeepsTheStyleOfItsReset) {
  ASSERT_EQ(Long(*port, kGsReset), kMidiOk);
  ASSERT_EQ(Long(*portB, kXgOn), kMidiOk);
  for (MidiOutPort* p : {port.get(), portB.get()}) {
    p->shortMessage(0x7F00B0);
    p->shortMessage(0x0000C0);
  }
  EXPECT_EQ(synth.channelPreset(0).selectedBank, 127);  // GS: a melodic variation
  EXPECT_EQ(synth.channelPreset(16).bank, 128);         // XG: a drum kit
  ASSERT_EQ(Long(*port, kGmOn), kMidiOk);
  portB->shortMessage(0x7F00B0);
  portB->shortMessage(0x0000C0);
  EXPECT_EQ(synth.channelPreset(16).selectedBank, 0);   // GM everywhere now
  EXPECT_EQ(synth.channelPreset(25).bank, 128);         // port B's channel 10 is drums again
}

TEST(SoftSynthDevice, FeaturesNameBothPortsAndTheModuleMessages) {
  if (!HaveTestSoundFont()) GTEST_SKIP();
  SoftSynthSystem synth(Offline());
  const std::vector<std::string> features = synth.features(kMidiMapper);
  ASSERT_FALSE(features.empty());
  EXPECT_NE(features[0].find("17-32"), std::string::npos);
  SoftSynthConfig missing = Offline();
  missing.soundFont = "/nonexistent.sf2";
  EXPECT_TRUE(SoftSynthSystem(missing).features(kMidiMapper).empty());
}
