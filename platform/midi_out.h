// MIDI output devices as the player sees them: a numbered list of outputs
// (device -1 is the "system MIDI mapper"), each opened as a port that takes
// short messages, whole system exclusive messages, resets and volume.
// Backends live in platform/<name>/; a program hands the device set it wants
// to each engine it makes. Std-only so that the core may use it.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// Results follow the old multimedia convention: 0 is success.
using MidiResult = int32_t;
constexpr MidiResult kMidiOk = 0;
constexpr MidiResult kMidiError = 1;          // unspecified failure
constexpr MidiResult kMidiBadDevice = 2;      // no such device number
constexpr MidiResult kMidiAllocated = 4;      // the device is busy (held by someone else)
constexpr MidiResult kMidiInvalidHandle = 5;  // a call on a port after its close
constexpr MidiResult kMidiNotSupported = 8;   // e.g. volume on a device without it
constexpr MidiResult kMidiInvalidParam = 11;
constexpr MidiResult kMidiStillPlaying = 65;  // close/unprepare must be retried

constexpr int kMidiMapper = -1;    // the system MIDI mapper (the soft synth here)
constexpr int kMidiNoDevice = 256; // an output left out of use

// One open output device.
class MidiOutPort {
 public:
  virtual ~MidiOutPort() = default;
  // A packed short message: status in bits 0-7, data 1 in 8-15, data 2 in 16-23.
  virtual MidiResult shortMessage(uint32_t message) = 0;
  // A complete system exclusive message, F0 ... F7, exactly `length` bytes.
  virtual MidiResult longMessage(const uint8_t* data, uint32_t length) = 0;
  // All notes off on every channel.
  virtual MidiResult reset() = 0;
  // Volume: left in the low 16 bits, right in the high 16 bits (0..0xFFFF each).
  virtual MidiResult getVolume(uint32_t* volume) = 0;
  virtual MidiResult setVolume(uint32_t volume) = 0;
  // Closing may report kMidiStillPlaying; the caller retries.
  virtual MidiResult close() = 0;
  // The player's port this open serves (0 A, 1 B). A device that plays both
  // ports itself (the soft synth) keeps them apart by it; others ignore it.
  virtual void servePort(int port) { (void)port; }
};

// A port that takes every message and sends nothing: the player's handle
// while MIDIDISABLE is set, and the tool's converting device. It has no
// volume, so volume calls say so rather than pretend.
class SilentMidiPort final : public MidiOutPort {
 public:
  MidiResult shortMessage(uint32_t) override { return kMidiOk; }
  MidiResult longMessage(const uint8_t*, uint32_t) override { return kMidiOk; }
  MidiResult reset() override { return kMidiOk; }
  MidiResult getVolume(uint32_t* volume) override {
    if (volume) *volume = 0;
    return kMidiNotSupported;
  }
  MidiResult setVolume(uint32_t) override { return kMidiNotSupported; }
  MidiResult close() override { return kMidiOk; }
};

// The list of output devices of this machine (or of a test).
class MidiOutSystem {
 public:
  virtual ~MidiOutSystem() = default;
  // Devices 0 .. count-1; the mapper (-1) is not counted.
  virtual int deviceCount() = 0;
  // Product name of device id (-1 the mapper); "" for an unknown id.
  virtual std::string productName(int id) = 0;
  virtual bool supportsVolume(int id) = 0;
  // Opens device id; on success *port holds the open device.
  virtual MidiResult open(int id, std::unique_ptr<MidiOutPort>* port) = 0;
  // What the device is, for people choosing one (backend and address, such
  // as "ALSA sequencer 128:0" or "raw MIDI /dev/midi1"); "" for an unknown id.
  virtual std::string describe(int id) { return {}; }
  // Looks for devices again (ports that came or went); numbers may change.
  virtual void refresh() {}
  // What the device can do beyond plain MIDI output, one phrase each (the
  // soft synth's ports and sound module features); empty for most.
  virtual std::vector<std::string> features(int id) { (void)id; return {}; }
};

// The number of the device whose product name is name (the mapper first,
// then 0, 1, ...); kMidiNotFound when none is. A raw MIDI device file's
// product name is its path, an ALSA port's its port name.
constexpr int kMidiNotFound = -2;
int QDFindMidiDevice(MidiOutSystem& system, const std::string& name);

// A set without devices (every open fails with kMidiBadDevice): what an
// engine given no devices uses. It keeps no state.
MidiOutSystem& QDNoMidiDevices();
