#include "platform/mididevices/machine_midi.h"

#include <charconv>
#include <cstdlib>
#include <filesystem>

#include "platform/alsaseq/alsa_seq.h"
#include "platform/capture/capture_midi.h"
#include "platform/midi_composite.h"
#include "platform/rawmidi/raw_midi.h"
#include "platform/softsynth/soft_synth.h"

std::string MidiCaptureFolder(const MidiDeviceConfig& config) {
  if (!config.captureFolder.empty()) return config.captureFolder;
  const char* env = std::getenv("QMIDI_CAPTURE");
  return env ? std::string(env) : std::string();
}

namespace {

// The capture set's mapper, as a set of its own (its numbered devices are
// listed through the capture part).
class MapperOnly final : public MidiOutSystem {
 public:
  explicit MapperOnly(MidiOutSystem* inner) : inner_(inner) {}
  int deviceCount() override { return 0; }
  std::string productName(int id) override { return id == kMidiMapper ? inner_->productName(id) : ""; }
  bool supportsVolume(int id) override { return id == kMidiMapper && inner_->supportsVolume(id); }
  MidiResult open(int id, std::unique_ptr<MidiOutPort>* port) override {
    return id == kMidiMapper ? inner_->open(id, port) : kMidiBadDevice;
  }
  std::string describe(int id) override { return id == kMidiMapper ? inner_->describe(id) : ""; }

 private:
  MidiOutSystem* inner_;
};

}  // namespace

std::vector<std::string> ApplyMidiDeviceSettings(MidiDeviceConfig& config,
                                                 const std::string& soundFont,
                                                 const std::string& synthGain,
                                                 const std::string& rawDevices) {
  std::vector<std::string> problems;
  if (!soundFont.empty()) {
    std::error_code ec;
    if (std::filesystem::is_regular_file(soundFont, ec))
      config.soundFont = soundFont;
    else
      problems.push_back("no such sound font file: " + soundFont);
  }
  if (!synthGain.empty()) {
    double gain = 0;
    const char* end = synthGain.data() + synthGain.size();
    auto [p, err] = std::from_chars(synthGain.data(), end, gain);
    if (err != std::errc() || p != end || !(gain >= 0 && gain <= kMaxSynthGain))
      problems.push_back("the synth gain must be a number from 0 to 10, not \"" + synthGain + "\"");
    else
      config.synthGain = gain;
  }
  for (std::string& path : SplitMidiDevicePaths(rawDevices)) config.rawDevices.push_back(path);
  return problems;
}

std::unique_ptr<MidiOutSystem> MakeMachineMidiDevices(const MidiDeviceConfig& config) {
  std::string capture = MidiCaptureFolder(config);
  std::vector<std::unique_ptr<MidiOutSystem>> parts;
  if (!capture.empty()) {
    auto set = std::make_unique<CaptureMidiSystem>(capture, config.captureDevices);
    auto mapper = std::make_unique<MapperOnly>(set.get());
    parts.push_back(std::move(set));
    return std::make_unique<CompositeMidiSystem>(std::move(mapper), std::move(parts));
  }
  SoftSynthConfig synth;
  synth.soundFont = config.soundFont;
  synth.gain = config.synthGain;
  synth.audioDrivers = config.audioDrivers;
  synth.wavPath = config.wavPath;
  parts.push_back(std::make_unique<AlsaSeqMidiSystem>(config.alsaSequencer));
  parts.push_back(std::make_unique<RawMidiSystem>(config.rawDevices));
  return std::make_unique<CompositeMidiSystem>(std::make_unique<SoftSynthSystem>(synth), std::move(parts));
}

