// The song reader TQUORMSTR: the current song's name and metadata (title,
// memo, set-up files, time signature, WRD script), and the converter that
// turns the whole song into one packed stream buffer with its time table
// before playback. The conversion's result is a PackedSong value, which the
// caller hands to the player (nothing is converted while a song plays).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "engine/player/stream_record.h"
#include "engine/song/packed_song.h"
#include "engine/song/play_mode_edits.h"
#include "engine/song/rcp_converter.h"
#include "support/result_code.h"

struct QGFILE;

constexpr uint32_t kTrackEnded = 0x1;

// One track of the song being converted (at most kQGmstMaxTracks).
struct TrackState {
  uint32_t flags = 0;         // kTrackEnded
  uint32_t length = 0;        // data length from the chunk header
  uint32_t leftInBuffer = 0;  // bytes not yet read
  uint8_t* start = nullptr;   // the track's own copy of its data
  uint8_t* current = nullptr;
  uint32_t nextEventTime = 0; // absolute tick of the next event
  uint8_t runningStatus = 0;
  uint32_t fileStart = 0;     // offset of the track data in the song image
  uint32_t nextRead = 0;      // offset after the track data
  uint32_t leftOnDisk = 0;    // always 0: the whole track is in memory
};

// The event just read from a track.
struct TrackEvent {
  uint32_t tick = 0;
  uint8_t status = 0;
  uint8_t data1 = 0;  // meta: the type
  uint8_t data2 = 0;  // meta: the first length byte
  uint8_t data3 = 0;  // meta: the second length byte
  uint32_t length = 0;  // 2 or 3 for channel messages, else the data length
  uint8_t* longData = nullptr;  // tracked copy of system exclusive / meta data
};

// An event for the packer: three words, then the payload.
struct StreamEvent {
  uint32_t delta = 0;
  uint32_t port = 0;   // 0 port A, 1 port B
  uint32_t event = 0;  // kEv* kind | kEvMarker | data
};

// Conversion codes.
constexpr int32_t kConvOk = 0;
constexpr int32_t kConvTrackFailed = -101;
constexpr int32_t kConvAfterFailure = -102;
constexpr int32_t kConvAfterEnd = -103;
constexpr int32_t kConvBufferFull = -104;
constexpr int32_t kConvSkipped = -105;
constexpr int32_t kConvError = -999;

constexpr uint32_t kDefaultHyosi = 0x04020000u;  // 4/4

// Turns a Recomposer song (".RCP", ".R36", ".G36", ".G18") into a Standard
// MIDI File image; the reader uses the engine's converter unless a test
// gives it another.
using QGmstRcpImageBuilder = bool (*)(const RcpImageRequest& request, RcpImage* image);

class TQUORMSTR {
 public:
  // Failures are recorded in result (the engine's result code).
  explicit TQUORMSTR(ResultCode& result);
  ~TQUORMSTR();
  TQUORMSTR(const TQUORMSTR&) = delete;
  TQUORMSTR& operator=(const TQUORMSTR&) = delete;

  // --- Properties. Texts are the song's Shift-JIS bytes.
  std::string getinFileName();
  // A path that does not exist (or "") keeps the previous song.
  void setinFileName(const std::string& path);
  std::string getinFileTitle();
  std::string getinFileMemo();
  std::string getinFileCm6();
  std::string getinFileGsd();
  // The GSD set-up file for port B's module (RCP 3.0 songs only).
  std::string getinFileGsdB();
  // Whether a Recomposer song's set-up files are sent before it (on by
  // default); what went wrong with them at the last conversion, one
  // sentence each (also in the trace log).
  void setSetupFiles(bool on) { setupFiles_ = on; }
  bool getSetupFiles() const { return setupFiles_; }
  const std::vector<std::string>& SetupProblems() const { return setupProblems_; }
  uint32_t getdwHyosi();
  uint32_t getdwTimeDivision() const { return timeDivision_; }
  int32_t getdwTickDivision() const { return tickDivision_; }
  void setdwTickDivision(int32_t division) { tickDivision_ = division; }
  // The last conversion's end position and marker count (0 before one; the
  // markers counted so far when it failed).
  int32_t getdwMaxTempo() const { return maxTempo_; }
  int32_t getdwMaxTimeIdx() const { return maxTimeIdx_; }
  void setdwTitleIdx(int32_t index) { titleIdx_ = index; }
  std::string getWRDFileName();
  std::string getMIDITITLE();
  std::string getMIDIMEMO();
  std::string getOUTSTATUSMEMO();
  int32_t getOUTSTATUSBNK() const { return 0; }
  int32_t getOUTSTATUSID() const { return 0; }
  // Beats per bar from the time signature (also the WRD control object's).
  int32_t getBeatsPerBar() const { return beatsPerBar_; }

