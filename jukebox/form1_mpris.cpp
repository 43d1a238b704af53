#include "jukebox/form1_mpris.h"

#include "QMIDICTLXControl.h"
#include "jukebox/form1.h"

#include <algorithm>

void TForm1Mpris::mprisPlay() {
  if (form_.isPaused())
    form_.resumePaused();
  else if (!form_.isPlaying())
    form_.MN_FILESTARTClick();
}

void TForm1Mpris::mprisPause() {
  if (form_.isPlaying() && !form_.isPaused()) form_.MN_FILEPAUSEClick();
}

void TForm1Mpris::mprisStop() { form_.MN_FILESTOPClick(); }
// The desktop's Next means another song: the window's automatic step to the
// next entry (its Next command would start the current song again first).
// Without automatic play there is no next entry: the Next command then.
void TForm1Mpris::mprisNext() {
  if (!form_.stepEntry(true)) form_.MN_FILENEXTClick();
}

void TForm1Mpris::mprisPrevious() {
  if (!form_.stepEntry(false)) form_.MN_FILEBACKClick();
}

void TForm1Mpris::mprisRaise() {
  form_.showNormal();
  form_.raise();
  form_.activateWindow();
}

TMprisPlayer::State TForm1Mpris::mprisState() const {
  if (form_.isPaused()) return State::Paused;
  return form_.isPlaying() ? State::Playing : State::Stopped;
}

QString TForm1Mpris::mprisTitle() const { return form_.currentTitle(); }
QString TForm1Mpris::mprisFile() const { return form_.currentFile(); }

// The length the window read at the song's first progress report.
int64_t TForm1Mpris::mprisLengthUs() const { return int64_t{form_.songLengthMs()} * 1000; }

QString TForm1Mpris::mprisArtist() const { return form_.currentArtist(); }

int64_t TForm1Mpris::mprisPositionUs() const { return int64_t{form_.positionMs()} * 1000; }

// The volume slider (0 .. 100), which sets the devices' volume.
double TForm1Mpris::mprisVolume() const { return form_.volume() / 100.0; }
void TForm1Mpris::setMprisVolume(double volume) { form_.setVolume(qRound(std::clamp(volume, 0.0, 1.0) * 100)); }

bool TForm1Mpris::mprisShuffle() const { return form_.randomOn(); }
void TForm1Mpris::setMprisShuffle(bool on) { form_.switchRandom(on); }

// Automatic play: one song after another through the list.
bool TForm1Mpris::mprisLoop() const { return form_.autoPlayOn(); }
void TForm1Mpris::setMprisLoop(bool on) { form_.setAutoPlay(on); }

void TForm1Mpris::mprisOpen(const QString& path) { form_.addSongs({path}, true); }
