// The soft synth as a sound module: one FluidSynth of 32 MIDI channels that
// two ports play, port A on channels 1-16 and port B on 17-32, so that a
// song for two ports sounds whole on one synth. It takes the resets of the
// play modes (GM system on, GS reset, XG system on) with the bank-select
// style each implies, and (while the port is in GS mode) the GS data-set
// messages addressed to device 16 that set up a part (tone, level, pan,
// effect sends, key shift, use for rhythm part) or the master volume; XG
// drum parts too.
//
// A reset on port A starts the whole module afresh (the player's reset
// sequence goes to port A's first output only, and must reach port B's
// channels too); a reset on port B resets port B's channels and style only,
// so that port B's own set-up does not undo port A's.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

typedef struct _fluid_synth_t fluid_synth_t;

class SoftSynthModule {
 public:
  static constexpr int kChannels = 32;

  // The synth must have kChannels MIDI channels; the module resets them.
  explicit SoftSynthModule(fluid_synth_t* synth);

  // A channel or system message of port (0 A, 1 B): status and its data.
  void shortMessage(int port, uint8_t status, const uint8_t* data);
  // A system exclusive message: the bytes between F0 and F7.
  void systemExclusive(int port, const uint8_t* data, size_t size);
  // Sustain off and every note of the port's channels released.
  void releasePort(int port);

  // The GS master volume (0-127), which scales the whole sound.
  int masterVolume() const { return masterVolume_.load(); }
  // The bank a channel's program change selects under the port's style
  // (128: the percussion bank), for tests and the tool.
  int selectedBank(int channel);

  // What the module does, one phrase each (for `qmidi-tool devices`).
  static std::vector<std::string> Features();

 private:
  enum class Style { kGm, kGs, kXg };
  struct Channel {
    uint8_t msb = 0, lsb = 0, program = 0;
    bool drum = false;
  };

  void reset(int port, Style style);
  void resetChannel(int ch, Style style);
  void controlChange(int ch, uint8_t controller, uint8_t value);
  void programChange(int ch, uint8_t program);
  int bankOf(int ch) const;
  void setDrum(int ch, bool drum);
  bool roland(int port, const uint8_t* d, size_t n);
  void gsParameter(int port, uint32_t address, uint8_t value, bool toneFollows);
  bool yamaha(int port, const uint8_t* d, size_t n);
  bool universal(int port, const uint8_t* d, size_t n);

  std::mutex mutex_;
  fluid_synth_t* synth_;
  Style style_[2] = {Style::kGs, Style::kGs};
  Channel channels_[kChannels];
  std::atomic<int> masterVolume_{127};
};
