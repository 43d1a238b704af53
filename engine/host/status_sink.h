// Where the engine's status notifications go: the client that registered
// itself (the automation interface installs its sink here). Value1 tells the
// kind: above 0 the periodic display values, -1 ended and stop, -2 ended and
// continue, -3 key down, -4 key up. Nothing is raised while no sink is set.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "support/file_record.h"

class TStatusSink {
 public:
  virtual ~TStatusSink() = default;
  // Called on the engine's window thread only.
  virtual void OnStatus(int32_t value1, int32_t value2, int32_t value3, int32_t value4) = 0;
};

// A sink that appends one line per notification ("v1 v2 v3 v4") to a file,
// flushed at once, so that scripts and tests can follow a run
// (QMIDI_STATUS_LOG names the file).
class TStatusFileSink final : public TStatusSink {
 public:
  // Only a regular file (followed through a symbolic link) is written: a
  // FIFO would stop the engine at the open until someone read it.
  explicit TStatusFileSink(const std::string& path) {
    std::string target, error;
    if (QGOutputTarget(path, &target, &error)) file_ = std::fopen(target.c_str(), "w");
  }
  ~TStatusFileSink() override {
    if (file_) std::fclose(file_);
  }
  TStatusFileSink(const TStatusFileSink&) = delete;
  TStatusFileSink& operator=(const TStatusFileSink&) = delete;

  bool isOpen() const { return file_ != nullptr; }
  void OnStatus(int32_t v1, int32_t v2, int32_t v3, int32_t v4) override {
    if (!file_) return;
    std::fprintf(file_, "%d %d %d %d\n", v1, v2, v3, v4);
    std::fflush(file_);
  }

 private:
  std::FILE* file_;
};
