#include "tests/common/test_files.h"

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <fstream>
#include <random>
#include <sstream>

#include <gtest/gtest.h>

#include "support/trace.h"

namespace fs = std::filesystem;

namespace qtest {

TempDir::TempDir() {
  static std::atomic<int> counter{0};
  std::random_device rd;
  path_ = fs::temp_directory_path() /
          ("qmidi-test-" + std::to_string(::getpid()) + "-" + std::to_string(counter++) + "-" +
           std::to_string(rd() % 100000));
  fs::create_directories(path_);
}

TempDir::~TempDir() {
  std::error_code ec;
  fs::remove_all(path_, ec);
}

std::string TempDir::write(const std::string& name, const std::vector<uint8_t>& bytes) const {
  fs::path p = path_ / name;
  fs::create_directories(p.parent_path());
  std::ofstream out(p, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  return p.string();
}

std::string TempDir::write(const std::string& name, const std::string& text) const {
  return write(name, std::vector<uint8_t>(text.begin(), text.end()));
}

std::string TempDir::longFolder(size_t minBytes) const {
  // "演奏曲集" four times: 48 bytes a folder, well below a name's 255.
  const std::string part = "\xe6\xbc\x94\xe5\xa5\x8f\xe6\x9b\xb2\xe9\x9b\x86";
  fs::path p = path_;
  for (int i = 0; p.string().size() < minBytes; ++i) p /= part + part + part + part + std::to_string(i);
  fs::create_directories(p);
  return p.string();
}

std::vector<uint8_t> ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

std::string ReadText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

std::string TestData(const std::string& relative) {
  std::string path = (fs::path(QMIDI_TESTDATA_DIR) / relative).string();
  std::error_code ec;
  // A missing file must fail the test by name, not show up as a mismatch later.
  if (!fs::exists(path, ec)) ADD_FAILURE() << "test data missing: " << path;
  return path;
}

std::vector<std::string> TestDataFiles(const std::string& folder, const std::string& extension) {
  std::vector<std::string> out;
  std::error_code ec;
  for (const auto& e : fs::recursive_directory_iterator(TestData(folder), ec)) {
    if (!e.is_regular_file()) continue;
    if (!extension.empty() && e.path().extension() != extension) continue;
    out.push_back(e.path().string());
  }
  if (out.empty()) ADD_FAILURE() << "no test data in " << TestData(folder);
  std::sort(out.begin(), out.end());
  return out;
}

void StartTrace(const TempDir& dir) { QGTrOpen(dir.file("program")); }

std::vector<std::string> TraceLines() {
  std::vector<std::string> lines;
  std::ifstream in(QGTrFilePath(), std::ios::binary);
  std::string line;
  while (std::getline(in, line)) lines.push_back(line);
  return lines;
}

}  // namespace qtest
