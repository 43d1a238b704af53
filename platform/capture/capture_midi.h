// Capture devices: instead of sounding, each device writes what it receives
// into a log file, for tests and for diagnosing what a song sends where.
//
// In the folder, device k writes "dev<k>.log" and the mapper (-1)
// "mapper.log". The set's first open creates the folder and empties all its
// files, so that a run's logs hold that run only (listing the devices
// touches nothing). One line per
// message: the send time in microseconds, one space, the message bytes as
// lower-case hex without spaces ("1234567 903c64"). Short messages take
// their real length (1 to 3 bytes by status). Calls that are not messages
// are lines of their own: "open", "close", "reset", and "volume " with the
// eight hex digits of the packed volume (right in the high half).
//
// The send time comes from the clock given, by default the system's
// monotonic clock (the real timer's; a test under a manual timer gives the
// manual timer's).
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/midi_out.h"

class CaptureMidiSystem final : public MidiOutSystem {
 public:
  explicit CaptureMidiSystem(std::string folder, int devices = 4,
                             std::function<int64_t()> clock = {});
  ~CaptureMidiSystem() override;
  CaptureMidiSystem(const CaptureMidiSystem&) = delete;
  CaptureMidiSystem& operator=(const CaptureMidiSystem&) = delete;

  int deviceCount() override;
  std::string productName(int id) override;
  bool supportsVolume(int id) override;
  MidiResult open(int id, std::unique_ptr<MidiOutPort>* port) override;
  std::string describe(int id) override;

  const std::string& folder() const { return folder_; }
  // The log file of device id ("" for an unknown id).
  std::string logPath(int id) const;
  // Creates the folder and empties the files (once); false when they cannot
  // be created, and every open then fails.
  bool prepare();

  struct Device;

 private:
  Device* device(int id) const;

  std::string folder_;
  std::function<int64_t()> clock_;
  std::vector<std::unique_ptr<Device>> devices_;  // [0] is the mapper
  std::mutex prepareMutex_;
  int prepared_ = 0;  // 0 not yet, 1 ready, -1 failed
};
