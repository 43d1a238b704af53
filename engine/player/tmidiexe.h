// TMIDIEXE: the access point for a player's properties, as the automation
// members name them. It holds nothing itself; every property reads or
// writes its player's state. TQUORONPU keeps the score display settings,
// which are only stored.
#pragma once

#include <cstdint>

class Player;
struct TMIDIEXEState;

class TMIDIEXE {
 public:
  explicit TMIDIEXE(Player& player) : player_(player) {}

  // Output devices: -1 the mapper, 256 none.
  int32_t getDEVICEID1A() const;
  void setDEVICEID1A(int32_t id);
  int32_t getDEVICEID2A() const;
  void setDEVICEID2A(int32_t id);
  int32_t getDEVICEID1B() const;
  void setDEVICEID1B(int32_t id);
  int32_t getDEVICEID2B() const;
  void setDEVICEID2B(int32_t id);

  // Play mode; setting it selects the mode's reset sequence.
  int32_t getRESETMODE() const;
  void setRESETMODE(int32_t mode);
  // 256 (or 0) as written, larger slower; changes the effective division.
  int32_t getSPEED() const;
  void setSPEED(int32_t speed);
  int32_t getTimeDiv() const;  // the base division
  void setTimeDiv(int32_t division);
  // Timer period in ms; after a start, the period in force.
  int32_t getTIMERMIDI() const;
  void setTIMERMIDI(int32_t ms);
  // Status period in ms (16 or less means 16).
  int32_t getTIMERWRD() const;
  void setTIMERWRD(int32_t ms);
  // 1: no progress reports.
  int32_t getTITLEVISIBLE() const;
  void setTITLEVISIBLE(int32_t value);
  // 1: no device is touched. Cannot change while a stream is open.
  int32_t getMIDIDISABLE() const;
  void setMIDIDISABLE(int32_t value);
  // The engine's result code.
  int32_t getERRORCODE() const;
  void setERRORCODE(int32_t code);

  // Device volume and balance: reading asks the devices.
  int32_t getDEVVOLUME();
  void setDEVVOLUME(int32_t volume);
  int32_t getDEVBALANCE();
  void setDEVBALANCE(int32_t balance);

  // Display values 1-4: writing sets the selector, reading the value.
  int32_t getMIDICURRENTTIME1();
  void setMIDICURRENTTIME1(int32_t selector);
  int32_t getMIDICURRENTTIME2();
  void setMIDICURRENTTIME2(int32_t selector);
  int32_t getMIDITIMEOPTION1();
  void setMIDITIMEOPTION1(int32_t selector);
  int32_t getMIDITIMEOPTION2();
  void setMIDITIMEOPTION2(int32_t selector);
  int32_t getMIDITOTALTIME1();
  int32_t getMIDITOTALTIME2();
  // Level of OUTSTATUSCH's channel (0-31) or of the loudest; decays on read.
  int32_t getOUTSTATUSLEVEL();
  int32_t getOUTSTATUSCH() const;
  void setOUTSTATUSCH(int32_t channel);

  // Stored and returned unchanged (EXTOPTION4 bit 0 is the WRD XY mode,
  // EXTOPTION1 the picture slot OUTSTATUSMEMO reads).
  int32_t getOUTSTATUSENABLE() const;
  void setOUTSTATUSENABLE(int32_t value);
  int32_t getTIMEROUTSTATUS() const;
  void setTIMEROUTSTATUS(int32_t value);
  int32_t getTIMERSCORE() const;
  void setTIMERSCORE(int32_t value);
  int32_t getSTEPTIME() const;
  void setSTEPTIME(int32_t value);
  int32_t getEXTOPTION1() const;
  void setEXTOPTION1(int32_t value);
  int32_t getEXTOPTION2() const;
  void setEXTOPTION2(int32_t value);
  int32_t getEXTOPTION3() const;
  void setEXTOPTION3(int32_t value);
  int32_t getEXTOPTION4() const;
  void setEXTOPTION4(int32_t value);

 private:
  TMIDIEXEState& state() const;
  Player& player_;
};

// The score display settings: stored and returned, nothing else.
class TQUORONPU {
 public:
  int32_t SCOREHEIGHT = 100;
  int32_t SCORELEFT = 0;
  int32_t SCORETOP = 0;
  int32_t SCOREVISIBLE = -1;
  int32_t SCOREWIDTH = 400;
  int32_t SCORECH = 0;
  int32_t SCOREOPTION = 0;
};
