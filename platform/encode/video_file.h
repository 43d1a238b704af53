// Video files through FFmpeg's libraries: RGB pictures and stereo float
// sound in, by the final name's extension .mp4 (H.264 + AAC), .webm (VP9 +
// Opus) or .mkv (H.264 + AAC). The sound comes at kVideoAudioRate. A
// subtitle stream may go beside them, in the text format the container
// takes: 3GPP timed text (mov_text) in MP4, WebVTT in WebM, ASS in MKV.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

constexpr int kVideoAudioRate = 48000;

struct VideoFileFormat {
  std::string container;  // FFmpeg's muxer name
  std::string video;      // encoder names
  std::string audio;
  std::string codec;      // "h264+aac", "vp9+opus"
  std::string subtitle;   // the subtitle encoder
};

// The format a file name asks for; false for any other extension.
bool VideoFileFormatFor(const std::string& path, VideoFileFormat* format);

class VideoFileWriter {
 public:
  VideoFileWriter();
  ~VideoFileWriter();
  VideoFileWriter(const VideoFileWriter&) = delete;
  VideoFileWriter& operator=(const VideoFileWriter&) = delete;

  // Creates path as the format says, width x height (even) at fps; with a
  // subtitle stream when assHeader (the styles, as an ASS file's head) is
  // not empty.
  bool open(const std::string& path, const VideoFileFormat& format, int width, int height, int fps,
            std::string* error, const std::string& assHeader = {});
  // One picture: width * height RGB triplets, row after row.
  bool writeFrame(const uint8_t* rgb, std::string* error);
  // The same picture as the last one again (no conversion).
  bool repeatFrame(std::string* error);
  // One subtitle from startMs to endMs: an ASS event's fields after its
  // layer and times (Style, Name, MarginL, MarginR, MarginV, Effect, Text).
  // Subtitles come in order of their start, each when the pictures have
  // reached it.
  bool writeSubtitle(int64_t startMs, int64_t endMs, const std::string& assFields,
                     std::string* error);
  // Stereo sound at kVideoAudioRate, interleaved.
  bool writeAudio(const float* interleaved, int frames, std::string* error);
  // Flushes both encoders and finishes the file.
  bool finish(std::string* error);

 private:
  struct State;
  std::unique_ptr<State> s_;
};
