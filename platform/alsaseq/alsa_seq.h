// ALSA sequencer output ports as devices: every port of another client that
// takes writes and subscriptions (hardware MIDI ports, TiMidity, FluidSynth,
// Midi Through). Without a sequencer device file there are no devices, and
// nothing is said about it. The list is taken when the set is made and again
// on refresh().
#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "platform/midi_out.h"

class AlsaSeqMidiSystem final : public MidiOutSystem {
 public:
  explicit AlsaSeqMidiSystem(std::string sequencerDevice = "/dev/snd/seq");
  ~AlsaSeqMidiSystem() override;
  AlsaSeqMidiSystem(const AlsaSeqMidiSystem&) = delete;
  AlsaSeqMidiSystem& operator=(const AlsaSeqMidiSystem&) = delete;

  int deviceCount() override;
  std::string productName(int id) override;
  bool supportsVolume(int id) override { return false; }
  MidiResult open(int id, std::unique_ptr<MidiOutPort>* port) override;
  std::string describe(int id) override;
  void refresh() override;

  struct Target {
    int client = 0;
    int port = 0;
    std::string clientName;
    std::string portName;
    std::string productName;
  };
  struct Connection;

 private:
  std::string device_;
  std::mutex mutex_;
  std::vector<Target> targets_;
  Connection* connection_ = nullptr;  // our own client, made at the first open
};
