// The play sequence as a state machine, on steps that only record what they
// are asked: every order of the owner's requests (PLAY, STOP, PAUSE,
// RESTART, CLOSE, F3, Next) arriving while a song opens, starts, plays or
// stops, and the player's reports arriving after them. Whatever the order,
// every song opened ends with exactly one end report with its owner, and no
// song stopped before it started ever plays.
#include <gtest/gtest.h>

#include <algorithm>
#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "engine/core/play_sequence.h"

namespace {

using State = PlaySequence::State;

class FakeSteps final : public PlaySteps {
 public:
  bool openOutputs() override {
    ++opens;
    return songNamed;
  }
  bool startSong() override {
    ++starts;
    started.push_back(opens);  // the song opened last
    return startWorks;
  }
  void stopSong() override { ++stops; }
  void requestStop() override { ++stopRequests; }
  bool pauseSong() override { return ++pauses, true; }
  bool resumeSong() override { return ++resumes, true; }
  bool closeOutputs() override { return ++closes, true; }
  void songClosed() override { ++closed; }
  bool wrdLoaded() override { return wrd; }
  bool wrdVisible() override { return true; }
  void wrdStop() override {
    ++wrdStops;
    wrd = false;
  }
  void wrdStopMessage() override { ++stopMessages; }
  void setResult(int32_t code) override { results.push_back(code); }

  bool songNamed = true, startWorks = true, wrd = false;
  int opens = 0, starts = 0, stops = 0, stopRequests = 0, pauses = 0, resumes = 0, closes = 0, closed = 0,
      wrdStops = 0, stopMessages = 0;
  std::vector<int32_t> results;
  std::vector<int> started;  // which songs started (1 the first opened)
};

// A sequence on fake steps, its queue drained by hand.
class Rig {
 public:
  // Runs what was posted, in order.
  void Drain() {
    while (!queue.empty()) {
      auto f = std::move(queue.front());
      queue.pop_front();
      f();
    }
  }
  // The player reports whatever the state waits for until the machine is
  // idle; a song that plays ends by itself, a paused one is stopped.
  void Settle() {
    for (int i = 0; i < 20 && seq.state() != State::Idle; ++i) {
      Drain();
      switch (seq.state()) {
        case State::Opening: seq.opened(true); break;
        case State::Starting: Drain(); break;
        case State::Playing: seq.done(); break;
        case State::Paused: seq.stop(StopKind::Stop); break;
        case State::Stopping: seq.done(); break;
        case State::Closing: seq.closed(0); break;
        case State::Idle: break;
      }
      Drain();
    }
  }
  // Brings the first song to the state.
  void Reach(State s) {
    ASSERT_TRUE(seq.play(kOwner));
    if (s == State::Opening) return;
    seq.opened(true);
    if (s == State::Starting) return;
    Drain();
    if (s == State::Playing) return;
    seq.stop(StopKind::Stop);
    ASSERT_EQ(seq.state(), State::Stopping);
  }

