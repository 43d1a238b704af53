#include "platform/encode/audio_file.h"

#include <sndfile.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "platform/encode/temp_output.h"

bool AudioFileFormatFor(const std::string& path, AudioFileFormat* format) {
  const std::string ext = LowerExtension(path);
  if (ext == ".wav") {
    *format = {"WAV", SF_FORMAT_WAV | SF_FORMAT_PCM_16, 44100, true, true};
  } else if (ext == ".flac") {
    *format = {"FLAC", SF_FORMAT_FLAC | SF_FORMAT_PCM_16, 44100, true, true};
  } else if (ext == ".ogg" || ext == ".oga") {
    *format = {"Ogg Vorbis", SF_FORMAT_OGG | SF_FORMAT_VORBIS, 44100, true};
  } else if (ext == ".opus") {
    *format = {"Ogg Opus", SF_FORMAT_OGG | SF_FORMAT_OPUS, 48000, false};
  } else {
    return false;
  }
  return true;
}

bool AudioFileRateAllowed(const AudioFileFormat& format, int rate, std::string* error) {
  if (rate < 8000 || rate > 192000) {
    *error = "the rate must be 8000 to 192000 Hz";
    return false;
  }
  if (!format.anyRate && rate != 8000 && rate != 12000 && rate != 16000 && rate != 24000 && rate != 48000) {
    *error = format.name + " takes only 8000, 12000, 16000, 24000 or 48000 Hz";
    return false;
  }
  return true;
}

AudioFileWriter::~AudioFileWriter() {
  if (file_) sf_close(file_);
}

bool AudioFileWriter::open(const std::string& path, const AudioFileFormat& format, int rate,
                           std::string* error) {
  SF_INFO info{};
  info.samplerate = rate;
  info.channels = 2;
  info.format = format.sndfileFormat;
  if (!sf_format_check(&info)) {
    *error = format.name + " cannot be written at " + std::to_string(rate) + " Hz";
    return false;
  }
  SNDFILE* handle = sf_open(path.c_str(), SFM_WRITE, &info);
  if (!handle) {
    *error = sf_strerror(nullptr);
    return false;
  }
  sf_command(handle, SFC_SET_CLIPPING, nullptr, SF_TRUE);
  file_ = handle;
  pcm16_ = format.pcm16;
  return true;
}

bool AudioFileWriter::write(const float* interleaved, int64_t frames, std::string* error) {
  if (!file_) {
    *error = "the audio file is not open";
    return false;
  }
  if (pcm16_) {
    // libsndfile's own conversion rounds tiny negative values down to -1:
    // a silent synth would leave a step of noise in the file.
    std::vector<int16_t> pcm(static_cast<size_t>(2 * frames));
    for (size_t i = 0; i < pcm.size(); ++i)
      pcm[i] = static_cast<int16_t>(std::lrint(std::clamp(interleaved[i], -1.0f, 1.0f) * 32767.0f));
    if (sf_writef_short(file_, pcm.data(), frames) != frames) {
      *error = sf_strerror(file_);
      return false;
    }
    return true;
  }
  if (sf_writef_float(file_, interleaved, frames) != frames) {
    *error = sf_strerror(file_);
    return false;
  }
  return true;
}

bool AudioFileWriter::close(std::string* error) {
  if (!file_) return true;
  SNDFILE* handle = file_;
  file_ = nullptr;
  if (sf_close(handle) != 0) {
    *error = "the audio file could not be finished";
    return false;
  }
  return true;
}
