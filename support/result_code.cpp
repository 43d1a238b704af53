#include "support/result_code.h"

std::atomic<int32_t>& QGEngineErrorCode() {
  static std::atomic<int32_t> code{0};
  return code;
}

const char* QGResultCodeText(int32_t code) {
  if (code == 0) return "";
  if (code == 8099) return "no MIDI output device to choose from";
  if (code == 9000) return "no output device is chosen for port A";
  if (code == 9100) return "the player could not start the song";
  if (code > 9100 && code <= 9142) return "the song could not be read";
  if (code == 9401) return "the song's WRD script could not be loaded";
  if (code == 9403) return "the MIDI output devices could not be opened";
  if (code == 9404) return "the song could not be converted for playing";
  if (code == 9406) return "the player could not take the song";
  if (code == 9409) return "the song could not be stopped";
  if (code == 9410) return "the MIDI output devices could not be closed";
  if (code > 9000 && code < 9070) return "the WRD screen could not be drawn";
  return "an engine routine failed";
}
