#include "engine/host/automation_object.h"

#include <QWidget>

#include <cctype>

#include "engine/host/engine_forms.h"
#include "engine/host/option_dialogs.h"
#include "engine/player/midi_player.h"
#include "engine/player/tmidiexe.h"
#include "engine/song/song_reader.h"
#include "engine/wrd/wrd_compiler.h"
#include "engine/wrd/wrd_runtime.h"
#include "engine/wrd/wrd_state.h"
#include "support/cp932.h"

namespace {

using T = TOleType;

// In dispatch order. Access: get / put; guarded puts wait for no owner.
constexpr std::array<TOleMember, kOleMemberCount> kMembers = {{
    {1, "DEVICEID1A", T::I4, true, true, true,
     "Output device of port A's first output (-1 the system MIDI mapper, 256 none; settings \"MidiId1\")."},
    {2, "DEVICEID1B", T::I4, true, true, true, "Output device of port A's second output (\"MidiId3\")."},
    {3, "DEVICEID2A", T::I4, true, true, true, "Output device of port B's first output (\"MidiId2\")."},
    {4, "DEVICEID2B", T::I4, true, true, true, "Output device of port B's second output (\"MidiId4\")."},
    {5, "ERRORCODE", T::I4, true, false, false,
     "This object's copy of the engine's result code, taken after CLOSE, DEVICESET, OPTIONSET, PAUSE, "
     "RESTART, STATUS and STEP; 0 at creation."},
    {6, "MIDIFILENAME", T::BSTR, true, true, false,
     "The song file this object names; the engine takes it at PLAY or STATUS (a name that does not "
     "exist keeps the engine's previous song)."},
    {7, "RESETMODE", T::I4, true, true, true, "Play (reset) mode (\"swHatuon\"); a put selects its reset sequence."},
    {8, "SCOREHEIGHT", T::I4, true, true, false, "Score display height (stored)."},
    {9, "SCORELEFT", T::I4, true, true, false, "Score display left edge (stored)."},
    {10, "SCORETOP", T::I4, true, true, false, "Score display top edge (stored)."},
    {11, "SCOREVISIBLE", T::BOOL, true, true, false, "Score display shown (stored)."},
    {12, "SCOREWIDTH", T::I4, true, true, false, "Score display width (stored)."},
    {13, "SPEED", T::I4, true, true, false,
     "Playback speed, 256 as written; above 0 the effective division becomes base x 256 / SPEED."},
    {14, "STATUSCODE", T::I4, true, false, false, "The engine's status code: always 0."},
    {15, "WRDDELAY", T::I4, true, true, false,
     "WRD display offset against the music in 1/48 quarter notes (3 automatic; \"swWRDDely\")."},
    {16, "WRDFULLSCREEN", T::BOOL, true, true, true,
     "WRD window full screen; while false, puts of WRDLEFT and WRDTOP move the window."},
    {17, "WRDLEFT", T::I4, true, true, false, "Left edge of the WRD window."},
    {18, "WRDTOP", T::I4, true, true, false, "Top edge of the WRD window."},
    {19, "WRDVISIBLE", T::BOOL, true, true, false, "WRD display enabled (\"WRDChecked\")."},
    {20, "DEVBALANCE", T::I4, true, true, false,
     "Balance of the output devices (0 left, 50 centre, 100 right): a get asks the devices."},
    {21, "DEVVOLUME", T::I4, true, true, false, "Volume of the output devices (0 .. 100): a get asks the devices."},
    {22, "EXTOPTION1", T::I4, true, true, false, "Stored; with OUTSTATUSCH 2000 the picture slot OUTSTATUSMEMO reads."},
    {23, "EXTOPTION2", T::I4, true, true, false, "Stored and returned unchanged."},
    {24, "EXTOPTION3", T::I4, true, true, false, "Stored and returned unchanged."},
    {25, "EXTOPTION4", T::I4, true, true, false, "Option word: bit 0 is the WRD XY mode; other bits stored."},
    {26, "MIDICURRENTTIME1", T::I4, true, true, false,
     "Status value 1: a put selects its form (0 ms, 1 position bar*10000+beat*1000+thousandths, 2 tick "
     "accumulator, 3 tempo, 4 time signature, 5 level; other values ms), a get reads it."},
    {27, "MIDICURRENTTIME2", T::I4, true, true, false, "Status value 2, with its own form."},
    {28, "MIDIDISABLE", T::I4, true, true, false,
     "1: no calls to the MIDI devices (silent run); a put is ignored while a stream is open."},
    {29, "MIDIMEMO", T::BSTR, true, true, false, "The song's memo, filled by STATUS and emptied by PLAY."},
    {30, "MIDITIMEOPTION1", T::I4, true, true, false, "Status value 3, with its own form."},
    {31, "MIDITIMEOPTION2", T::I4, true, true, false, "Status value 4, with its own form."},
    {32, "MIDITITLE", T::BSTR, true, true, false, "The song's title, filled by STATUS and emptied by PLAY."},
    {33, "MIDITOTALTIME1", T::I4, true, false, false, "Length of the song in the form of MIDICURRENTTIME1."},
    {34, "MIDITOTALTIME2", T::I4, true, false, false, "Length of the song in the form of MIDICURRENTTIME2."},
    {35, "OUTSTATUSBNK", T::I4, true, false, false, "The song reader's output-status bank: 0."},
    {36, "OUTSTATUSCH", T::I4, true, true, false,
     "Output-status selector: 0 .. 31 a channel's level, 1000 beats per bar / CM6 file, 1001 denominator / "
     "GSD file, 1002 WRD script present / its path, 2000 picture slot count / slot EXTOPTION1."},
    {37, "OUTSTATUSENABLE", T::BOOL, true, true, false, "Stored and returned unchanged."},
    {38, "OUTSTATUSID", T::I4, true, false, false, "Output-status number for OUTSTATUSCH."},
    {39, "OUTSTATUSLEVEL", T::I4, true, false, false,
     "Output level (velocity x volume) of channel OUTSTATUSCH or the loudest; every read decays the meter."},
    {40, "OUTSTATUSMEMO", T::BSTR, true, false, false, "Output-status text for OUTSTATUSCH."},
    {41, "SCORECH", T::I4, true, true, false, "Score display channel (stored)."},
    {42, "SCOREOPTION", T::I4, true, true, false, "Score display option (stored)."},
    {43, "STEPTIME", T::I4, true, true, true, "Stored and returned unchanged."},
    {44, "STOPOPTION", T::I4, true, true, true,
     "End-of-song policy: 0 reports the end as -1, any other value as -2; Next and Back act only at 1."},
    {45, "TIMERMIDI", T::I4, true, true, true, "Player timer period in ms (\"swBunkainou\")."},
    {46, "TIMEROUTSTATUS", T::I4, true, true, true, "Stored and returned unchanged."},
    {47, "TIMERSCORE", T::I4, true, true, true, "Stored and returned unchanged."},
    {48, "TIMERWRD", T::I4, true, true, true,
     "Period in ms of the progress reports (16 or less means 16); read when a song starts."},
    {49, "TITLEVISIBLE", T::I4, true, true, false, "1: no progress reports to the status sink."},
    {50, "WINDOWSTATUS", T::I4, true, true, false, "1: the engine's main window is minimised; a put minimises or restores it."},
    {51, "CLOSE", T::Method, false, false, false,
     "Stops playback; ERRORCODE := the result code; the owner is released when it is 0."},
    {52, "DEVICESET", T::Method, false, false, false,
     "Shows the output-port dialog (returns when it closes; only without an owner)."},
    {53, "OPTIONSET", T::Method, false, false, false,
     "Shows the play-option dialog (returns when it closes; only without an owner)."},
    {54, "PAUSE", T::Method, false, false, false,
     "The owner's song holds: sounding notes are released, time and the WRD screen stand still."},
    {55, "PLAY", T::Method, false, false, false,
     "Plays MIDIFILENAME (asynchronously: message 1890); the caller becomes the owner; MIDITITLE and "
     "MIDIMEMO become empty."},
    {56, "RESTART", T::Method, false, false, false, "The owner's paused song goes on from where it stood."},
    {57, "STATUS", T::Method, false, false, false,
     "Without an owner: reads the title and memo of MIDIFILENAME into MIDITITLE and MIDIMEMO (and with "
     "OUTSTATUSCH 2000 compiles its WRD script for the picture slot names)."},
    {58, "STEP", T::Method, false, false, false, "Does nothing but take ownership (owner null or the caller)."},
    {59, "STOP", T::Method, false, false, false, "The owner's song stops (reported as -1)."},
    {60, "OnStatusDisp", T::Unknown, true, true, false,
     "The engine's status sink: (bus name, object path) of an object with interface "
     "QMIDICTLXControl.IQMIDICTLXEvents, (\"\", \"/\") for none."},
}};

bool Iequal(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (std::toupper(static_cast<unsigned char>(a[i])) != std::toupper(static_cast<unsigned char>(b[i])))
      return false;
  return true;
}

// Length of the UTF-8 character starting at s[i], 0 when it is not one.
size_t Utf8Length(std::string_view s, size_t i) {
  const auto b = static_cast<unsigned char>(s[i]);
  size_t n = b < 0x80 ? 1 : (b >> 5) == 6 ? 2 : (b >> 4) == 14 ? 3 : (b >> 3) == 30 ? 4 : 0;
  if (n == 0 || i + n > s.size()) return 0;
  for (size_t k = 1; k < n; ++k)
    if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) return 0;
  if (n == 2 && b < 0xC2) return 0;  // overlong
  return n;
}

