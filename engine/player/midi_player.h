// The player TMIDIEXE: one process-wide state record and the routines that
// open the output devices and prepare them for a converted song. The song
// reader hands the song's division and packed stream over through these.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>

#include "engine/player/stream_record.h"
#include "platform/midi_out.h"

// The four outputs, in the order every device loop uses.
constexpr int kQDOutputs = 4;
constexpr int kQDPortAFirst = 0;   // DEVICEID1A
constexpr int kQDPortBFirst = 1;   // DEVICEID2A
constexpr int kQDPortASecond = 2;  // DEVICEID1B
constexpr int kQDPortBSecond = 3;  // DEVICEID2B

// Notification codes the player sends to the window.
constexpr int32_t kQDNotifyOpen = 967;
constexpr int32_t kQDNotifyClosed = 968;
constexpr int32_t kQDNotifyDone = 969;

constexpr uint32_t kQDHeaderPrepared = 0x2;

// Header of one system exclusive send buffer (one per port A device).
struct QDLongHeader {
  uint8_t* data = nullptr;
  uint32_t bufferLength = 0;   // the song's long-message maximum
  uint32_t bytesRecorded = 0;  // length of the message being sent
  uint32_t flags = 0;          // kQDHeaderPrepared
};

// The converted song as the player sees it. The song reader owns the memory.
struct QDStreamHeader {
  uint8_t* data = nullptr;
  uint32_t bufferLength = 0;   // bytes used + 1024
  uint32_t bytesRecorded = 0;  // bytes used (the data length)
  uint32_t position = 0;
  const TimeTableEntry* timeTable = nullptr;
  uint32_t timeTableEntries = 0;
};

// Called with kQDNotify* codes; the window's procedure only posts a message.
using QDNotifyProc = void (*)(int32_t code);

// Everything the player keeps. Flags and counters that the player's threads
// share are atomics, each with one writer. The device handles, headers and
// stream header change only on the window thread while no song plays.
struct TMIDIEXEState {
  // Device numbers: -1 the mapper, 256 not used.
  std::atomic<int32_t> DEVICEID1A{kMidiNoDevice};
  std::atomic<int32_t> DEVICEID2A{kMidiNoDevice};
  std::atomic<int32_t> DEVICEID1B{kMidiNoDevice};
  std::atomic<int32_t> DEVICEID2B{kMidiNoDevice};
  // Open devices, in output order; currentHandle is the first that opened.
  std::unique_ptr<MidiOutPort> handles[kQDOutputs];
  std::atomic<MidiOutPort*> currentHandle{nullptr};

  std::atomic<int32_t> RESETMODE{0};
  std::atomic<int32_t> detectedSetup{0};  // written by the converter in mode 2
  std::atomic<int32_t> MIDIDISABLE{0};
  std::atomic<int32_t> streamOpen{0};
  std::atomic<int32_t> markerIndex{0};

  std::atomic<int32_t> baseDivision{0};
  std::atomic<int32_t> SPEED{0};  // 256 = as written, 0 = as written
  std::atomic<int32_t> effectiveDivision{0};
  std::atomic<int32_t> tempo{500000};
  std::atomic<int32_t> usPerTick{1};
  std::atomic<int32_t> longMessageMax{32};  // from the converter, for the headers

  uint8_t longBuffers[2][kLongMessageBufferSize] = {};
  QDLongHeader longHeaders[2];
  QDStreamHeader stream;

  std::atomic<QDNotifyProc> notifyProc{nullptr};

  int32_t deviceId(int output) const;
};

// The one player state of the process. ERRORCODE is QGEngineErrorCode().
TMIDIEXEState& QDPlayer();
// Puts the state back as it is at program start (closes open devices).
void QDResetPlayer();

// The current output handle: null while no device is open.
MidiOutPort* QDCurrentHandle();

void QDSetNotifyProc(QDNotifyProc proc);
// Sleeps of the player go through one function so that tests run without waiting.
void QDSleep(uint32_t ms);
void QDSetSleepFunction(void (*sleeper)(uint32_t ms));

// Device calls. With MIDIDISABLE 1 each reports success and touches nothing;
// opening then yields a handle that does nothing.
MidiResult QDMidiOutOpen(int32_t deviceId, std::unique_ptr<MidiOutPort>* port);
MidiResult QDMidiOutClose(MidiOutPort* port);
MidiResult QDmidiOutPrepareHeader(MidiOutPort* port, QDLongHeader* header);
MidiResult QDmidiOutUnprepareHeader(MidiOutPort* port, QDLongHeader* header);

// Opens the configured outputs; success when the last attempt succeeded or
// none was attempted. Notifies kQDNotifyOpen.
bool QDStreamOpen();
// Resets and closes every open output; the last close result. Notifies kQDNotifyClosed.
MidiResult QDStreamClose();

// Base division of the song; recomputes the effective division and tick length.
void QDSetTimeDiv(int32_t division);
// SPEED: recomputes the effective division only (the tick length follows at
// the next tempo record).
void QDSetSpeed(int32_t speed);
// Prepares the long-message headers of the open port A devices (0 on
// success, 1 when none is open) and sets the starting tempo and tick length.
int32_t QDOutStreamHeader();
// Releases the long-message headers; the last result.
int32_t QDOutUnPreperHeader();
