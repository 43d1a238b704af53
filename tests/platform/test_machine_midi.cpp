// The machine's device list: the soft synth first, then ALSA sequencer
// ports (none without a sequencer), then raw device files; or the capture
// devices in their place.
#include <gtest/gtest.h>

#include <stdlib.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <vector>

#include "platform/mididevices/machine_midi.h"
#include "platform/softsynth/soft_synth.h"
#include "tests/common/test_files.h"

namespace {

// Sets QMIDI_CAPTURE for one test.
struct CaptureEnv {
  explicit CaptureEnv(const std::string& value) { setenv("QMIDI_CAPTURE", value.c_str(), 1); }
  ~CaptureEnv() { unsetenv("QMIDI_CAPTURE"); }
};

MidiDeviceConfig NoAlsa() {
  MidiDeviceConfig c;
  c.alsaSequencer = "/nonexistent/seq";
  return c;
}

}  // namespace

TEST(MachineMidi, MapperFirstThenSequencerPortsThenRawFiles) {
  qtest::TempDir dir;
  MidiDeviceConfig c = NoAlsa();
  c.rawDevices = {dir.write("a.mid", ""), dir.file("missing")};
  auto set = MakeMachineMidiDevices(c);
  ASSERT_EQ(set->deviceCount(), 2);
  if (std::filesystem::exists(kDefaultSoundFont)) {
    EXPECT_EQ(set->productName(kMidiMapper).rfind("FluidSynth ", 0), 0u);
    EXPECT_TRUE(set->supportsVolume(kMidiMapper));
  }
  EXPECT_EQ(set->productName(0), c.rawDevices[0]);
  EXPECT_EQ(set->describe(0), "raw MIDI device file " + c.rawDevices[0]);
  EXPECT_EQ(set->productName(1), "");  // listed, but not there now
  EXPECT_FALSE(set->supportsVolume(0));
  EXPECT_EQ(QDFindMidiDevice(*set, c.rawDevices[0]), 0);  // how --devices takes a path

  // The raw file gets the bytes.
  std::unique_ptr<MidiOutPort> port;
  ASSERT_EQ(set->open(0, &port), kMidiOk);
  port->shortMessage(0x7F3C90);
  port->close();
  EXPECT_EQ(qtest::ReadBytes(c.rawDevices[0]), (std::vector<uint8_t>{0x90, 0x3C, 0x7F}));
}

TEST(MachineMidi, NoSequencerMeansNoPortsAndNoWord) {
  qtest::TempDir dir;
  for (std::string path : {std::string("/nonexistent/seq"), dir.write("not-a-sequencer", "")}) {
    MidiDeviceConfig c;
    c.alsaSequencer = path;
    testing::internal::CaptureStderr();
    auto set = MakeMachineMidiDevices(c);
    EXPECT_EQ(set->deviceCount(), 0) << path;
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "") << path;
  }
}

TEST(MachineMidi, CaptureFolderReplacesTheWholeList) {
  qtest::TempDir dir;
  MidiDeviceConfig c = NoAlsa();
  c.rawDevices = {dir.write("a.mid", "")};
  c.captureFolder = dir.file("cap");
  auto set = MakeMachineMidiDevices(c);
  ASSERT_EQ(set->deviceCount(), 4);
  EXPECT_EQ(set->productName(kMidiMapper), "Capture mapper");
  for (int k = 0; k < 4; ++k) EXPECT_EQ(set->productName(k), "Capture " + std::to_string(k));
  EXPECT_EQ(set->productName(4), "");
  std::unique_ptr<MidiOutPort> port;
  ASSERT_EQ(set->open(kMidiMapper, &port), kMidiOk);
  port->close();
  ASSERT_EQ(set->open(3, &port), kMidiOk);
  port->reset();
  port->close();
  EXPECT_EQ(qtest::ReadText(dir.file("cap/mapper.log")), "open\nclose\n");
  EXPECT_EQ(qtest::ReadText(dir.file("cap/dev3.log")), "open\nreset\nclose\n");
  EXPECT_EQ(qtest::ReadText(dir.file("cap/dev0.log")), "");
}

