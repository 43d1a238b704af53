// qmidi-tool render-video: renders a song into a video file with its sound
// and its WRD screen, faster than real time. The offline driver plays the
// song into the soft synth; before each video frame the sound is rendered
// up to the frame's time, and the WRD tick runs with the song position
// reached by then, so picture and sound stay together. The 640 x 400 screen
// is scaled by a whole factor with square pixels kept sharp. A song without
// a WRD script shows its lyrics on the karaoke screen, or, without lyrics,
// its title and the current bar and beat. --subtitles adds the script's
// screen text and the lyrics as a subtitle stream. The file is written under
// a temporary name and renamed when complete.
#include <algorithm>
#include <array>
#include <cstring>
#include <iostream>
#include <string>
#include <vector>

#include "engine/graphics/display.h"
#include "engine/player/output_status.h"
#include "engine/song/song_reader.h"
#include "engine/wrd/karaoke_screen.h"
#include "engine/wrd/wrd_compiler.h"
#include "engine/wrd/wrd_display.h"
#include "engine/wrd/wrd_executor.h"
#include "engine/wrd/wrd_text_cues.h"
#include "platform/encode/temp_output.h"
#include "support/file_record.h"
#include "platform/encode/video_file.h"
#include "platform/freetype/freetype_glyphs.h"
#include "platform/glyphs.h"
#include "platform/headless/headless_presenter.h"
#include "support/cp932.h"
#include "support/result_code.h"
#include "tools/json_writer.h"
#include "tools/module_commands.h"
#include "tools/render_common.h"
#include "tools/song_audio.h"
#include "tools/song_subtitles.h"
#include "tools/tool_command.h"

namespace {

constexpr int kScreenWidth = 640;
constexpr int kScreenHeight = 400;  // the script draws the top 400 rows

using Rgb = std::array<uint8_t, 3>;

int Fail(const std::string& message) {
  std::cerr << "qmidi-tool render-video: " << message << '\n';
  return 1;
}

// One picture of the screen: indexed pixels and the colours they show.
struct Screen {
  std::vector<uint8_t> pixels = std::vector<uint8_t>(kScreenWidth * kScreenHeight);
  std::array<Rgb, 256> colours{};
  bool operator==(const Screen& o) const { return pixels == o.pixels && colours == o.colours; }
};

// Each screen pixel becomes a k x k block of its colour.
void ScaleToRgb(const Screen& s, int k, std::vector<uint8_t>* rgb) {
  const int width = kScreenWidth * k;
  rgb->resize(static_cast<size_t>(width) * kScreenHeight * k * 3);
  uint8_t* out = rgb->data();
  for (int y = 0; y < kScreenHeight; ++y) {
    uint8_t* row = out;
    const uint8_t* in = s.pixels.data() + y * kScreenWidth;
    for (int x = 0; x < kScreenWidth; ++x) {
      const Rgb& c = s.colours[in[x]];
      for (int i = 0; i < k; ++i, out += 3) std::memcpy(out, c.data(), 3);
    }
    for (int i = 1; i < k; ++i, out += width * 3) std::memcpy(out, row, static_cast<size_t>(width) * 3);
  }
}

// The WRD display as the script left it.
void ReadWrdScreen(Screen* s) {
  const TQGBitmap& screen = QDScreenBuffer();
  const int rows = std::min(screen.height(), kScreenHeight);
  if (screen.base && screen.width() == kScreenWidth && rows > 0)
    std::memcpy(s->pixels.data(), screen.base, static_cast<size_t>(kScreenWidth) * rows);
  const QGPalette& p = QDDisplayPalette();
  for (size_t i = 0; i < 256; ++i) s->colours[i] = {p[i].red, p[i].green, p[i].blue};
}

// The plain screen of a song without a script: its title and the bar and
// beat, in the WRD text font, white on black.
class TitleScreen {
 public:
  TitleScreen(GlyphSystem& glyphs, std::string titleSjis) : title_(std::move(titleSjis)) {
    face_ = glyphs.open(GlyphFontRequest{});
    screen_.colours[1] = {255, 255, 255};
    screen_.colours[2] = {160, 160, 160};
  }
  bool hasFont() const { return face_ != nullptr; }