bool ValidUtf8(std::string_view s) {
  for (size_t i = 0; i < s.size();) {
    size_t n = Utf8Length(s, i);
    if (n == 0) return false;
    i += n;
  }
  return true;
}

constexpr size_t kMaxCharacters = 255;

int32_t Flag(int32_t v) { return v ? -1 : 0; }

// The denominator a time-signature word's third byte codes.
int32_t Denominator(uint32_t hyosi) {
  switch ((hyosi >> 16) & 0xFF) {
    case 1: return 2;
    case 2: return 4;
    case 3: return 8;
    case 4: return 16;
    case 5: return 32;
    case 6: return 64;
    default: return 4;
  }
}

[[noreturn]] void Fail(const std::string& text) { throw TOleFailure{text}; }

// The values puts take: what the option dialogs offer and the player
// handles (a period or speed beyond them makes a short song last for ever).
struct TOleRange {
  int32_t dispid;
  int32_t low, high;
  const char* words;
};
constexpr int32_t kDispResetMode = 7;
constexpr TOleRange kRanges[] = {
    {1, kMidiMapper, kMidiNoDevice, "-1 (the mapper), a device number, or 256 (none)"},
    {2, kMidiMapper, kMidiNoDevice, "-1 (the mapper), a device number, or 256 (none)"},
    {3, kMidiMapper, kMidiNoDevice, "-1 (the mapper), a device number, or 256 (none)"},
    {4, kMidiMapper, kMidiNoDevice, "-1 (the mapper), a device number, or 256 (none)"},
    {7, 0, 8, "0, 1, 2, 3, 5 or 8 (the play modes)"},
    {13, 0, 4096, "0 to 4096 (256 plays as written, 512 at half speed; 0 as written)"},
    {15, -384, 384, "-384 to 384 (1/48 quarter notes; 3 automatic)"},
    {20, 0, 100, "0 to 100"},
    {21, 0, 100, "0 to 100"},
    {45, 1, 16, "1 to 16 (ms)"},
    {48, 0, 1000, "0 to 1000 (ms; 16 or less means 16)"},
};

}  // namespace