TEST(MachineMidi, EnvironmentChoosesTheCaptureFolderUnlessTheConfigDoes) {
  qtest::TempDir dir;
  MidiDeviceConfig c = NoAlsa();
  EXPECT_EQ(MidiCaptureFolder(c), "");
  CaptureEnv env(dir.file("env"));
  EXPECT_EQ(MidiCaptureFolder(c), dir.file("env"));
  std::unique_ptr<MidiOutSystem> machine = MakeMachineMidiDevices(c);
  EXPECT_EQ(machine->productName(0), "Capture 0");
  std::unique_ptr<MidiOutPort> port;
  ASSERT_EQ(machine->open(1, &port), kMidiOk);
  port->close();
  EXPECT_EQ(qtest::ReadText(dir.file("env/dev1.log")), "open\nclose\n");

  c.captureFolder = dir.file("own");
  EXPECT_EQ(MidiCaptureFolder(c), dir.file("own"));
}

TEST(MachineMidi, DeviceSettingsFromTextKeepDefaultsForWrongValues) {
  qtest::TempDir dir;
  const std::string font = dir.write("my.sf2", "RIFF");
  MidiDeviceConfig c = NoAlsa();
  EXPECT_TRUE(ApplyMidiDeviceSettings(c, "", "", "").empty());
  EXPECT_EQ(c.soundFont, "");
  EXPECT_DOUBLE_EQ(c.synthGain, kDefaultSynthGain);
  EXPECT_TRUE(c.rawDevices.empty());

  EXPECT_TRUE(ApplyMidiDeviceSettings(c, font, "0.45", " /dev/midi1 ; /dev/snd/midiC1D0").empty());
  EXPECT_EQ(c.soundFont, font);
  EXPECT_DOUBLE_EQ(c.synthGain, 0.45);
  EXPECT_EQ(c.rawDevices, (std::vector<std::string>{"/dev/midi1", "/dev/snd/midiC1D0"}));

  // Each wrong value is named and leaves what was there.
  MidiDeviceConfig d = NoAlsa();
  auto problems = ApplyMidiDeviceSettings(d, dir.file("none.sf2"), "loud", "");
  ASSERT_EQ(problems.size(), 2u);
  EXPECT_NE(problems[0].find("none.sf2"), std::string::npos);
  EXPECT_NE(problems[1].find("loud"), std::string::npos);
  EXPECT_EQ(d.soundFont, "");
  EXPECT_DOUBLE_EQ(d.synthGain, kDefaultSynthGain);
  for (const char* gain : {"-0.1", "10.5", "0.3x", "nan", "inf", " 1"}) {
    EXPECT_EQ(ApplyMidiDeviceSettings(d, "", gain, "").size(), 1u) << gain;
    EXPECT_DOUBLE_EQ(d.synthGain, kDefaultSynthGain) << gain;
  }
  EXPECT_TRUE(ApplyMidiDeviceSettings(d, dir.path().string(), "", "").size() == 1)  // a folder
      << "a folder is not a sound font";
}

TEST(MachineMidi, SynthGainSetsTheSoftSynthLevel) {
  if (!std::filesystem::exists(kDefaultSoundFont)) GTEST_SKIP() << "no GM sound font installed";
  // Twice the gain, twice the amplitude of the same note.
  auto peak = [](double gain) {
    SoftSynthConfig config;
    config.offline = true;
    config.gain = gain;
    SoftSynthSystem synth(config);
    std::unique_ptr<MidiOutPort> port;
    EXPECT_EQ(synth.open(kMidiMapper, &port), kMidiOk);
    port->shortMessage(0x7F3C90);
    std::vector<float> buf(4410 * 2);
    EXPECT_TRUE(synth.render(buf.data(), 4410));
    float p = 0;
    for (float v : buf) p = std::max(p, std::abs(v));
    port->close();
    return p;
  };
  const float quiet = peak(0.2), loud = peak(0.4);
  ASSERT_GT(quiet, 0.001f);
  EXPECT_NEAR(loud / quiet, 2.0, 0.05);
}
