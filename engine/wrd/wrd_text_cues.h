// The text a compiled WRD script puts on its 80 x 24 text screen, as timed
// lines (for subtitles): each row of text from the moment it appears until
// it is erased, scrolled away, overwritten by other text or the song ends.
// A row that grows (a line written piece by piece) stays one line. Times
// are the song's milliseconds at which the executor runs the entries: the
// first time-table entry whose position reaches the entry's look-ahead.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "engine/player/stream_record.h"
#include "engine/wrd/wrd_state.h"

struct TScreenTextCue {
  uint32_t startMs = 0;
  uint32_t endMs = 0;
  int32_t row = 0;   // text row 0..23 where the line appeared
  std::string text;  // UTF-8, without the blanks at both ends
};

// The cues of the compiled tables in s (after subWRDTableCalc), in order of
// their start; entries that come after the song's last time-table entry are
// never shown and make none.
std::vector<TScreenTextCue> WRDScreenTextCues(const TWRDState& s, const TimeTableEntry* table,
                                              uint32_t entries);