bool QHOleValueAllowed(int32_t dispid, int32_t value, std::string* words) {
  for (const TOleRange& r : kRanges) {
    if (r.dispid != dispid) continue;
    if (words) *words = r.words;
    const bool inRange = value >= r.low && value <= r.high;
    if (dispid == kDispResetMode) return inRange && value != 4 && value != 6 && value != 7;
    return inRange;
  }
  return true;
}

namespace {

[[noreturn]] void Refuse(const TOleMember& m, int32_t value, const std::string& words) {
  throw TOleInvalidValue{{std::string(m.name) + " takes " + words + ", not " + std::to_string(value)}};
}

}  // namespace

const std::array<TOleMember, kOleMemberCount>& QHOleMembers() { return kMembers; }

const TOleMember* QHOleMember(int32_t dispid) {
  return dispid >= 1 && dispid <= kOleMemberCount ? &kMembers[static_cast<size_t>(dispid - 1)] : nullptr;
}

const TOleMember* QHOleMemberNamed(std::string_view name) {
  for (const TOleMember& m : kMembers)
    if (Iequal(m.name, name)) return &m;
  return nullptr;
}

std::string QHOleText(std::string_view bytes, bool sjis) {
  std::string text = sjis || !ValidUtf8(bytes) ? Cp932ToUtf8(bytes) : std::string(bytes);
  size_t at = 0, characters = 0;
  while (at < text.size() && characters < kMaxCharacters) {
    size_t n = Utf8Length(text, at);
    at += n ? n : 1;
    ++characters;
  }
  return text.substr(0, at);  // a string of its own size, not the long text's buffer
}

// ---------------------------------------------------------------- TQMIDIOLE