  // --- Conversion: the whole current song into a packed stream and its
  // time table, with the edits of play mode playMode; mode 0 packs no
  // markers (the engine converts in mode 3). False, with the result code
  // (9105 the song could not be read, 9103 the conversion failed) and the
  // trace entry "TQUORMSTR.QGmstPreHeader", when there is nothing to play.
  bool Convert(int32_t mode, int32_t playMode, PackedSong* song);
  // Replaces the Recomposer image builder (null: the engine's own); for tests.
  void setRcpImageBuilder(QGmstRcpImageBuilder builder);

  // --- Song header operations.
  bool QGmstTitle();
  bool QGmstCm6();
  bool QGmstHyosi();

  // --- The converter's steps (Convert runs them; tests call them one by one).
  // Puts the conversion state back to its start (Convert does this before
  // ConverterInit); mode 0 packs no markers.
  void ResetConverterState(int32_t mode, int32_t playMode = 0);
  bool ConverterInit();
  // ConverterInit on a song image already in memory (header, tracks,
  // buffers); the tracks are copied out of it.
  bool ConverterInitImage(const uint8_t* image, size_t size);
  bool GetTrackVDWord(int track, uint32_t* value);
  bool getTrackByte(int track, uint8_t* byte);
  bool GetTrackEvent(int track, TrackEvent* event);
  bool ReFillTrackBuffer(int track);
  int32_t ConvertToBuffer(int32_t reset);
  int32_t AddEventToStreamBuffer(TrackEvent* event);
  bool subMidiEventSet(const StreamEvent& event, const uint8_t* payload, uint32_t payloadSize);
  void ConverterCleanUp();
  // Moves the stream and table converted so far into song.
  void TakeConverted(PackedSong* song);

  // --- The conversion in progress.
  uint32_t StreamBytesWritten() const { return written_; }
  uint32_t MillisecondsTotal() const { return static_cast<uint32_t>(elapsedUs_ / 1000); }
  // When the song's last track ends (its end-of-track event, rests after
  // the last note included), in microseconds from tick 0 at the song's
  // tempi; 0 before a conversion has finished.
  uint64_t SongEndMicroseconds() const { return songEndUs_; }
  // Ticks of the set-up measure before the song's own tick 0.
  uint32_t LeadInTicks() const { return leadInTicks_; }
  int32_t PositionCode() const { return positionCode_; }
  int32_t DetectedSetup() const { return detected_; }
  int TrackCount() const { return trackCount_; }
  const TrackState* Track(int track) const;

