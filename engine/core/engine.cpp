#include "engine/core/engine.h"

#include "engine/song/song_lyrics.h"
#include "support/cp932.h"
#include "support/guard.h"

namespace {

template <class T>
T& Or(T* given, T& standIn) {
  return given ? *given : standIn;
}

}  // namespace

Engine::Engine(EngineServices services, const EngineSettings& settings)
    : services_(services),
      song_(result_),
      player_(Or(services.devices, QDNoMidiDevices()), Or(services.timer, QDSystemClock()), result_),
      display_(Or(services.presenter, QDNoPresenter()), Or(services.glyphs, QRNoGlyphs()), result_),
      wrd_(display_, result_),
      properties_(player_) {
  player_.setListener(this);
  wrd_.pictures().setMessages(services.messages);
  apply(settings);
}

Engine::~Engine() {
  // The player's threads may still run: they report to nobody from here on
  // and no WRD step runs against the runtime that goes first.
  player_.setListener(nullptr);
  player_.setWrdStep(false);
  wrd_.stopTicks();
}

void Engine::apply(const EngineSettings& settings) {
  TMIDIEXE& p = properties_;
  p.setDEVICEID1A(settings.devices[kQDPortAFirst]);
  p.setDEVICEID2A(settings.devices[kQDPortBFirst]);
  p.setDEVICEID1B(settings.devices[kQDPortASecond]);
  p.setDEVICEID2B(settings.devices[kQDPortBSecond]);
  p.setTIMERMIDI(settings.timerMidi);
  p.setRESETMODE(settings.resetMode);
  p.setEXTOPTION4((p.getEXTOPTION4() & ~1) | (settings.xyMode ? 1 : 0));
  setWrdVisible(settings.wrdVisible);
  wrd_.setWRDDelay(settings.wrdDelay);
  wrd_.state().inputs.displayOffset = settings.wrdDelay;
  wrd_.state().inputs.xyMode = settings.xyMode;
  wrd_.font = settings.font;
}

EngineSettings Engine::settings() const {
  EngineSettings out;
  const TMIDIEXEState& s = player_.state();
  for (int o = 0; o < kQDOutputs; ++o) out.devices[o] = s.deviceId(o);
  out.timerMidi = s.TIMERMIDI.load();
  out.resetMode = s.RESETMODE.load();
  out.xyMode = (s.EXTOPTION4.load() & 1) != 0;
  out.wrdVisible = wrdVisible_;
  out.wrdDelay = wrd_.getWRDDelay();
  out.font = wrd_.font;
  return out;
}

void Engine::setWrdVisible(bool visible) {
  wrdVisible_ = visible;
  player_.setWrdDisplay(visible);
  wrd_.setVisible(visible ? -1 : 0);
}

// --- The play sequence's steps ------------------------------------------------------

bool Engine::openOutputs() {
  return QGuard("TForm1.subOpen", false, [&] {
    if (song_.getinFileName().empty()) return false;
    song_.QGmstTitle();
    return player_.openAsync();
  });
}

bool Engine::startSong() {
  return QGuard("TForm1.subStart", false, [&] {
    wrd_.loadMessage(song_.getinFileName());
    PackedSong packed;
    bool handed = false;
    if (!player_.currentHandle()) {
      result_.set(kQDErrNoOutput);  // converting for no device
      QGTrText("TQUORMSTR.QGmstPreHeader");
    } else {
      handed = song_.Convert(3, player_.state().RESETMODE.load(), &packed) && player_.take(std::move(packed));
    }
    if (!handed) {
      result_.set(kErrPreHeader);
      return false;
    }
    if (!wrd_.load(song_.getWRDFileName(), player_.song())) result_.set(kErrWrdLoad);
    if (!wrd_.active()) showLyrics();
    song_.setdwTitleIdx(0);
    const uint32_t hyosi = song_.getdwHyosi();
    const int32_t beats = static_cast<int32_t>(hyosi >> 24);
    wrd_.setBeatsPerBar(beats == 0 ? 4 : beats);
    player_.setSongInfo(player_.song().tickDivision, hyosi);
    if (wrdVisible_ && wrd_.displayExists() && wrd_.loaded()) {
      wrd_.startMessage();
      wrd_.tableCalc();
      wrd_.keepStart();
    }
    wrd_.state().running = 0;
    player_.setTimeDivision(player_.song().division);
    wrd_.state().running = -1;
    player_.setWrdStep(wrd_.active(), wrd_.lyricsShown());
    if (!player_.start()) {
      result_.set(kErrStreamOut);
      return false;
    }
    if (!player_.release()) {
      result_.set(kErrRestart);
      return false;
    }
    return true;
  });
}

// A song without a script (or whose script did not load) shows its lyrics,
// if it has any, on the WRD display.
void Engine::showLyrics() {
  if (!wrdVisible_) return;
  TSongLyrics lyrics = ReadSongLyrics(song_.getinFileName());
  if (!lyrics.empty()) wrd_.showLyrics(std::move(lyrics), Cp932ToUtf8(song_.getinFileTitle()));
}

void Engine::stopSong() {
  wrd_.state().running = 0;
  player_.stop();
}

void Engine::requestStop() { player_.requestStop(); }

bool Engine::seek(int32_t ms) {
  return QGuard("TForm1.subSeek", false, [&] {
    if (!player_.seek(ms)) return false;
    if (wrd_.active()) wrd_.seek(player_.position());
    return true;
  });
}

bool Engine::pauseSong() { return player_.pause(); }

bool Engine::resumeSong() { return player_.resume(); }

bool Engine::closeOutputs() {
  wrd_.state().running = 0;
  return player_.closeAsync();
}

void Engine::songClosed() { player_.forgetSong(); }

void Engine::wrdStop() {
  player_.setWrdStep(false);
  wrd_.stop();
}

// --- The player's reports ------------------------------------------------------------

void Engine::playerOpened(bool ok) {
  if (EngineListener* l = listener()) l->engineOpened(ok);
}

void Engine::playerDone() {
  if (EngineListener* l = listener()) l->engineDone();
}

void Engine::playerClosed(MidiResult result) {
  if (EngineListener* l = listener()) l->engineClosed(result);
}

void Engine::playerProgress(int32_t msSinceStart) {
  if (EngineListener* l = listener()) l->engineProgress(msSinceStart);
}

// The WRD step of the status thread: the song position reached, told to the
// presenter (recorded frames carry it) and run by the WRD runtime, or the
// lyrics drawn as they stand after the ticks played.
void Engine::playerWrdStep(uint32_t) {
  if (wrd_.lyricsShown()) {
    display_.presenter().setSongPosition(player_.position());
    wrd_.tickLyrics(static_cast<uint64_t>(player_.state().totalTicks.load()));
    return;
  }
  // The position is read once the tick is held, so that a jump made
  // meanwhile is never undone by a position read before it.
  wrd_.tickAt([this] {
    const int32_t position = player_.position();
    display_.presenter().setSongPosition(position);
    return position;
  });
}