TQMIDIOLE::TQMIDIOLE(TForm1& form, uint64_t number) : form_(form), number_(number) {}

const void* TQMIDIOLE::token() const {
  return reinterpret_cast<const void*>(static_cast<uintptr_t>(number_));
}

bool TQMIDIOLE::ownsPlayback() const { return form_.sequence().owner() == token(); }

bool TQMIDIOLE::ownerFree() const { return form_.sequence().owner() == nullptr; }

void TQMIDIOLE::takeEngineCode() { errorCode_ = form_.engine().result().get(); }

int32_t TQMIDIOLE::getNumber(int32_t d) {
  TMIDIEXE& p = form_.engine().properties();
  TQUORONPU& score = form_.engine().score();
  TEngineValues& v = form_.values();
  switch (d) {
    case 1: return p.getDEVICEID1A();
    case 2: return p.getDEVICEID1B();
    case 3: return p.getDEVICEID2A();
    case 4: return p.getDEVICEID2B();
    case 5: return errorCode_;
    case 7: return p.getRESETMODE();
    case 8: return score.SCOREHEIGHT;
    case 9: return score.SCORELEFT;
    case 10: return score.SCORETOP;
    case 11: return Flag(score.SCOREVISIBLE);
    case 12: return score.SCOREWIDTH;
    case 13: return p.getSPEED();
    case 14: return 0;
    case 15: return v.wrdDelay;
    case 16: return Flag(form_.engine().wrd().getFullScreen());
    case 17: return form_.engine().wrd().getLeft();
    case 18: return form_.engine().wrd().getTop();
    case 19: return Flag(v.wrdVisible);
    case 20: return p.getDEVBALANCE();
    case 21: return p.getDEVVOLUME();
    case 22: return p.getEXTOPTION1();
    case 23: return p.getEXTOPTION2();
    case 24: return p.getEXTOPTION3();
    case 25: return p.getEXTOPTION4();
    case 26: return p.getMIDICURRENTTIME1();
    case 27: return p.getMIDICURRENTTIME2();
    case 28: return p.getMIDIDISABLE();
    case 30: return p.getMIDITIMEOPTION1();
    case 31: return p.getMIDITIMEOPTION2();
    case 33: return p.getMIDITOTALTIME1();
    case 34: return p.getMIDITOTALTIME2();
    case 35: return form_.engine().song().getOUTSTATUSBNK();
    case 36: return p.getOUTSTATUSCH();
    case 37: return Flag(p.getOUTSTATUSENABLE());
    case 38: return outStatusId();
    case 39: return p.getOUTSTATUSLEVEL();
    case 41: return score.SCORECH;
    case 42: return score.SCOREOPTION;
    case 43: return p.getSTEPTIME();
    case 44: return form_.stopOption();
    case 45: return p.getTIMERMIDI();
    case 46: return p.getTIMEROUTSTATUS();
    case 47: return p.getTIMERSCORE();
    case 48: return p.getTIMERWRD();
    case 49: return p.getTITLEVISIBLE();
    case 50: {
      // The engine's main window is the WRD picture window.
      if (QWidget* w = form_.form2() ? form_.form2()->pictureWindow() : nullptr) return w->isMinimized() ? 1 : 0;
      return form_.engine().wrd().getMinimised() != 0 ? 1 : 0;
    }
    default: Fail("member " + std::to_string(d) + " has no number to read");
  }
}

