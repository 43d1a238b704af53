// Audio files through libsndfile: WAV and FLAC (16-bit), Ogg Vorbis and Ogg
// Opus, chosen by the file name's extension.
#pragma once

#include <cstdint>
#include <string>

struct sf_private_tag;  // libsndfile's SNDFILE

struct AudioFileFormat {
  std::string name;        // "WAV", "FLAC", "Ogg Vorbis", "Ogg Opus"
  int sndfileFormat = 0;
  int defaultRate = 44100;
  bool anyRate = true;     // false: only 8, 12, 16, 24 or 48 kHz (Opus)
  bool pcm16 = false;      // stored as 16-bit samples
};

// The format a file name asks for (.wav, .flac, .ogg/.oga, .opus); false
// for any other extension.
bool AudioFileFormatFor(const std::string& path, AudioFileFormat* format);
// Whether the format takes the rate; false with the reason.
bool AudioFileRateAllowed(const AudioFileFormat& format, int rate, std::string* error);

class AudioFileWriter {
 public:
  AudioFileWriter() = default;
  ~AudioFileWriter();
  AudioFileWriter(const AudioFileWriter&) = delete;
  AudioFileWriter& operator=(const AudioFileWriter&) = delete;

  // Creates path (stereo at rate); false with libsndfile's reason.
  bool open(const std::string& path, const AudioFileFormat& format, int rate, std::string* error);
  // Samples beyond ±1 are clipped, not wrapped; 16-bit files get each
  // sample rounded to the nearest step (silence stays exactly 0).
  bool write(const float* interleaved, int64_t frames, std::string* error);
  // Finishes the file; false when the last data could not be written.
  bool close(std::string* error);

 private:
  sf_private_tag* file_ = nullptr;
  bool pcm16_ = false;
};
