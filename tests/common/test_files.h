// Test fixtures: a fresh temporary folder per test, file writing, and the
// shared test data folder.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace qtest {

// A temporary folder removed at the end of its scope.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::filesystem::path& path() const { return path_; }
  std::string file(const std::string& name) const { return (path_ / name).string(); }
  // Writes bytes into name inside the folder; returns the full path.
  std::string write(const std::string& name, const std::vector<uint8_t>& bytes) const;
  std::string write(const std::string& name, const std::string& text) const;
  // A folder inside this one whose path is at least minBytes long, made of
  // Japanese folder names (three UTF-8 bytes a character, as real
  // collections have them); returns its path.
  std::string longFolder(size_t minBytes) const;

 private:
  std::filesystem::path path_;
};

std::vector<uint8_t> ReadBytes(const std::string& path);
std::string ReadText(const std::string& path);
// Path inside the test data folder (tests/data); a missing file fails the test.
std::string TestData(const std::string& relative);
std::vector<std::string> TestDataFiles(const std::string& folder, const std::string& extension = "");

// Starts a fresh trace run writing into dir (as if the program lived there).
void StartTrace(const TempDir& dir);
// Lines of the trace file of the current run.
std::vector<std::string> TraceLines();

}  // namespace qtest
