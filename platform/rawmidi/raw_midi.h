// Raw MIDI device files as output devices: ALSA raw MIDI devices
// (/dev/snd/midiC1D0), OSS-style /dev/midi*, serial ports, ptys, fifos.
// The bytes of every message are written as they are sent; a terminal
// (serial port, pty) is switched to raw mode first so that no byte is
// translated.
#pragma once

#include <string>
#include <vector>

#include "platform/midi_out.h"

class RawMidiSystem final : public MidiOutSystem {
 public:
  explicit RawMidiSystem(std::vector<std::string> paths);

  int deviceCount() override;
  // The file's path; "" for a file that does not exist (now).
  std::string productName(int id) override;
  bool supportsVolume(int id) override { return false; }
  MidiResult open(int id, std::unique_ptr<MidiOutPort>* port) override;
  std::string describe(int id) override;

 private:
  std::vector<std::string> paths_;
};

// The device files listed in a settings value: paths separated by ';' or
// ',' (blanks around them dropped).
std::vector<std::string> SplitMidiDevicePaths(const std::string& value);