 private:
  bool fail(const char* routine, int32_t code);
  // Reading tracks.
  bool readVlq(TrackState& t, uint32_t* value);
  bool readEvent(TrackState& t, TrackEvent* event);
  void freeEventData(TrackEvent* event);
  uint64_t mergeKey(int track) const;
  // Packing.
  // Room left before the buffer's limit (the buffer itself grows on demand).
  uint32_t freeBytes() const { return written_ < bufferLimit_ ? bufferLimit_ - written_ : 0; }
  uint32_t intervalRecords(uint32_t delta) const;
  bool roomFor(uint32_t delta, uint32_t bytes) const;
  bool ensureCapacity(uint64_t bytes);
  bool growTable();
  void advance(uint32_t delta);
  int32_t positionAfter(uint32_t delta) const;
  void putWord(uint32_t word) {
    StoreLe32(buffer_ + written_, word);
    written_ += 4;
  }
  bool addTableEntry();
  int32_t addEvent(TrackEvent* e);
  bool packEvent(const StreamEvent& event, const uint8_t* payload, uint32_t payloadSize);
  int32_t addNop(uint32_t delta, uint32_t marker);
  int32_t addChannel(TrackEvent* e, uint32_t delta, uint32_t marker);
  int32_t addSysEx(TrackEvent* e, uint32_t delta, uint32_t marker);
  int32_t addMeta(TrackEvent* e, uint32_t delta, uint32_t marker);
  void finishConversion();
  void setTimeSignature(uint32_t word);
  bool setUpImage(const uint8_t* image, size_t size);
  void freeTracks();
  void freeOutput();
  // Reads the Recomposer song in file_ (with its set-up files) into the
  // tracks.
  bool convertRecomposer();

  ResultCode& result_;
  QGmstRcpImageBuilder rcpBuilder_;

  // Song and metadata.
  std::string fileName_;
  std::string title_, memo_, cm6_, gsd_, gsdB_;
  bool setupFiles_ = true;
  std::vector<std::string> setupProblems_;
  uint32_t hyosi_ = kDefaultHyosi;
  int32_t beatsPerBar_ = 4;
  uint32_t timeDivision_ = 0;
  int32_t tickDivision_ = 0;
  int32_t maxTimeIdx_ = 0;
  int32_t maxTempo_ = 0;
  int32_t titleIdx_ = 0;
  int32_t mode_ = 3;
  int32_t playMode_ = 0;
  int32_t detected_ = 0;
  bool started_ = false;

  // The song file's bytes and the tracks copied out of its image.
  QGFILE* file_ = nullptr;
  TrackState* tracks_[kQGmstMaxTracks] = {};
  int trackCount_ = 0;

  // Conversion state.
  uint32_t division_ = 960;
  int32_t normDivision_ = 960;
  uint32_t markerInterval_ = 240;
  uint32_t tempo_ = 500000;
  int64_t gapLimit_ = 0;
  bool gapWarning_ = false;
  uint32_t gapTick_ = 0;
  uint32_t prevTick_ = 0;
  bool firstEventPending_ = true;
  bool markersOn_ = true;
  uint32_t longMax_ = 32;
  int32_t positionCode_ = 0;
  uint64_t elapsedUs_ = 0;      // exact: remainder carried in usRemainder_
  uint64_t usRemainder_ = 0;    // (Σ delta × tempo) mod division
  uint64_t normRemainder_ = 0;  // (Σ delta × normalised division) mod division
  uint32_t leadInTicks_ = 0;    // the set-up measure: time that is no bar of the song
  uint64_t leadInLeft_ = 0;     // of it, the ticks not yet packed
  uint32_t endTick_ = 0;        // the latest end of track
  uint64_t songEndUs_ = 0;
  int currentTrack_ = 0;
  uint8_t port_[kQGmstMaxTracks] = {};
  PlayModeEdits edits_;
  TrackEvent held_;
  bool hasHeld_ = false;
  std::vector<uint8_t> scratch_;  // status + data of a long message
  bool trackFailed_ = false;
  bool allEnded_ = false;

  // Output: the stream buffer and the time table.
  uint8_t* buffer_ = nullptr;
  uint32_t bufferSize_ = 0;   // allocated bytes
  uint32_t bufferLimit_ = 0;  // most the song may fill
  bool closing_ = false;      // the closing records may pass the limit
  uint32_t written_ = 0;
  uint32_t dataLength_ = 0;
  uint32_t bufferLength_ = 0; // bytes used + 1024 after conversion
  TimeTableEntry* table_ = nullptr;
  uint32_t tableCapacity_ = 0;
  uint32_t markers_ = 0;
};
