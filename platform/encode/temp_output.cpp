#include "platform/encode/temp_output.h"

#include <unistd.h>

#include <atomic>
#include <cctype>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <system_error>

namespace fs = std::filesystem;

namespace {

volatile std::sig_atomic_t g_interrupted = 0;

void onSignal(int) { g_interrupted = 1; }

}  // namespace

TempOutput::TempOutput(std::string finalPath) : final_(std::move(finalPath)) {
  fs::path p(final_);
  temp_ = (p.parent_path() / ("." + p.filename().string() + ".part-" + std::to_string(::getpid()))).string();
}

TempOutput::~TempOutput() {
  if (committed_) return;
  std::error_code ec;
  fs::remove(temp_, ec);
}

bool TempOutput::commit(std::string* error) {
  if (std::rename(temp_.c_str(), final_.c_str()) != 0) {
    if (error) *error = "cannot rename the finished file into \"" + final_ + "\": " + std::strerror(errno);
    return false;
  }
  committed_ = true;
  return true;
}

InterruptGuard::InterruptGuard() {
  g_interrupted = 0;
  std::signal(SIGINT, onSignal);
  std::signal(SIGTERM, onSignal);
}

InterruptGuard::~InterruptGuard() {
  std::signal(SIGINT, SIG_DFL);
  std::signal(SIGTERM, SIG_DFL);
}

bool InterruptGuard::interrupted() { return g_interrupted != 0; }

std::string LowerExtension(const std::string& path) {
  std::string ext = fs::path(path).extension().string();
  for (char& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return ext;
}
