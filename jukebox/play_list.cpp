#include "jukebox/play_list.h"

#include <QFileInfo>

#include <algorithm>
#include <numeric>

#include "support/settings/quor_settings.h"

// One generator for the program's run, seeded once: seeding again from the
// clock for every draw repeats the same numbers within a clock tick.
TPlayList::TPlayList() : random_(std::random_device{}()) {}

QString TPlayList::path(int index) const {
  return index >= 0 && index < kMaxEntries ? paths_[size_t(index)] : QString();
}

void TPlayList::setPath(int index, const QString& path) {
  if (index >= 0 && index < kMaxEntries) paths_[size_t(index)] = path;
}

void TPlayList::setCount(int count) { count_ = std::clamp(count, 0, kMaxEntries); }

void TPlayList::clear() {
  for (QString& p : paths_) p.clear();
  count_ = 0;
}

bool TPlayList::append(const QString& path) {
  if (count_ >= kMaxEntries) return false;
  paths_[size_t(count_++)] = path;
  return true;
}

void TPlayList::shuffle() {
  order_.assign(size_t(std::max(count_, 1)), 0);
  std::iota(order_.begin(), order_.end(), 0);
  std::shuffle(order_.begin(), order_.end(), random_);
  position_ = -1;
}

int TPlayList::nextShuffled() {
  // An order built for a longer list may name entries that are gone.
  while (++position_ < int(order_.size()))
    if (order_[size_t(position_)] < std::max(count_, 1)) return lastPlayed_ = order_[size_t(position_)];
  shuffle();
  if (order_.size() > 1 && order_.front() == lastPlayed_) std::swap(order_.front(), order_.back());
  position_ = 0;
  return lastPlayed_ = order_.front();
}

QString PlayListValueName(int library, int index) { return QStringLiteral("L%1K%2").arg(library).arg(index); }

QStringList ReadStoredPlayList(const TQuorSettings& settings, int library) {
  QStringList paths = settings.readRun([library](int i) { return PlayListValueName(library, i); },
                                       TPlayList::kMaxEntries);
  paths.removeIf([](const QString& path) { return !QFileInfo(path).isFile(); });
  return paths;
}
