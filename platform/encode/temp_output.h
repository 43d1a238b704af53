// An output file written under a temporary name beside its final one and
// renamed into place only when it is complete, so that a failed or
// interrupted render leaves no partial file behind. Ctrl-C and SIGTERM only
// raise a flag that a render polls; it then stops and the temporary goes.
#pragma once

#include <string>

// (Whether a path may be written at all is QGOutputTarget's to say,
// support/file_record.h: the final path given here is what it returned.)
class TempOutput {
 public:
  explicit TempOutput(std::string finalPath);
  ~TempOutput();  // removes the temporary unless committed
  TempOutput(const TempOutput&) = delete;
  TempOutput& operator=(const TempOutput&) = delete;

  // The temporary name: a hidden file in the final file's folder.
  const std::string& path() const { return temp_; }
  const std::string& finalPath() const { return final_; }
  // Renames the temporary into place; false with a message when that fails.
  bool commit(std::string* error);

 private:
  std::string final_;
  std::string temp_;
  bool committed_ = false;
};

// Catches SIGINT and SIGTERM into a flag (until the guard goes).
class InterruptGuard {
 public:
  InterruptGuard();
  ~InterruptGuard();
  InterruptGuard(const InterruptGuard&) = delete;
  InterruptGuard& operator=(const InterruptGuard&) = delete;
  static bool interrupted();
};

// The extension of a path, lower case, with its dot ("" without one).
std::string LowerExtension(const std::string& path);
