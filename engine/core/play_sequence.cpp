#include "engine/core/play_sequence.h"

#include <utility>

#include "support/guard.h"

PlaySequence::PlaySequence(PlaySteps& steps, Post post, Ended ended)
    : steps_(steps), post_(std::move(post)), ended_(std::move(ended)) {}

bool PlaySequence::play(const void* owner) {
  return QGuard("TForm1.OnUserPar2", false, [&] {
    switch (state_) {
      case State::Opening:
      case State::Starting:
        if (!stopAsked_) return false;  // the song must end first
        [[fallthrough]];
      case State::Stopping:
      case State::Closing:
        // A stop and a play back to back (a jukebox's Next): the play waits
        // for the close and starts then, for the one who asked.
        pendingPlay_ = true;
        pendingOwner_ = owner;
        return true;
      case State::Idle:
        break;
      default:
        return false;  // the song must end first
    }
    endFlag_ = stopOption_ == 0 ? -1 : 0;
    stopAsked_ = false;
    startFailed_ = false;
    if (!steps_.openOutputs()) {
      steps_.setResult(kErrOpen);
      startFailed_ = true;
      return false;
    }
    owner_ = owner;
    state_ = State::Opening;
    return true;
  });
}

void PlaySequence::applyStopKind(StopKind kind) {
  switch (kind) {
    case StopKind::Stop:
    case StopKind::StopQuiet: endFlag_ = -1; break;
    case StopKind::Next: endFlag_ = 0; break;
    case StopKind::Close: break;
  }
}

void PlaySequence::stop(StopKind kind) {
  QGuardVoid("TForm1.subStop", [&] {
    switch (state_) {
      case State::Idle:
      case State::Closing:
        return;
      case State::Opening:
      case State::Starting:
        // Not playing yet: it is closed as soon as its outputs are open.
        applyStopKind(kind);
        stopAsked_ = true;
        return;
      case State::Playing:
      case State::Paused:
      case State::Stopping:
        steps_.requestStop();
        if (kind == StopKind::Close) break;
        applyStopKind(kind);
        if (kind == StopKind::Stop && state_ != State::Stopping) steps_.wrdStopMessage();
        steps_.stopSong();
        break;
    }
    state_ = State::Stopping;
  });
}

void PlaySequence::pause() {
  if (state_ == State::Playing && steps_.pauseSong()) state_ = State::Paused;
}

void PlaySequence::resume() {
  if (state_ == State::Paused && steps_.resumeSong()) state_ = State::Playing;
}

void PlaySequence::opened(bool ok) {
  QGuardVoid("TForm1.OnUserPar1", [&] {
    if (state_ != State::Opening) return;
    if (!ok) steps_.setResult(kErrOpen);
    if (stopAsked_) {
      close();
      return;
    }
    state_ = State::Starting;
    // Started from the owner's queue, so that a stop that came meanwhile
    // is seen first.
    post_([this] { begin(); });
  });
}

void PlaySequence::begin() {
  QGuardVoid("TForm1.subStart", [&] {
    if (state_ != State::Starting) return;
    if (stopAsked_) {
      close();
      return;
    }
    if (!steps_.startSong()) {
      startFailed_ = true;
      close();
      return;
    }
    state_ = State::Playing;
    if (started_) started_();
  });
}

void PlaySequence::done() {
  QGuardVoid("TForm1.OnMomDone", [&] {
    if (state_ == State::Playing || state_ == State::Paused || state_ == State::Stopping) close();
  });
}

void PlaySequence::close() {
  state_ = State::Closing;
  if (!steps_.closeOutputs()) closed(1);  // nothing could be started to close them: end here
}

void PlaySequence::closed(int32_t closeResult) {
  QGuardVoid("TForm1.OnMOMClose", [&] {
    if (state_ != State::Closing) return;
    if (closeResult != 0) steps_.setResult(kErrStreamClose);
    steps_.songClosed();
    state_ = State::Idle;
    report();
    if (pendingPlay_) {
      pendingPlay_ = false;
      play(pendingOwner_);
    }
  });
}

// The song's end: the WRD display goes as STOPOPTION says, and the end is
// reported once, with the song's owner.
void PlaySequence::report() {
  const bool visible = steps_.wrdVisible();
  if (steps_.wrdLoaded() && (stopOption_ == 0 || !visible)) steps_.wrdStop();
  int32_t status = kStatusEndedStop;
  if (endFlag_) {
    if (steps_.wrdLoaded() && visible && stopOption_ == 1) steps_.wrdStop();
  } else {
    endFlag_ = -1;
    status = kStatusEndedContinue;
  }
  if (ended_) ended_(status, owner_);
}

const char* PlayStateName(PlaySequence::State state) {
  switch (state) {
    case PlaySequence::State::Idle: return "idle";
    case PlaySequence::State::Opening: return "opening";
    case PlaySequence::State::Starting: return "starting";
    case PlaySequence::State::Playing: return "playing";
    case PlaySequence::State::Paused: return "paused";
    case PlaySequence::State::Stopping: return "stopping";
    case PlaySequence::State::Closing: return "closing";
  }
  return "?";
}