void TQMIDIOLE::putNumber(int32_t d, int32_t value) {
  const TOleMember* m = QHOleMember(d);
  if (!m || !m->put || (m->type != T::I4 && m->type != T::BOOL))
    Fail("member " + std::to_string(d) + " takes no number");
  if (std::string words; !QHOleValueAllowed(d, value, &words)) Refuse(*m, value, words);
  if (m->guarded && !ownerFree()) return;  // succeeds and changes nothing
  TMIDIEXE& p = form_.engine().properties();
  TQUORONPU& score = form_.engine().score();
  TEngineValues& v = form_.values();
  switch (d) {
    case 1: p.setDEVICEID1A(value); v.devices[kHostPortAFirst] = value; return;
    case 2: p.setDEVICEID1B(value); v.devices[kHostPortASecond] = value; return;
    case 3: p.setDEVICEID2A(value); v.devices[kHostPortBFirst] = value; return;
    case 4: p.setDEVICEID2B(value); v.devices[kHostPortBSecond] = value; return;
    case 7: p.setRESETMODE(value); v.resetMode = value; return;
    case 8: score.SCOREHEIGHT = value; return;
    case 9: score.SCORELEFT = value; return;
    case 10: score.SCORETOP = value; return;
    case 11: score.SCOREVISIBLE = Flag(value); return;
    case 12: score.SCOREWIDTH = value; return;
    case 13: p.setSPEED(value); return;
    case 15:
      v.wrdDelay = value;
      form_.engine().wrd().setWRDDelay(value);
      form_.engine().wrd().state().inputs.displayOffset = value;
      return;
    case 16: form_.engine().wrd().setFullScreen(Flag(value)); return;
    case 17: form_.engine().wrd().setLeft(value); return;
    case 18: form_.engine().wrd().setTop(value); return;
    case 19:
      v.wrdVisible = value != 0;
      form_.engine().setWrdVisible(value != 0);
      return;
    case 20: p.setDEVBALANCE(value); return;
    case 21: p.setDEVVOLUME(value); return;
    case 22: p.setEXTOPTION1(value); return;
    case 23: p.setEXTOPTION2(value); return;
    case 24: p.setEXTOPTION3(value); return;
    case 25:
      p.setEXTOPTION4(value);
      v.optionWord = (v.optionWord & ~1) | (value & 1);
      form_.engine().wrd().state().inputs.xyMode = (value & 1) != 0;
      return;
    case 26: p.setMIDICURRENTTIME1(value); return;
    case 27: p.setMIDICURRENTTIME2(value); return;
    case 28: p.setMIDIDISABLE(value); return;
    case 30: p.setMIDITIMEOPTION1(value); return;
    case 31: p.setMIDITIMEOPTION2(value); return;
    case 36: p.setOUTSTATUSCH(value); return;
    case 37: p.setOUTSTATUSENABLE(Flag(value)); return;
    case 41: score.SCORECH = value; return;
    case 42: score.SCOREOPTION = value; return;
    case 43: p.setSTEPTIME(value); return;
    case 44: form_.setStopOption(value); return;
    case 45: p.setTIMERMIDI(value); v.timerMidi = value; return;
    case 46: p.setTIMEROUTSTATUS(value); return;
    case 47: p.setTIMERSCORE(value); return;
    case 48: p.setTIMERWRD(value); return;
    case 49: p.setTITLEVISIBLE(value); return;
    case 50: {
      const bool minimise = value == 1;
      if (QWidget* w = form_.form2() ? form_.form2()->pictureWindow() : nullptr) {
        if (w->isMinimized() != minimise) minimise ? w->showMinimized() : w->showNormal();
      }
      form_.engine().wrd().setMinimised(minimise ? 1 : 0);  // kept for a window yet to come
      return;
    }
    default: Fail("member " + std::to_string(d) + " takes no number");
  }
}

std::string TQMIDIOLE::getText(int32_t d) {
  switch (d) {
    case 6: return QHOleText(fileName_, false);
    case 29: return QHOleText(memo_, false);
    case 32: return QHOleText(title_, false);
    case 40: return outStatusMemo();
    default: Fail("member " + std::to_string(d) + " has no text to read");
  }
}

void TQMIDIOLE::putText(int32_t d, const std::string& utf8) {
  switch (d) {
    case 6:
      // A cut path would name another file: a longer one is refused.
      if (utf8.size() > kOleMaxPathBytes)
        throw TOleInvalidValue{{"MIDIFILENAME takes a path of at most " + std::to_string(kOleMaxPathBytes) +
                                " bytes, not " + std::to_string(utf8.size())}};
      fileName_ = utf8;
      return;
    // Only what a get can return is kept.
    case 29: memo_ = QHOleText(utf8, false); return;
    case 32: title_ = QHOleText(utf8, false); return;
    default: Fail("member " + std::to_string(d) + " takes no text");
  }
}

int32_t TQMIDIOLE::outStatusId() {
  TQUORMSTR& song = form_.engine().song();
  switch (form_.engine().properties().getOUTSTATUSCH()) {
    case 1000: {
      const uint32_t h = song.getdwHyosi();
      int32_t beats = static_cast<int32_t>(h >> 24);
      if (((h >> 16) & 0xFF) == 3) beats /= 2;  // eighths: counted in quarters
      return beats < 2 ? 4 : beats;
    }
    case 1001: return Denominator(song.getdwHyosi());
    case 1002: return song.getWRDFileName().empty() ? 0 : 1;
    case 2000: return TWRDEXE(form_.engine().wrd().state()).getSlotCount();
    default: return song.getOUTSTATUSID();
  }
}