  // Redraws when the bar or beat changed; false when nothing changed.
  bool show(int32_t positionValue) {
    const std::string beat =
        std::to_string(positionValue / 10000) + "." + std::to_string(positionValue % 10000 / 1000);
    if (beat == shownBeat_) return false;
    shownBeat_ = beat;
    std::fill(screen_.pixels.begin(), screen_.pixels.end(), 0);
    line(title_.substr(0, kScreenWidth / kGlyphColumnPixels), 176, 1);
    line("bar " + beat, 208, 2);
    return true;
  }
  const Screen& screen() const { return screen_; }

 private:
  void line(const std::string& sjis, int top, uint8_t colour) {
    constexpr int kStride = kScreenWidth / 8;
    std::array<uint8_t, kStride * kGlyphRows> bits{};
    GlyphCanvas canvas{bits.data(), kStride};
    const int columns = static_cast<int>(sjis.size());
    face_->draw(sjis, canvas, std::max(0, (kScreenWidth / kGlyphColumnPixels - columns) / 2));
    for (int y = 0; y < kGlyphRows; ++y)
      for (int x = 0; x < kScreenWidth; ++x)
        if (canvas.pixel(x, y)) screen_.pixels[static_cast<size_t>((top + y) * kScreenWidth + x)] = colour;
  }

  std::string title_;
  std::unique_ptr<GlyphFace> face_;
  Screen screen_;
  std::string shownBeat_;
};

// The song's WRD script loaded onto a headless display, as a song start
// loads it; empty message on success.
std::string LoadScript(int32_t offset) {
  TWRDCRE& wrd = WRDControl();
  wrd.setWRDDelay(offset);
  wrd.setFullScreen(0);
  wrd.subWRDLoadMsgOut();
  if (!wrd.subWRDLoad()) return "the WRD script could not be loaded";
  TWRDState& s = WRDState();
  if (!s.displayExists)
    return "no display could be made (result code " + std::to_string(QGEngineErrorCode().load()) +
           "; is a font installed?)";
  if (s.loaded.load()) {
    wrd.subWRDKaisiMsgOut();
    subWRDTableCalc();
  }
  s.running = -1;
  return {};
}

// The display the karaoke screen draws on, with its colours; empty message
// on success.
std::string OpenKaraokeDisplay() {
  if (!QDCreate(TKaraokeScreen::kWidth, TKaraokeScreen::kHeight, QDFont{}, nullptr, false))
    return "no display could be made (result code " + std::to_string(QGEngineErrorCode().load()) +
           "; is a font installed?)";
  TKaraokeScreen::ApplyPalette();
  return {};
}

// The subtitles of the song as loaded: its compiled script's screen text
// and its lyrics; one cue at a time where the container's players show
// one (all but ASS).
std::vector<SubtitleCue> VideoSubtitles(const RenderSong& song, const TSongLyrics& lyrics,
                                        const VideoFileFormat& format) {
  std::vector<SubtitleCue> screen;
  if (WRDState().loaded.load())
    screen = ScreenTextCues(WRDScreenTextCues(WRDState(), song.song.table, song.song.entries));
  std::vector<SubtitleCue> cues = AllCues(std::move(screen), LyricCues(lyrics));
  return format.subtitle == "ass" ? cues : FlattenCues(cues);
}

struct VideoOptions {
  int fps = 30;
  int scale = 2;
  int32_t offset = 0;
  bool subtitles = false;
};

VideoOptions ReadVideoOptions(const ToolArgs& a) {
  VideoOptions v;
  const long fps = a.getInt("--fps", 30);
  const long scale = a.getInt("--scale", 2);
  const long offset = a.getInt("--offset", 0);
  if (fps < 1 || fps > 120) throw UsageError("--fps takes 1 to 120");
  if (scale < 1 || scale > 6) throw UsageError("--scale takes 1 to 6");
  if (offset < -384 || offset > 384) throw UsageError("--offset takes -384 .. 384 steps");
  v.fps = static_cast<int>(fps);
  v.scale = static_cast<int>(scale);
  v.offset = static_cast<int32_t>(offset);
  v.subtitles = a.flag("--subtitles");
  return v;
}

// Everything the display needs while the video is made; put back at the end.
class Display {
 public:
  Display() {
    HeadlessOptions options;
    options.framesFolder = "";
    options.refreshHz = 0;
    presenter_ = std::make_unique<HeadlessPresenter>(options);
    QRSetGlyphSystem(&glyphs_);
    QDSetPresenter(presenter_.get());
  }
  ~Display() {
    WRDState().running = 0;
    WRDControl().subWRDStop();
    QDFree();
    QDSetPresenter(nullptr);
    QRSetGlyphSystem(nullptr);
  }
  GlyphSystem& glyphs() { return glyphs_; }

