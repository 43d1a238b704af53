// Running qmidi-tool and FFmpeg's command-line programs from the render
// tests, and reading what they wrote.
#pragma once

#include <sys/wait.h>

#include <array>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/common/test_files.h"

namespace rendertest {

// Runs a shell command; its exit status, and its standard output (the
// standard error too when merge is set).
inline int Run(const std::string& command, std::string* out = nullptr, bool merge = true) {
  FILE* p = popen((command + (merge ? " 2>&1" : " 2>/dev/null")).c_str(), "r");
  if (!p) return -1;
  std::string text;
  std::array<char, 65536> buf;
  size_t n;
  while ((n = fread(buf.data(), 1, buf.size(), p)) > 0) text.append(buf.data(), n);
  const int status = pclose(p);
  if (out) *out = std::move(text);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

inline int Tool(const std::string& args, std::string* out = nullptr) {
  return Run(std::string(QMIDI_TOOL) + " " + args, out);
}

// The tool's --json object on standard output (stderr kept apart).
inline std::string ToolJson(const std::string& args) {
  std::string out;
  Run(std::string(QMIDI_TOOL) + " " + args + " --json", &out, false);
  return out;
}

// A whole number field of a flat JSON object; -1 when missing.
inline int64_t JsonNumber(const std::string& json, const std::string& key) {
  const std::string k = "\"" + key + "\":";
  const size_t at = json.find(k);
  if (at == std::string::npos) return -1;
  return std::stoll(json.substr(at + k.size()));
}

inline std::string JsonText(const std::string& json, const std::string& key) {
  const std::string k = "\"" + key + "\":\"";
  const size_t at = json.find(k);
  if (at == std::string::npos) return {};
  return json.substr(at + k.size(), json.find('"', at + k.size()) - at - k.size());
}

// Mono 16-bit sound of a file's first audio stream at rate, as FFmpeg decodes it.
inline std::vector<int16_t> DecodeSound(const std::string& path, int rate) {
  std::string raw;
  Run("ffmpeg -v error -i '" + path + "' -map 0:a:0 -ac 1 -ar " + std::to_string(rate) + " -f s16le -", &raw, false);
  std::vector<int16_t> out(raw.size() / 2);
  for (size_t i = 0; i < out.size(); ++i)
    out[i] = static_cast<int16_t>(static_cast<uint8_t>(raw[2 * i]) | static_cast<uint8_t>(raw[2 * i + 1]) << 8);
  return out;
}

// Both sides of a file's first audio stream at rate: left and right
// 16-bit samples, one after the other.
inline std::vector<int16_t> DecodeStereo(const std::string& path, int rate) {
  std::string raw;
  Run("ffmpeg -v error -i '" + path + "' -map 0:a:0 -ac 2 -ar " + std::to_string(rate) + " -f s16le -", &raw, false);
  std::vector<int16_t> out(raw.size() / 2);
  for (size_t i = 0; i < out.size(); ++i)
    out[i] = static_cast<int16_t>(static_cast<uint8_t>(raw[2 * i]) | static_cast<uint8_t>(raw[2 * i + 1]) << 8);
  return out;
}

// Every picture of a video as RGB (width x height x 3 bytes each).
inline std::vector<std::vector<uint8_t>> DecodeFrames(const std::string& path, int width, int height,
                                                      const std::string& filter = "") {
  std::string raw;
  Run("ffmpeg -v error -i '" + path + "' -map 0:v:0 " + (filter.empty() ? "" : "-vf '" + filter + "' ") +
          "-fps_mode passthrough -f rawvideo -pix_fmt rgb24 -",
      &raw, false);
  const size_t size = static_cast<size_t>(width) * height * 3;
  std::vector<std::vector<uint8_t>> frames;
  for (size_t at = 0; at + size <= raw.size(); at += size)
    frames.emplace_back(raw.begin() + static_cast<long>(at), raw.begin() + static_cast<long>(at + size));
  return frames;
}

// ffprobe's value of one entry ("stream=nb_read_frames") of the first stream of a kind.
inline std::string Probe(const std::string& path, const std::string& stream, const std::string& entry,
                         bool count = false) {
  std::string out;
  Run("ffprobe -v error " + std::string(count ? "-count_frames " : "") + "-select_streams " + stream +
          " -show_entries " + entry + " -of default=noprint_wrappers=1:nokey=1 '" + path + "'",
      &out, false);
  while (!out.empty() && (out.back() == '\n' || out.back() == '\r')) out.pop_back();
  return out;
}

// The first sample whose size passes threshold; -1 when none does.
inline int64_t Onset(const std::vector<int16_t>& sound, int threshold, size_t from = 0) {
  for (size_t i = from; i < sound.size(); ++i)
    if (sound[i] > threshold || sound[i] < -threshold) return static_cast<int64_t>(i);
  return -1;
}

// The files in a folder (to see that nothing was left behind).
inline std::vector<std::string> Files(const std::filesystem::path& dir) {
  std::vector<std::string> out;
  for (const auto& e : std::filesystem::directory_iterator(dir)) out.push_back(e.path().filename().string());
  return out;
}

}  // namespace rendertest
