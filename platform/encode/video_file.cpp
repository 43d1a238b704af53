#include "platform/encode/video_file.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/audio_fifo.h>
#include <libavutil/channel_layout.h>
#include <libavutil/opt.h>
#include <libswresample/swresample.h>
#include <libswscale/swscale.h>
}

#include <algorithm>
#include <cstring>
#include <vector>

#include "platform/encode/temp_output.h"

namespace {

std::string AvError(int code) {
  char text[AV_ERROR_MAX_STRING_SIZE] = {};
  av_strerror(code, text, sizeof text);
  return text;
}

bool Fail(std::string* error, const std::string& what, int code) {
  *error = what + ": " + AvError(code);
  return false;
}

}  // namespace

struct VideoFileWriter::State {
  AVFormatContext* format = nullptr;
  AVCodecContext* video = nullptr;
  AVCodecContext* audio = nullptr;
  AVCodecContext* subtitle = nullptr;
  AVStream* videoStream = nullptr;
  AVStream* audioStream = nullptr;
  AVStream* subtitleStream = nullptr;
  int64_t subtitleOrder = 0;
  SwsContext* toYuv = nullptr;
  SwrContext* toAudio = nullptr;
  AVAudioFifo* fifo = nullptr;
  AVFrame* picture = nullptr;
  AVFrame* sound = nullptr;
  AVPacket* packet = nullptr;
  int width = 0;
  int height = 0;
  int audioFrameSize = 1024;
  int64_t videoPts = 0;
  int64_t audioPts = 0;

  ~State() {
    if (format && format->pb && !(format->oformat->flags & AVFMT_NOFILE)) avio_closep(&format->pb);
    avformat_free_context(format);
    avcodec_free_context(&video);
    avcodec_free_context(&audio);
    avcodec_free_context(&subtitle);
    sws_freeContext(toYuv);
    swr_free(&toAudio);
    if (fifo) av_audio_fifo_free(fifo);
    av_frame_free(&picture);
    av_frame_free(&sound);
    av_packet_free(&packet);
  }

  // Sends a frame (null flushes) and writes every packet that comes out.
  bool encode(AVCodecContext* codec, AVStream* stream, AVFrame* frame, std::string* error) {
    int r = avcodec_send_frame(codec, frame);
    if (r < 0) return Fail(error, "encoding failed", r);
    for (;;) {
      r = avcodec_receive_packet(codec, packet);
      if (r == AVERROR(EAGAIN) || r == AVERROR_EOF) return true;
      if (r < 0) return Fail(error, "encoding failed", r);
      // Every picture lasts one frame; without a duration the muxer ends
      // the track at the last picture's start and players drop it.
      if (codec == video && packet->duration <= 0) packet->duration = 1;
      av_packet_rescale_ts(packet, codec->time_base, stream->time_base);
      packet->stream_index = stream->index;
      r = av_interleaved_write_frame(format, packet);
      if (r < 0) return Fail(error, "writing the video failed", r);
    }
  }

