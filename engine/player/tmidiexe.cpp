#include "engine/player/tmidiexe.h"

#include "engine/player/midi_player.h"
#include "engine/player/output_status.h"
#include "engine/player/reset_sequences.h"
#include "support/result_code.h"

namespace {
TMIDIEXEState& S() { return QDPlayer(); }
}  // namespace

int32_t TMIDIEXE::getDEVICEID1A() const { return S().DEVICEID1A.load(); }
void TMIDIEXE::setDEVICEID1A(int32_t id) { S().DEVICEID1A.store(id); }
int32_t TMIDIEXE::getDEVICEID2A() const { return S().DEVICEID2A.load(); }
void TMIDIEXE::setDEVICEID2A(int32_t id) { S().DEVICEID2A.store(id); }
int32_t TMIDIEXE::getDEVICEID1B() const { return S().DEVICEID1B.load(); }
void TMIDIEXE::setDEVICEID1B(int32_t id) { S().DEVICEID1B.store(id); }
int32_t TMIDIEXE::getDEVICEID2B() const { return S().DEVICEID2B.load(); }
void TMIDIEXE::setDEVICEID2B(int32_t id) { S().DEVICEID2B.store(id); }

int32_t TMIDIEXE::getRESETMODE() const { return S().RESETMODE.load(); }
void TMIDIEXE::setRESETMODE(int32_t mode) {
  S().RESETMODE.store(mode);
  subResetMode(mode);
}

int32_t TMIDIEXE::getSPEED() const { return S().SPEED.load(); }
void TMIDIEXE::setSPEED(int32_t speed) { QDSetSpeed(speed); }
int32_t TMIDIEXE::getTimeDiv() const { return S().baseDivision.load(); }
void TMIDIEXE::setTimeDiv(int32_t division) { QDSetTimeDiv(division); }

int32_t TMIDIEXE::getTIMERMIDI() const { return S().TIMERMIDI.load(); }
void TMIDIEXE::setTIMERMIDI(int32_t ms) { S().TIMERMIDI.store(ms); }
int32_t TMIDIEXE::getTIMERWRD() const { return S().TIMERWRD.load(); }
void TMIDIEXE::setTIMERWRD(int32_t ms) { S().TIMERWRD.store(ms); }
int32_t TMIDIEXE::getTITLEVISIBLE() const { return S().TITLEVISIBLE.load(); }
void TMIDIEXE::setTITLEVISIBLE(int32_t value) { S().TITLEVISIBLE.store(value); }

int32_t TMIDIEXE::getMIDIDISABLE() const { return S().MIDIDISABLE.load(); }
void TMIDIEXE::setMIDIDISABLE(int32_t value) {
  if (!S().streamOpen.load()) S().MIDIDISABLE.store(value);
}

int32_t TMIDIEXE::getERRORCODE() const { return QGEngineErrorCode().load(); }
void TMIDIEXE::setERRORCODE(int32_t code) { QGSetErrorCode(code); }

int32_t TMIDIEXE::getDEVVOLUME() { return QDGetDevVolume(); }
void TMIDIEXE::setDEVVOLUME(int32_t volume) { QDSetDevVolume(volume); }
int32_t TMIDIEXE::getDEVBALANCE() { return QDGetDevBalance(); }
void TMIDIEXE::setDEVBALANCE(int32_t balance) { QDSetDevBalance(balance); }

int32_t TMIDIEXE::getMIDICURRENTTIME1() { return QDDisplayValue(1); }
void TMIDIEXE::setMIDICURRENTTIME1(int32_t selector) { QDSetDisplaySelector(1, selector); }
int32_t TMIDIEXE::getMIDICURRENTTIME2() { return QDDisplayValue(2); }
void TMIDIEXE::setMIDICURRENTTIME2(int32_t selector) { QDSetDisplaySelector(2, selector); }
int32_t TMIDIEXE::getMIDITIMEOPTION1() { return QDDisplayValue(3); }
void TMIDIEXE::setMIDITIMEOPTION1(int32_t selector) { QDSetDisplaySelector(3, selector); }
int32_t TMIDIEXE::getMIDITIMEOPTION2() { return QDDisplayValue(4); }
void TMIDIEXE::setMIDITIMEOPTION2(int32_t selector) { QDSetDisplaySelector(4, selector); }
int32_t TMIDIEXE::getMIDITOTALTIME1() { return QDTotalValue(1); }
int32_t TMIDIEXE::getMIDITOTALTIME2() { return QDTotalValue(2); }
int32_t TMIDIEXE::getOUTSTATUSLEVEL() { return QDLevelValue(); }
int32_t TMIDIEXE::getOUTSTATUSCH() const { return S().OUTSTATUSCH.load(); }
void TMIDIEXE::setOUTSTATUSCH(int32_t channel) { S().OUTSTATUSCH.store(channel); }

int32_t TMIDIEXE::getOUTSTATUSENABLE() const { return S().OUTSTATUSENABLE.load(); }
void TMIDIEXE::setOUTSTATUSENABLE(int32_t value) { S().OUTSTATUSENABLE.store(value); }
int32_t TMIDIEXE::getTIMEROUTSTATUS() const { return S().TIMEROUTSTATUS.load(); }
void TMIDIEXE::setTIMEROUTSTATUS(int32_t value) { S().TIMEROUTSTATUS.store(value); }
int32_t TMIDIEXE::getTIMERSCORE() const { return S().TIMERSCORE.load(); }
void TMIDIEXE::setTIMERSCORE(int32_t value) { S().TIMERSCORE.store(value); }
int32_t TMIDIEXE::getSTEPTIME() const { return S().STEPTIME.load(); }
void TMIDIEXE::setSTEPTIME(int32_t value) { S().STEPTIME.store(value); }
int32_t TMIDIEXE::getEXTOPTION1() const { return S().EXTOPTION1.load(); }
void TMIDIEXE::setEXTOPTION1(int32_t value) { S().EXTOPTION1.store(value); }
int32_t TMIDIEXE::getEXTOPTION2() const { return S().EXTOPTION2.load(); }
void TMIDIEXE::setEXTOPTION2(int32_t value) { S().EXTOPTION2.store(value); }
int32_t TMIDIEXE::getEXTOPTION3() const { return S().EXTOPTION3.load(); }
void TMIDIEXE::setEXTOPTION3(int32_t value) { S().EXTOPTION3.store(value); }
int32_t TMIDIEXE::getEXTOPTION4() const { return S().EXTOPTION4.load(); }
void TMIDIEXE::setEXTOPTION4(int32_t value) { S().EXTOPTION4.store(value); }

TMIDIEXE& QDMidiExe() {
  static TMIDIEXE player;
  return player;
}

TQUORONPU& QDScoreSettings() {
  static TQUORONPU score;
  return score;
}
