// The play list in memory: up to 1024 full paths in list order, and the
// shuffled order random play walks through.
#pragma once

#include <QString>
#include <QStringList>

#include <array>
#include <random>
#include <vector>

class TQuorSettings;

class TPlayList {
 public:
  static constexpr int kMaxEntries = 1024;

  TPlayList();

  // "" for an index outside 0 .. kMaxEntries-1 or an empty slot.
  QString path(int index) const;
  void setPath(int index, const QString& path);
  int count() const { return count_; }
  void setCount(int count);
  // Empties every slot; the count becomes 0.
  void clear();
  // Stores path in the next slot; false when the list is full.
  bool append(const QString& path);

  // A new random order of 0 .. count-1 (just entry 0 with fewer than two
  // entries); none of it has been played yet.
  void shuffle();
  // The entry after the last one played in the random order; once every
  // entry has had its turn a new order is built, which does not begin with
  // the entry just played.
  int nextShuffled();
  const std::vector<int>& shuffleOrder() const { return order_; }

 private:
  std::array<QString, kMaxEntries> paths_;
  int count_ = 0;
  std::vector<int> order_{0};
  int position_ = -1;  // index into order_ of the entry last played
  int lastPlayed_ = -1;
  std::mt19937 random_;
};

// The settings value of entry `index` of stored list `library`: "L3K0".
QString PlayListValueName(int library, int index);

// The stored list `library`: its values from index 0 up to the first empty
// one (at most kMaxEntries), leaving out files that no longer exist.
QStringList ReadStoredPlayList(const TQuorSettings& settings, int library);