  bool openVideo(const VideoFileFormat& f, int fps, std::string* error) {
    const AVCodec* codec = avcodec_find_encoder_by_name(f.video.c_str());
    if (!codec) {
      *error = "FFmpeg has no " + f.video + " encoder";
      return false;
    }
    video = avcodec_alloc_context3(codec);
    video->width = width;
    video->height = height;
    video->time_base = AVRational{1, fps};
    video->framerate = AVRational{fps, 1};
    video->pix_fmt = AV_PIX_FMT_YUV420P;
    video->gop_size = fps * 2;  // a key frame every 2 s keeps seeking quick
    video->color_range = AVCOL_RANGE_MPEG;
    video->colorspace = AVCOL_SPC_SMPTE170M;
    video->color_primaries = AVCOL_PRI_SMPTE170M;
    video->color_trc = AVCOL_TRC_SMPTE170M;
    if (format->oformat->flags & AVFMT_GLOBALHEADER) video->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    AVDictionary* options = nullptr;
    if (f.video == "libx264") {
      av_dict_set(&options, "preset", "ultrafast", 0);
      av_dict_set(&options, "crf", "18", 0);
    } else {
      // VP9 at its quickest: the screen is mostly still, flat colour.
      video->bit_rate = 0;
      av_dict_set(&options, "crf", "24", 0);
      av_dict_set(&options, "deadline", "realtime", 0);
      av_dict_set(&options, "cpu-used", "8", 0);
      av_dict_set(&options, "row-mt", "1", 0);
    }
    int r = avcodec_open2(video, codec, &options);
    av_dict_free(&options);
    if (r < 0) return Fail(error, "the " + f.video + " encoder did not open", r);
    videoStream = avformat_new_stream(format, nullptr);
    if (!videoStream) return Fail(error, "no video stream", AVERROR(ENOMEM));
    avcodec_parameters_from_context(videoStream->codecpar, video);
    videoStream->time_base = video->time_base;
    toYuv = sws_getContext(width, height, AV_PIX_FMT_RGB24, width, height, AV_PIX_FMT_YUV420P, SWS_POINT,
                           nullptr, nullptr, nullptr);
    picture = av_frame_alloc();
    picture->format = AV_PIX_FMT_YUV420P;
    picture->width = width;
    picture->height = height;
    r = av_frame_get_buffer(picture, 0);
    if (!toYuv || r < 0) return Fail(error, "no picture buffer", r < 0 ? r : AVERROR(ENOMEM));
    return true;
  }

  bool openAudio(const VideoFileFormat& f, std::string* error) {
    const AVCodec* codec = avcodec_find_encoder_by_name(f.audio.c_str());
    if (!codec) {
      *error = "FFmpeg has no " + f.audio + " encoder";
      return false;
    }
    audio = avcodec_alloc_context3(codec);
    audio->sample_rate = kVideoAudioRate;
    av_channel_layout_default(&audio->ch_layout, 2);
    audio->sample_fmt = codec->sample_fmts ? codec->sample_fmts[0] : AV_SAMPLE_FMT_FLTP;
    audio->bit_rate = f.audio == "aac" ? 192000 : 128000;
    audio->time_base = AVRational{1, kVideoAudioRate};
    if (format->oformat->flags & AVFMT_GLOBALHEADER) audio->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    int r = avcodec_open2(audio, codec, nullptr);
    if (r < 0) return Fail(error, "the " + f.audio + " encoder did not open", r);
    audioStream = avformat_new_stream(format, nullptr);
    if (!audioStream) return Fail(error, "no audio stream", AVERROR(ENOMEM));
    avcodec_parameters_from_context(audioStream->codecpar, audio);
    audioStream->time_base = audio->time_base;
    if (audio->frame_size > 0) audioFrameSize = audio->frame_size;

    AVChannelLayout stereo;
    av_channel_layout_default(&stereo, 2);
    r = swr_alloc_set_opts2(&toAudio, &audio->ch_layout, audio->sample_fmt, kVideoAudioRate, &stereo,
                            AV_SAMPLE_FMT_FLT, kVideoAudioRate, 0, nullptr);
    if (r >= 0) r = swr_init(toAudio);
    if (r < 0) return Fail(error, "no sound conversion", r);
    fifo = av_audio_fifo_alloc(audio->sample_fmt, 2, audioFrameSize);
    sound = av_frame_alloc();
    sound->format = audio->sample_fmt;
    av_channel_layout_copy(&sound->ch_layout, &audio->ch_layout);
    sound->sample_rate = kVideoAudioRate;
    sound->nb_samples = audioFrameSize;
    r = av_frame_get_buffer(sound, 0);
    if (!fifo || r < 0) return Fail(error, "no sound buffer", r < 0 ? r : AVERROR(ENOMEM));
    return true;
  }

