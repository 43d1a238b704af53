// The system MIDI mapper (device -1): a soft synth on FluidSynth with a
// General MIDI sound font, one module for both of the player's ports (port
// A on channels 1-16, port B on 17-32; see synth_module.h for the GM, GS
// and XG messages it takes). It plays through the default audio output
// (PulseAudio, which also serves PipeWire, then ALSA). When no audio output opens, it renders into a
// WAV file in real time instead and says where, on stderr and in the trace
// log. Its volume is a device-level gain per side applied to the rendered
// sound, so the song's own controllers stay as they are.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/midi_out.h"

inline constexpr const char* kDefaultSoundFont = "/usr/share/sounds/sf2/default-GM.sf2";
inline constexpr double kDefaultSynthGain = 0.2;
inline constexpr double kMaxSynthGain = 10.0;

struct SoftSynthConfig {
  std::string soundFont;                 // "" = kDefaultSoundFont
  // FluidSynth audio drivers tried in order; empty = straight to the WAV file.
  std::vector<std::string> audioDrivers = {"pulseaudio", "alsa"};
  std::string wavPath;                   // "" = qmidi-synth.wav beside the trace log
  // No output at all: the owner pulls the sound with render() (tests, tools).
  bool offline = false;
  int sampleRate = 44100;
  // Master gain of the synth (FluidSynth's synth.gain, 0..10); 0.2, its own
  // default, leaves headroom for dense songs, 0.4-0.5 is as loud as TiMidity++.
  double gain = kDefaultSynthGain;
};

class SoftSynthPort;

class SoftSynthSystem final : public MidiOutSystem {
 public:
  explicit SoftSynthSystem(SoftSynthConfig config = {});
  ~SoftSynthSystem() override;
  SoftSynthSystem(const SoftSynthSystem&) = delete;
  SoftSynthSystem& operator=(const SoftSynthSystem&) = delete;

  // Only the mapper: no numbered devices.
  int deviceCount() override { return 0; }
  // "FluidSynth <sound font file name>" while the sound font exists, else "".
  std::string productName(int id) override;
  bool supportsVolume(int id) override;
  // Several opens share the one synth; the sound output runs while any is open.
  MidiResult open(int id, std::unique_ptr<MidiOutPort>* port) override;
  std::string describe(int id) override;

  const std::string& soundFont() const { return soundFont_; }
  // Where the sound goes now: the audio driver's name, "WAV <path>",
  // "offline", or "" while no port is open.
  std::string output();
  // The WAV file the fallback writes.
  std::string wavPath() const;

  // Offline only: renders frames of stereo sound, interleaved left/right,
  // with the device volume applied. False when the synth is not running.
  bool render(float* interleaved, int frames);

  // What a channel (0-31: port A's 16, then port B's) plays now: the bank
  // the song selected (as the port's GM/GS/XG style reads the bank select
  // messages; 128 a drum kit), and the preset the synth resolved for it (a
  // missing bank falls back to bank 0).
  struct ChannelPreset {
    int selectedBank = -1;
    int bank = -1;
    int program = -1;
    std::string name;
  };
  ChannelPreset channelPreset(int channel);

  // The packed device volume (left low half, right high half).
  uint32_t volume() const { return volume_.load(); }

  std::vector<std::string> features(int id) override;

  struct Engine;
  friend class SoftSynthPort;

 private:
  MidiResult startLocked();  // loads the synth once, starts the output at the first open
  void stopLocked();         // stops the output at the last close
  void portClosed(SoftSynthPort* port, bool sentAnything);
  // Which open plays each port: the first still open that serves it.
  void assignRole(SoftSynthPort* port, int role);
  bool plays(const SoftSynthPort* port) const;
  void updatePlayers();
  void forget(SoftSynthPort* port);

  SoftSynthConfig config_;
  std::string soundFont_;
  std::mutex mutex_;
  std::unique_ptr<Engine> engine_;
  int openPorts_ = 0;
  bool sentSinceStart_ = false;
  std::atomic<uint32_t> volume_{0xFFFFFFFF};
  std::vector<SoftSynthPort*> servers_[2];
  std::atomic<SoftSynthPort*> players_[2] = {};
};
