// The texts of the jukebox's status display, computed from the engine's
// status values.
#pragma once

#include <QString>

// A song position bar * 10000 + tick as "bar.beat.tick", bar counted from 1:
// 0 reads "1.0.000".
QString BarPositionText(int position);

// Milliseconds as "m:ss.mmm" ("0:00.000"); negative values read as 0.
QString TotalTimeText(int milliseconds);

// The elapsed time split over the three labels: "m:", "ss.", "mmm".
struct TElapsedTexts {
  QString minutes;
  QString seconds;
  QString millis;
};
TElapsedTexts ElapsedTexts(int milliseconds);

// A time signature packed as beats * 1000 + beat unit; each part outside
// 2 .. 64 becomes 4, so 6008 is 6/8 and 1 is 4/4.
struct TTimeSignature {
  int beats = 4;
  int beatUnit = 4;
};
TTimeSignature DecodeTimeSignature(int packed);
QString TimeSignatureText(TTimeSignature signature);

// Tempi the display believes: above 16 and below 512.
bool IsShownTempo(int tempo);

// The output level for the level bar (maximum kLevelMaximum), or -1 when the
// value is not one to show. With scaling, the level follows the volume
// slider (0 .. 100).
inline constexpr int kLevelMaximum = 16129;
int LevelBarPosition(int value, bool scaled, int volume);
