#include "engine/player/tmidiexe.h"

#include "engine/player/midi_player.h"
#include "engine/player/output_status.h"

TMIDIEXEState& TMIDIEXE::state() const { return player_.state(); }

int32_t TMIDIEXE::getDEVICEID1A() const { return state().DEVICEID1A.load(); }
void TMIDIEXE::setDEVICEID1A(int32_t id) { state().DEVICEID1A.store(id); }
int32_t TMIDIEXE::getDEVICEID2A() const { return state().DEVICEID2A.load(); }
void TMIDIEXE::setDEVICEID2A(int32_t id) { state().DEVICEID2A.store(id); }
int32_t TMIDIEXE::getDEVICEID1B() const { return state().DEVICEID1B.load(); }
void TMIDIEXE::setDEVICEID1B(int32_t id) { state().DEVICEID1B.store(id); }
int32_t TMIDIEXE::getDEVICEID2B() const { return state().DEVICEID2B.load(); }
void TMIDIEXE::setDEVICEID2B(int32_t id) { state().DEVICEID2B.store(id); }

int32_t TMIDIEXE::getRESETMODE() const { return state().RESETMODE.load(); }
void TMIDIEXE::setRESETMODE(int32_t mode) { player_.setResetMode(mode); }

int32_t TMIDIEXE::getSPEED() const { return state().SPEED.load(); }
void TMIDIEXE::setSPEED(int32_t speed) { player_.setSpeed(speed); }
int32_t TMIDIEXE::getTimeDiv() const { return state().baseDivision.load(); }
void TMIDIEXE::setTimeDiv(int32_t division) { player_.setTimeDivision(division); }

int32_t TMIDIEXE::getTIMERMIDI() const { return state().TIMERMIDI.load(); }
void TMIDIEXE::setTIMERMIDI(int32_t ms) { state().TIMERMIDI.store(ms); }
int32_t TMIDIEXE::getTIMERWRD() const { return state().TIMERWRD.load(); }
void TMIDIEXE::setTIMERWRD(int32_t ms) { state().TIMERWRD.store(ms); }
int32_t TMIDIEXE::getTITLEVISIBLE() const { return state().TITLEVISIBLE.load(); }
void TMIDIEXE::setTITLEVISIBLE(int32_t value) { state().TITLEVISIBLE.store(value); }

int32_t TMIDIEXE::getMIDIDISABLE() const { return state().MIDIDISABLE.load(); }
void TMIDIEXE::setMIDIDISABLE(int32_t value) {
  if (!state().streamOpen.load()) state().MIDIDISABLE.store(value);
}

int32_t TMIDIEXE::getERRORCODE() const { return player_.result().get(); }
void TMIDIEXE::setERRORCODE(int32_t code) { player_.result().set(code); }

int32_t TMIDIEXE::getDEVVOLUME() { return player_.deviceVolume(); }
void TMIDIEXE::setDEVVOLUME(int32_t volume) { player_.setDeviceVolume(volume); }
int32_t TMIDIEXE::getDEVBALANCE() { return player_.deviceBalance(); }
void TMIDIEXE::setDEVBALANCE(int32_t balance) { player_.setDeviceBalance(balance); }

int32_t TMIDIEXE::getMIDICURRENTTIME1() { return player_.displayValue(1); }
void TMIDIEXE::setMIDICURRENTTIME1(int32_t selector) { player_.setDisplaySelector(1, selector); }
int32_t TMIDIEXE::getMIDICURRENTTIME2() { return player_.displayValue(2); }
void TMIDIEXE::setMIDICURRENTTIME2(int32_t selector) { player_.setDisplaySelector(2, selector); }
int32_t TMIDIEXE::getMIDITIMEOPTION1() { return player_.displayValue(3); }
void TMIDIEXE::setMIDITIMEOPTION1(int32_t selector) { player_.setDisplaySelector(3, selector); }
int32_t TMIDIEXE::getMIDITIMEOPTION2() { return player_.displayValue(4); }
void TMIDIEXE::setMIDITIMEOPTION2(int32_t selector) { player_.setDisplaySelector(4, selector); }
int32_t TMIDIEXE::getMIDITOTALTIME1() { return player_.totalValue(1); }
int32_t TMIDIEXE::getMIDITOTALTIME2() { return player_.totalValue(2); }
int32_t TMIDIEXE::getOUTSTATUSLEVEL() { return player_.levelValue(); }
int32_t TMIDIEXE::getOUTSTATUSCH() const { return state().OUTSTATUSCH.load(); }
void TMIDIEXE::setOUTSTATUSCH(int32_t channel) { state().OUTSTATUSCH.store(channel); }

int32_t TMIDIEXE::getOUTSTATUSENABLE() const { return state().OUTSTATUSENABLE.load(); }
void TMIDIEXE::setOUTSTATUSENABLE(int32_t value) { state().OUTSTATUSENABLE.store(value); }
int32_t TMIDIEXE::getTIMEROUTSTATUS() const { return state().TIMEROUTSTATUS.load(); }
void TMIDIEXE::setTIMEROUTSTATUS(int32_t value) { state().TIMEROUTSTATUS.store(value); }
int32_t TMIDIEXE::getTIMERSCORE() const { return state().TIMERSCORE.load(); }
void TMIDIEXE::setTIMERSCORE(int32_t value) { state().TIMERSCORE.store(value); }
int32_t TMIDIEXE::getSTEPTIME() const { return state().STEPTIME.load(); }
void TMIDIEXE::setSTEPTIME(int32_t value) { state().STEPTIME.store(value); }
int32_t TMIDIEXE::getEXTOPTION1() const { return state().EXTOPTION1.load(); }
void TMIDIEXE::setEXTOPTION1(int32_t value) { state().EXTOPTION1.store(value); }
int32_t TMIDIEXE::getEXTOPTION2() const { return state().EXTOPTION2.load(); }
void TMIDIEXE::setEXTOPTION2(int32_t value) { state().EXTOPTION2.store(value); }
int32_t TMIDIEXE::getEXTOPTION3() const { return state().EXTOPTION3.load(); }
void TMIDIEXE::setEXTOPTION3(int32_t value) { state().EXTOPTION3.store(value); }
int32_t TMIDIEXE::getEXTOPTION4() const { return state().EXTOPTION4.load(); }
void TMIDIEXE::setEXTOPTION4(int32_t value) { state().EXTOPTION4.store(value); }