  static inline const void* const kOwner = reinterpret_cast<const void*>(7);
  static inline const void* const kOther = reinterpret_cast<const void*>(9);
  FakeSteps steps;
  std::deque<std::function<void()>> queue;
  std::vector<std::pair<int32_t, const void*>> ends;
  PlaySequence seq{steps, [this](std::function<void()> f) { queue.push_back(std::move(f)); },
                    [this](int32_t status, const void* owner) {
                      ends.emplace_back(status, owner);
                      seq.setOwner(nullptr);  // as the windows do with a status sink
                    }};
};

class Sequence : public ::testing::Test, public Rig {};

enum class Request { Play, Stop, Pause, Restart, Close, F3, Next };
const char* kRequestNames[] = {"PLAY", "STOP", "PAUSE", "RESTART", "CLOSE", "F3", "Next"};

void Send(PlaySequence& seq, Request r, const void* owner) {
  switch (r) {
    case Request::Play: seq.play(owner); break;
    case Request::Stop: seq.stop(StopKind::Stop); break;
    case Request::Pause: seq.pause(); break;
    case Request::Restart: seq.resume(); break;
    case Request::Close: seq.stop(StopKind::Stop); break;
    case Request::F3: seq.stop(StopKind::Close); break;
    case Request::Next: seq.stop(StopKind::Next); break;
  }
}

bool Stops(Request r) { return r == Request::Stop || r == Request::Close || r == Request::F3 || r == Request::Next; }

TEST_F(Sequence, StopRightAfterPlayStopsTheSongBeforeItPlays) {
  ASSERT_TRUE(seq.play(kOwner));
  seq.stop(StopKind::Stop);
  seq.opened(true);
  EXPECT_EQ(seq.state(), State::Closing);
  seq.closed(0);
  EXPECT_EQ(steps.starts, 0) << "never started";
  ASSERT_EQ(ends.size(), 1u);
  EXPECT_EQ(ends[0], std::make_pair(kStatusEndedStop, kOwner));
  EXPECT_EQ(seq.owner(), nullptr);
  EXPECT_EQ(seq.state(), State::Idle);
}

TEST_F(Sequence, PlayStopPlayWhileOpeningPlaysTheSecondOnly) {
  ASSERT_TRUE(seq.play(kOwner));
  EXPECT_FALSE(seq.play(kOther)) << "the song must end first";
  seq.stop(StopKind::Stop);
  EXPECT_TRUE(seq.play(kOther));
  EXPECT_TRUE(seq.playPending());
  seq.opened(true);
  seq.closed(0);
  ASSERT_EQ(ends.size(), 1u);
  EXPECT_EQ(ends[0], std::make_pair(kStatusEndedStop, kOwner));
  EXPECT_EQ(seq.state(), State::Opening);
  EXPECT_EQ(seq.owner(), kOther);
  seq.opened(true);
  Drain();
  EXPECT_EQ(seq.state(), State::Playing);
  EXPECT_EQ(steps.starts, 1);
}

TEST_F(Sequence, AStopQueuedBeforeTheStartWinsOverIt) {
  ASSERT_TRUE(seq.play(kOwner));
  seq.opened(true);  // the start is posted, not yet run
  EXPECT_EQ(seq.state(), State::Starting);
  seq.stop(StopKind::Next);
  Drain();
  EXPECT_EQ(steps.starts, 0);
  seq.closed(0);
  ASSERT_EQ(ends.size(), 1u);
  EXPECT_EQ(ends[0].first, kStatusEndedContinue);  // Next asks for the next song
}

TEST_F(Sequence, APlayWhileStoppingStartsAtTheCloseForItsOwner) {
  Reach(State::Playing);
  seq.stop(StopKind::Stop);
  EXPECT_TRUE(seq.play(kOther));
  EXPECT_TRUE(seq.playPending());
  seq.done();
  seq.closed(0);
  ASSERT_EQ(ends.size(), 1u);
  EXPECT_EQ(ends[0], std::make_pair(kStatusEndedStop, kOwner));
  EXPECT_EQ(seq.state(), State::Opening) << "the next song opens at once";
  EXPECT_EQ(seq.owner(), kOther);
  Settle();
  ASSERT_EQ(ends.size(), 2u);
  EXPECT_EQ(ends[1].second, kOther);
}

TEST_F(Sequence, FailuresStillEndTheSongOnceWithTheirCodes) {
  steps.startWorks = false;
  ASSERT_TRUE(seq.play(kOwner));
  seq.opened(false);  // the last device did not open
  Drain();
  EXPECT_EQ(seq.state(), State::Closing);
  seq.closed(5);  // and one did not close
  EXPECT_EQ(steps.results, (std::vector<int32_t>{kErrOpen, kErrStreamClose}));
  EXPECT_TRUE(seq.startFailed());
  EXPECT_EQ(ends.size(), 1u);

  // No song to open: nothing starts and nothing is reported.
  steps.songNamed = false;
  EXPECT_FALSE(seq.play(kOwner));
  EXPECT_EQ(seq.state(), State::Idle);
  EXPECT_EQ(ends.size(), 1u);
}

TEST_F(Sequence, StopOptionChoosesTheEndReportAndTheWrdDisplay) {
  steps.wrd = true;
  seq.setStopOption(1);
  Reach(State::Playing);
  seq.done();  // the song's own end with STOPOPTION 1: the next may follow
  seq.closed(0);
  EXPECT_EQ(ends.back().first, kStatusEndedContinue);
  EXPECT_EQ(steps.wrdStops, 0) << "the WRD screen stays between songs";
  Reach(State::Playing);
  seq.stop(StopKind::Stop);  // a stop still reports -1 and ends the screen
  Settle();
  EXPECT_EQ(ends.back().first, kStatusEndedStop);
  EXPECT_EQ(steps.wrdStops, 1);
  EXPECT_EQ(steps.stopMessages, 1);
}

TEST_F(Sequence, PauseAndRestartOnlyWhilePlaying) {
  Reach(State::Opening);
  seq.pause();
  seq.opened(true);
  Drain();
  EXPECT_EQ(seq.state(), State::Playing);
  seq.resume();
  EXPECT_EQ(steps.resumes, 0);
  seq.pause();
  EXPECT_EQ(seq.state(), State::Paused);
  seq.pause();
  EXPECT_EQ(steps.pauses, 1);
  seq.resume();
  EXPECT_EQ(seq.state(), State::Playing);
  EXPECT_EQ(steps.resumes, 1);
}

// Every pair of requests, in each state a song passes through, then the
// player's reports: one end report per song opened, songs stopped before
// they started never start, the machine idle and the owner released.
TEST_F(Sequence, EveryOrderOfRequestsEndsEverySongOnce) {
  const State states[] = {State::Opening, State::Starting, State::Playing, State::Stopping};
  const Request all[] = {Request::Play,  Request::Stop, Request::Pause, Request::Restart,
                         Request::Close, Request::F3,   Request::Next};
  for (State at : states) {
    for (Request first : all) {
      for (Request second : all) {
        SCOPED_TRACE(std::string(PlayStateName(at)) + ": " + kRequestNames[static_cast<int>(first)] + ", " +
                     kRequestNames[static_cast<int>(second)]);
        Rig r;
        r.Reach(at);
        const bool notStarted = at == State::Opening || at == State::Starting;
        Send(r.seq, first, kOther);
        Send(r.seq, second, kOther);
        const bool stoppedEarly = notStarted && (Stops(first) || Stops(second));
        r.Settle();
        EXPECT_EQ(r.seq.state(), State::Idle);
        EXPECT_EQ(static_cast<int>(r.ends.size()), r.steps.opens);
        EXPECT_EQ(r.steps.closed, r.steps.opens);
        EXPECT_EQ(r.seq.owner(), nullptr);
        EXPECT_FALSE(r.seq.playPending());
        if (stoppedEarly) {
          EXPECT_EQ(std::count(r.steps.started.begin(), r.steps.started.end(), 1), 0) << "the first never played";
        }
        for (const auto& [status, owner] : r.ends) {
          EXPECT_TRUE(status == kStatusEndedStop || status == kStatusEndedContinue);
          EXPECT_TRUE(owner == kOwner || owner == kOther);
        }
      }
    }
  }
}

}  // namespace