  // Text subtitles in milliseconds; the encoder takes its styles from the
  // ASS header.
  bool openSubtitles(const VideoFileFormat& f, const std::string& header, std::string* error) {
    const AVCodec* codec = avcodec_find_encoder_by_name(f.subtitle.c_str());
    if (!codec) {
      *error = "FFmpeg has no " + f.subtitle + " encoder";
      return false;
    }
    subtitle = avcodec_alloc_context3(codec);
    subtitle->time_base = AVRational{1, 1000};
    subtitle->subtitle_header = static_cast<uint8_t*>(av_mallocz(header.size() + 1));
    if (!subtitle->subtitle_header) return Fail(error, "no subtitle header", AVERROR(ENOMEM));
    std::memcpy(subtitle->subtitle_header, header.data(), header.size());
    subtitle->subtitle_header_size = static_cast<int>(header.size());
    if (format->oformat->flags & AVFMT_GLOBALHEADER) subtitle->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    int r = avcodec_open2(subtitle, codec, nullptr);
    if (r < 0) return Fail(error, "the " + f.subtitle + " encoder did not open", r);
    subtitleStream = avformat_new_stream(format, nullptr);
    if (!subtitleStream) return Fail(error, "no subtitle stream", AVERROR(ENOMEM));
    avcodec_parameters_from_context(subtitleStream->codecpar, subtitle);
    subtitleStream->time_base = subtitle->time_base;
    return true;
  }

  // Encodes every whole audio frame waiting, and at the end the rest.
  bool drainAudio(bool last, std::string* error) {
    while (av_audio_fifo_size(fifo) >= audioFrameSize || (last && av_audio_fifo_size(fifo) > 0)) {
      const int n = std::min(av_audio_fifo_size(fifo), audioFrameSize);
      int r = av_frame_make_writable(sound);
      if (r < 0) return Fail(error, "no sound buffer", r);
      sound->nb_samples = n;
      av_audio_fifo_read(fifo, reinterpret_cast<void**>(sound->data), n);
      sound->pts = audioPts;
      audioPts += n;
      if (!encode(audio, audioStream, sound, error)) return false;
    }
    return true;
  }
};

bool VideoFileFormatFor(const std::string& path, VideoFileFormat* format) {
  const std::string ext = LowerExtension(path);
  if (ext == ".mp4") {
    *format = {"mp4", "libx264", "aac", "h264+aac", "mov_text"};
  } else if (ext == ".webm") {
    *format = {"webm", "libvpx-vp9", "libopus", "vp9+opus", "webvtt"};
  } else if (ext == ".mkv") {
    *format = {"matroska", "libx264", "aac", "h264+aac", "ass"};
  } else {
    return false;
  }
  return true;
}

VideoFileWriter::VideoFileWriter() = default;
VideoFileWriter::~VideoFileWriter() = default;

bool VideoFileWriter::open(const std::string& path, const VideoFileFormat& f, int width, int height,
                           int fps, std::string* error, const std::string& assHeader) {
  av_log_set_level(AV_LOG_ERROR);  // the encoders' statistics are not for users
  s_ = std::make_unique<State>();
  s_->width = width;
  s_->height = height;
  int r = avformat_alloc_output_context2(&s_->format, nullptr, f.container.c_str(), path.c_str());
  if (r < 0 || !s_->format) return Fail(error, "FFmpeg cannot write " + f.container, r < 0 ? r : AVERROR(EINVAL));
  s_->packet = av_packet_alloc();
  if (!s_->openVideo(f, fps, error) || !s_->openAudio(f, error)) return false;
  if (!assHeader.empty() && !s_->openSubtitles(f, assHeader, error)) return false;
  if (!(s_->format->oformat->flags & AVFMT_NOFILE)) {
    r = avio_open(&s_->format->pb, path.c_str(), AVIO_FLAG_WRITE);
    if (r < 0) return Fail(error, "cannot write \"" + path + "\"", r);
  }
  r = avformat_write_header(s_->format, nullptr);
  if (r < 0) return Fail(error, "cannot start the video", r);
  return true;
}

bool VideoFileWriter::writeFrame(const uint8_t* rgb, std::string* error) {
  int r = av_frame_make_writable(s_->picture);
  if (r < 0) return Fail(error, "no picture buffer", r);
  const uint8_t* planes[1] = {rgb};
  const int strides[1] = {3 * s_->width};
  sws_scale(s_->toYuv, planes, strides, 0, s_->height, s_->picture->data, s_->picture->linesize);
  return repeatFrame(error);
}

