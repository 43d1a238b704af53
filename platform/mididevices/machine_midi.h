// The MIDI output devices of this machine, in the order the player numbers
// them: -1 the soft synth (the "system MIDI mapper"), then the ALSA
// sequencer's output ports, then the raw MIDI device files of the settings.
// With a capture folder (the config's, else the environment variable
// QMIDI_CAPTURE) the whole list is replaced by capture devices 0-3 and a
// capture mapper writing their logs into that folder.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/midi_out.h"

struct MidiDeviceConfig {
  std::string soundFont;                  // the mapper's .sf2; "" = the Debian GM sound font
  double synthGain = 0.2;                 // the mapper's master gain (FluidSynth synth.gain, 0..10)
  std::vector<std::string> rawDevices;    // raw MIDI device files, in device order
  std::string captureFolder;              // "" = $QMIDI_CAPTURE when set
  std::string wavPath;                    // the soft synth's WAV fallback; "" = beside the trace log
  std::vector<std::string> audioDrivers = {"pulseaudio", "alsa"};
  std::string alsaSequencer = "/dev/snd/seq";
  int captureDevices = 4;
};

// Takes the device settings a user keeps as text (the engine's settings
// "SoundFont", "SynthGain" and "RawMidiDevices", or the tool's options):
// a sound font file, the soft synth's gain (a decimal number 0 to 10) and
// raw MIDI device paths separated by ";". Empty text leaves the default.
// Returns what was wrong, one message each, for the caller to show; a wrong
// value leaves its default in force.
std::vector<std::string> ApplyMidiDeviceSettings(MidiDeviceConfig& config,
                                                 const std::string& soundFont,
                                                 const std::string& synthGain,
                                                 const std::string& rawDevices);

// The capture folder the config asks for: its own, else $QMIDI_CAPTURE; "" for none.
std::string MidiCaptureFolder(const MidiDeviceConfig& config);

// Builds the device set the config describes.
std::unique_ptr<MidiOutSystem> MakeMachineMidiDevices(const MidiDeviceConfig& config);

