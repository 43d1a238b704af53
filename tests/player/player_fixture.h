// Player tests: packed streams written record by record, output devices
// that remember what they received and when (on the manual clock), and a
// fixture that runs the player's threads under a manual timer.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "engine/player/midi_player.h"
#include "engine/player/tmidiexe.h"
#include "platform/manualtimer/manual_timer.h"
#include "tests/common/test_files.h"

namespace playertest {

using Bytes = std::vector<uint8_t>;

// A packed stream, record by record.
class Stream {
 public:
  Stream& shortMsg(uint32_t delta, uint32_t message, bool portB = false, bool marker = false);
  Stream& tempo(uint32_t delta, uint32_t microseconds, bool marker = false);
  Stream& nop(uint32_t delta, bool marker = false);
  Stream& longMsg(uint32_t delta, const Bytes& bytes, bool portB = false);
  // A raw word 0 (data | flags << 24), the delta word when the flags ask
  // for it, and a payload.
  Stream& raw(uint32_t word0, uint32_t deltaWord, const Bytes& payload = {});
  Bytes bytes;
  std::vector<TimeTableEntry> table;  // one entry per marker record, filled by the caller
};

// What one device received.
struct Received {
  int64_t us;
  std::string what;  // hex bytes, or "reset", "close", "volume xxxxxxxx"
};

// Devices -1 .. 3 that remember every call, stamped with the given timer's clock.
class RecordingSystem final : public MidiOutSystem {
 public:
  explicit RecordingSystem(TimerSystem& clock) : clock_(clock) {}
  int deviceCount() override { return 4; }
  std::string productName(int id) override;
  bool supportsVolume(int id) override;
  MidiResult open(int id, std::unique_ptr<MidiOutPort>* port) override;

  std::vector<Received> log(int id);
  std::vector<std::string> messages(int id);  // the message bytes only, in order
  void clear();
  int opens = 0;
  std::vector<int> volumeDevices{0, 1, 2, 3, -1};  // devices that support volume
  uint32_t volume[5] = {0xFFFFFFFFu, 0xFFFFFFFFu, 0xFFFFFFFFu, 0xFFFFFFFFu, 0xFFFFFFFFu};
  std::vector<int> unreadable;  // devices whose volume read fails

  void add(int id, const std::string& what);
  std::mutex mutex;

 private:
  TimerSystem& clock_;
  std::vector<Received> logs_[5];
};

std::string Hex(uint32_t shortMessage);

// A player of its own on a manual timer and recording devices, listened to;
// its threads are ended and its devices closed afterwards.
class PlayerTest : public ::testing::Test, public PlayerListener {
 public:
  // PlayerListener: each report is noted with its old notification code.
  void playerOpened(bool) override;
  void playerDone() override;
  void playerClosed(MidiResult) override;
  void playerProgress(int32_t ms) override;
  void playerWrdStep(uint32_t nowMs) override;

 protected:
  void SetUp() override;
  void TearDown() override;
  TMIDIEXEState& P() { return player.state(); }
  // Hands the stream to the player (division, headers) and starts it.
  void Play(const Stream& s, int32_t division = 480) { PlayOn(player, s, division); }
  void PlayOn(Player& p, const Stream& s, int32_t division = 480);
  // Moves the time until the player has notified its end (at most limitMs).
  bool RunToEnd(uint32_t limitMs = 600000);
  // The timer's grid time at which a record of this tick plays (tempo
  // constant since tick 0, period p ms, the player's start time).
  int64_t PlayTime(uint32_t tick, int64_t tickLengthFx, int32_t periodMs) const;
  std::vector<int32_t> Notified();

  std::vector<int32_t> Progress();
  std::vector<uint32_t> WrdSteps();

  std::atomic<int> done{0};
  std::mutex notifiedMutex;  // guards the three lists
  std::vector<int32_t> notified;
  std::vector<int32_t> progress;
  std::vector<uint32_t> wrdSteps;
  qtest::TempDir dir;
  ManualTimer timer{1000000};
  RecordingSystem devices{timer};
  ResultCode result;
  Player player{devices, timer, result};
  TMIDIEXE props{player};
  Stream played;
};

}  // namespace playertest