bool VideoFileWriter::repeatFrame(std::string* error) {
  int r = av_frame_make_writable(s_->picture);  // keeps the picture, in a buffer of its own
  if (r < 0) return Fail(error, "no picture buffer", r);
  s_->picture->pts = s_->videoPts++;
  return s_->encode(s_->video, s_->videoStream, s_->picture, error);
}

bool VideoFileWriter::writeSubtitle(int64_t startMs, int64_t endMs, const std::string& assFields,
                                    std::string* error) {
  if (!s_->subtitle) return true;
  // What FFmpeg's text subtitle encoders read: ReadOrder, Layer, then the rest.
  std::string event = std::to_string(s_->subtitleOrder++) + ",0," + assFields;
  AVSubtitleRect rect{};
  rect.type = SUBTITLE_ASS;
  rect.ass = event.data();
  AVSubtitleRect* rects[1] = {&rect};
  AVSubtitle sub{};
  sub.format = 1;  // text
  sub.end_display_time = static_cast<uint32_t>(std::max<int64_t>(endMs - startMs, 0));
  sub.num_rects = 1;
  sub.rects = rects;
  sub.pts = av_rescale_q(startMs, AVRational{1, 1000}, AV_TIME_BASE_Q);
  std::vector<uint8_t> buffer(event.size() * 4 + 1024);
  const int size =
      avcodec_encode_subtitle(s_->subtitle, buffer.data(), static_cast<int>(buffer.size()), &sub);
  if (size < 0) return Fail(error, "encoding a subtitle failed", size);
  if (size == 0) return true;
  AVPacket* p = av_packet_alloc();
  if (!p) return Fail(error, "no subtitle packet", AVERROR(ENOMEM));
  int r = av_new_packet(p, size);
  if (r >= 0) {
    std::memcpy(p->data, buffer.data(), static_cast<size_t>(size));
    p->pts = p->dts = startMs;
    p->duration = std::max<int64_t>(endMs - startMs, 1);
    av_packet_rescale_ts(p, s_->subtitle->time_base, s_->subtitleStream->time_base);
    p->stream_index = s_->subtitleStream->index;
    r = av_interleaved_write_frame(s_->format, p);
  }
  av_packet_free(&p);
  return r < 0 ? Fail(error, "writing a subtitle failed", r) : true;
}

bool VideoFileWriter::writeAudio(const float* interleaved, int frames, std::string* error) {
  if (frames <= 0) return true;
  uint8_t** converted = nullptr;
  const int room = swr_get_out_samples(s_->toAudio, frames);
  int r = av_samples_alloc_array_and_samples(&converted, nullptr, 2, room, s_->audio->sample_fmt, 0);
  if (r < 0) return Fail(error, "no sound buffer", r);
  const uint8_t* in[1] = {reinterpret_cast<const uint8_t*>(interleaved)};
  const int n = swr_convert(s_->toAudio, converted, room, in, frames);
  if (n > 0) av_audio_fifo_write(s_->fifo, reinterpret_cast<void**>(converted), n);
  av_freep(&converted[0]);
  av_freep(&converted);
  if (n < 0) return Fail(error, "sound conversion failed", n);
  return s_->drainAudio(false, error);
}

bool VideoFileWriter::finish(std::string* error) {
  if (!s_->drainAudio(true, error)) return false;
  if (!s_->encode(s_->video, s_->videoStream, nullptr, error)) return false;
  if (!s_->encode(s_->audio, s_->audioStream, nullptr, error)) return false;
  int r = av_write_trailer(s_->format);
  if (r < 0) return Fail(error, "cannot finish the video", r);
  if (!(s_->format->oformat->flags & AVFMT_NOFILE)) {
    r = avio_closep(&s_->format->pb);
    if (r < 0) return Fail(error, "cannot finish the video", r);
  }
  return true;
}
