#include "support/result_code.h"

const char* QGResultCodeText(int32_t code) {
  switch (code) {
    case 0: return "";
    case 8098: return "there is no display to show the dialog on";
    case 8099: return "no MIDI output device to choose from";
    case 9000: return "port A has no output device (setting MidiId1)";
    case 9100: return "the player could not be started";
    case 9101: return "the player could not prepare the song's long messages";
    case 9102: return "a song was being converted already";
    case 9103: return "the song has nothing to play";
    case 9105: return "the file is not a song that can be read";
    case 9106: return "no output device is open";
    case 9107: return "a stretch of the Recomposer song has no note sounding; it plays as written";
    case 9108: return "the song's header is too short";
    case 9109: return "it is not a Standard MIDI File (no MThd header)";
    case 9110: return "it is not a Recomposer song (no v2 or RCP 3.0 signature)";
    case 9111: return "the file is too large for a song";
    case 9112: return "the file cannot be read";
    case 9113: return "a track's header (MTrk) is missing";
    case 9115: return "a track's first event time is malformed";
    case 9116: return "the song has no tracks (or no memory for them)";
    case 9117: return "the file is cut short inside its header";
    case 9119: return "the Recomposer song is cut short; the part that is there was converted";
    case 9122: case 9123: return "a track could not be read to its end";
    case 9142: return "the song goes on for too long without an event";
    case 9401: return "the WRD script could not be loaded; the song plays without it";
    case 9403: return "the output devices could not be opened";
    case 9404: return "the song could not be converted";
    case 9406: return "the player could not take the song";
    case 9409: return "the song could not be stopped";
    case 9410: return "the output devices could not be closed";
    default: break;
  }
  if (code >= 9118 && code <= 9141) return "a track's events are malformed or cut short";
  if (code >= 9001 && code <= 9069) return "the WRD display could not be made or drawn";
  return "an engine routine failed (see the trace log)";
}

bool QGResultIsWarning(int32_t code) { return code == 9107 || code == 9119 || code == 9401; }

bool QGResultIsQuiet(int32_t code) { return code == 9107; }