std::string TQMIDIOLE::outStatusMemo() {
  TQUORMSTR& song = form_.engine().song();
  switch (form_.engine().properties().getOUTSTATUSCH()) {
    case 1000: return QHOleText(song.getinFileCm6(), true);
    case 1001: return QHOleText(song.getinFileGsd(), true);
    case 1002: return QHOleText(song.getWRDFileName(), false);
    case 1003: return QHOleText(song.getinFileGsdB(), true);  // port B's GSD (RCP 3.0 songs)
    case 2000: {
      const int32_t slot = form_.engine().properties().getEXTOPTION1();
      if (slot < 0 || slot >= kWRDSlots) return {};
      return QHOleText(TWRDEXE(form_.engine().wrd().state()).getSlotName(slot), false);
    }
    default: return QHOleText(song.getOUTSTATUSMEMO(), true);
  }
}

// ---------------------------------------------------------------- methods

void TQMIDIOLE::call(int32_t d) {
  switch (d) {
    case 51: CLOSE(); return;
    case 52: DEVICESET(); return;
    case 53: OPTIONSET(); return;
    case 54: PAUSE(); return;
    case 55: PLAY(); return;
    case 56: RESTART(); return;
    case 57: STATUS(); return;
    case 58: STEP(); return;
    case 59: STOP(); return;
    default: Fail("member " + std::to_string(d) + " is not a method");
  }
}

void TQMIDIOLE::CLOSE() {
  // The result code is the close's own: a failure of some earlier song
  // must not keep the owner for ever (guarded puts would stay refused).
  form_.engine().result().clear();
  form_.subOLEClose();
  takeEngineCode();
  if (errorCode_ == 0) form_.sequence().setOwner(nullptr);
}

// The dialogs are modal: without a display a user can see, nobody could
// close them, and their caller would wait for ever.
void TQMIDIOLE::requireDialogDisplay(const char* member) {
  if (QHDialogsCanShow()) return;
  form_.engine().result().set(kErrNoDialogDisplay);
  takeEngineCode();
  Fail(std::string(member) + ": the engine has no display to show its dialog on (result code " +
       std::to_string(kErrNoDialogDisplay) + ")");
}

void TQMIDIOLE::DEVICESET() {
  if (!ownerFree()) return;
  requireDialogDisplay("DEVICESET");
  form_.subOLEDeviceSet();
  takeEngineCode();
}

void TQMIDIOLE::OPTIONSET() {
  if (!ownerFree()) return;
  requireDialogDisplay("OPTIONSET");
  form_.subOLEOptionSet();
  takeEngineCode();
}

void TQMIDIOLE::PAUSE() {
  if (!ownsPlayback()) return;
  form_.subOLEPause();
  takeEngineCode();
}

void TQMIDIOLE::RESTART() {
  if (!ownsPlayback()) return;
  form_.subOLEReStart();
  takeEngineCode();
}

void TQMIDIOLE::STEP() {
  if (!ownerFree() && !ownsPlayback()) return;
  form_.subOLEStep();
  takeEngineCode();
  if (errorCode_ == 0) form_.sequence().setOwner(token());
}

void TQMIDIOLE::STOP() {
  if (!ownsPlayback()) return;
  form_.subOLEStop();
}

void TQMIDIOLE::PLAY() {
  TQUORMSTR& song = form_.engine().song();
  song.setinFileName(fileName_);  // a name that does not exist keeps the previous song
  // The caller owns the playback from now on (a STOP right after it acts).
  form_.sequence().setOwner(token());
  title_ = QHOleText(song.getMIDITITLE(), true);
  memo_ = QHOleText(song.getMIDIMEMO(), true);
  // The start itself happens when the engine window takes the request.
  form_.requestPlay(token());
}

void TQMIDIOLE::STATUS() {
  if (!ownerFree()) return;
  TQUORMSTR& song = form_.engine().song();
  song.setinFileName(fileName_);
  form_.subOLEStatus();
  takeEngineCode();
  title_ = QHOleText(song.getinFileTitle(), true);
  memo_ = QHOleText(song.getinFileMemo(), true);
  // The picture slot names of the song's script, for OUTSTATUSID/OUTSTATUSMEMO
  // (never over the tables of a script that is playing).
  if (form_.engine().properties().getOUTSTATUSCH() == 2000 && !form_.sequence().songOpen() && !form_.engine().wrd().getWRDLoaded()) {
    const std::string script = song.getWRDFileName();
    if (!script.empty()) subWRDInit2(form_.engine().wrd().state(), script);
  }
}