 private:
  FreeTypeGlyphSystem glyphs_;
  std::unique_ptr<HeadlessPresenter> presenter_;
};

int runRenderVideo(const ToolArgs& a) {
  const std::string& songPath = a.arg(0, "SONG");
  const std::string& outPath = a.arg(1, "OUT");
  const RenderOptions options = ReadRenderOptions(a);
  const VideoOptions video = ReadVideoOptions(a);
  VideoFileFormat format;
  if (!VideoFileFormatFor(outPath, &format))
    return Fail("cannot tell the format of \"" + outPath + "\": name it .mp4, .webm or .mkv");

  std::string error, target;
  if (!QGOutputTarget(outPath, &target, &error)) return Fail(error);
  RenderSong song;
  if (!ConvertForRender("render-video", songPath, options, &song, &error)) return Fail(error);
  WarnOfCode("render-video", songPath, song.warning);
  song.song.volume = options.volume;
  song.song.balance = options.balance;
  OfflineSynth synth;
  if (!OpenOfflineSynth(options, kVideoAudioRate, &synth, &error)) return Fail(error);

  Display display;
  const bool scripted = !QGSongReader().getWRDFileName().empty();
  const TSongLyrics lyrics = ReadSongLyrics(QGSongReader().getinFileName());
  std::unique_ptr<TitleScreen> title;
  std::unique_ptr<TKaraokeScreen> karaoke;
  if (scripted) {
    error = LoadScript(video.offset);
    if (!error.empty()) return Fail(error);
  } else if (!lyrics.empty()) {
    error = OpenKaraokeDisplay();
    if (!error.empty()) return Fail(error);
    karaoke = std::make_unique<TKaraokeScreen>(lyrics, Cp932ToUtf8(song.titleSjis));
  } else {
    title = std::make_unique<TitleScreen>(display.glyphs(), song.titleSjis);
    if (!title->hasFont()) return Fail("no font for the title screen (is fonts-ipafont-mincho installed?)");
  }

  // Ctrl-C is caught before the temporary file exists, so it never outlives the render.
  InterruptGuard interrupt;
  double factor = 1.0;
  if (!NormalizingFactor(options, song.song, song.songEndUs, kVideoAudioRate, &factor, &error))
    return Fail(error);
  std::vector<SubtitleCue> cues;
  if (video.subtitles) {
    cues = VideoSubtitles(song, lyrics, format);
    if (cues.empty())
      std::cerr << "qmidi-tool render-video: the song has neither WRD screen text nor lyrics; no "
                   "subtitles\n";
  }
  const SubtitleTitle subtitleTitle{
      lyrics.title.empty() ? Cp932ToUtf8(song.titleSjis) : lyrics.title, lyrics.artist};
  TempOutput temp(target);
  VideoFileWriter file;
  if (!file.open(temp.path(), format, kScreenWidth * video.scale, kScreenHeight * video.scale,
                 video.fps, &error, cues.empty() ? std::string() : AssHeader(subtitleTitle)))
    return Fail("cannot write \"" + outPath + "\": " + error);
  size_t nextCue = 0;
  // Subtitles go in as the pictures reach their start (those after the last
  // picture are left out).
  auto writeCuesUntil = [&](int64_t ms) {
    for (; nextCue < cues.size() && cues[nextCue].startMs <= ms; ++nextCue) {
      const SubtitleCue& c = cues[nextCue];
      if (!file.writeSubtitle(c.startMs, c.endMs, AssEventFields(c), &error)) return false;
    }
    return true;
  };

  SongAudio audio(*synth.synth, {synth.portA.get(), synth.portB.get()}, song.song, kVideoAudioRate,
                  song.songEndUs);
  ProgressBar progress(song.songMs);
  std::vector<float> sound;
  std::vector<uint8_t> rgb;
  Screen shown, next;
  int64_t frames = 0, soundWritten = 0;
  for (;; ++frames) {
    if (InterruptGuard::interrupted()) {
      std::cerr << "qmidi-tool render-video: interrupted, nothing written\n";
      return 130;
    }
    // The sound up to this frame's time (silence once the song has ended).
    const int64_t frameSample = frames * kVideoAudioRate / video.fps;
    if (audio.ended() && frameSample >= audio.frames() && frames > 0) {
      sound.assign(static_cast<size_t>(2 * (frameSample - soundWritten)), 0.0f);
      if (!file.writeAudio(sound.data(), static_cast<int>(frameSample - soundWritten), &error)) return Fail(error);
      break;
    }
    const int64_t want = frameSample - soundWritten;
    sound.resize(static_cast<size_t>(2 * std::max<int64_t>(want, 0)));
    const int got = want > 0 ? audio.render(sound.data(), static_cast<int>(want)) : 0;
    ScaleSound(sound.data(), got, factor);
    std::fill(sound.begin() + 2 * got, sound.end(), 0.0f);
    if (want > 0 && !file.writeAudio(sound.data(), static_cast<int>(want), &error)) return Fail(error);
    soundWritten = std::max(soundWritten, frameSample);
    audio.sendDue();

    // The picture at that time.
    if (!writeCuesUntil(frames * 1000 / video.fps)) return Fail(error);
    bool changed;
    if (scripted) {
      subWRDTick(audio.positionReached());
      ReadWrdScreen(&next);
      changed = frames == 0 || !(next == shown);
      if (changed) shown = next;
    } else if (karaoke) {
      changed = karaoke->draw(QDScreenBuffer(),
                              lyrics.msAtTick(static_cast<uint64_t>(audio.driver().totalTicks())));
      if (changed) ReadWrdScreen(&shown);
    } else {
      changed = title->show(QDPositionValue(audio.positionReached(), song.tickDivision)) || frames == 0;
      if (changed) shown = title->screen();
    }
    if (changed) {
      ScaleToRgb(shown, video.scale, &rgb);
      if (!file.writeFrame(rgb.data(), &error)) return Fail(error);
    } else if (!file.repeatFrame(&error)) {
      return Fail(error);
    }
    progress.update(frameSample * 1000 / kVideoAudioRate);
  }
  if (!file.finish(&error) || !temp.commit(&error)) return Fail(error);
  synth.portA->close();
  synth.portB->close();

  const int64_t lengthMs = frames * 1000 / video.fps;
  if (a.json()) {
    JsonWriter j(std::cout);
    j.beginObject()
        .field("file", outPath)
        .field("codec", format.codec)
        .field("frames", frames)
        .field("fps", video.fps)
        .field("width", kScreenWidth * video.scale)
        .field("height", kScreenHeight * video.scale)
        .field("lengthMs", lengthMs)
        .field("songMs", song.songMs)
        .field("script", scripted)
        .field("karaoke", karaoke != nullptr)
        .field("subtitles", static_cast<int64_t>(nextCue))
        .endObject();
    std::cout << '\n';
  } else {
    std::cout << "wrote " << outPath << ": " << format.codec << ", " << kScreenWidth * video.scale
              << "x" << kScreenHeight * video.scale << ", " << frames << " frames at " << video.fps
              << " fps, " << lengthMs / 1000 << '.' << lengthMs % 1000 / 100 << " s"
              << (scripted  ? ""
                  : karaoke ? ", karaoke screen (lyrics, no WRD script)"
                            : ", title screen (no WRD script)")
              << (cues.empty() ? "" : ", " + std::to_string(nextCue) + " subtitles") << '\n';
  }
  return 0;
}

}  // namespace

QMIDI_TOOL_COMMAND(
    render_video,
    {"render-video",
     ModuleCommandSummary("render-video"),
     "SONG OUT [--fps N] [--scale K] [--mode N] [--offset STEPS] [--soundfont FILE] [--gain G] "
     "[--normalize LUFS] [--volume 0-100] [--balance 0-100] [--subtitles] [--no-setup] [--json]\n"
     "  --subtitles  a subtitle stream of the WRD screen text and the lyrics (MP4 mov_text,\n"
     "               WebM WebVTT, MKV ASS with karaoke timing)",
     {"--fps", "--scale", "--mode", "--offset", "--soundfont", "--gain", "--normalize", "--volume", "--balance"},
     runRenderVideo,
     {"--subtitles", "--no-setup"}})
