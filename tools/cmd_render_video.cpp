// qmidi-tool render-video: renders a song into a video file with its sound
// and its WRD screen, faster than real time. The offline driver plays the
// song into the soft synth; before each video frame the sound is rendered
// up to the frame's time, and the WRD tick runs with the song position
// reached by then, so picture and sound stay together. The 640 x 400 screen
// is scaled by a whole factor with square pixels kept sharp. A song without
// a WRD script shows its lyrics on the karaoke screen, or, without lyrics,
// its title and the current bar and beat. --subtitles adds the script's
// screen text and the lyrics as a subtitle stream. The file is written under
// a temporary name and renamed when complete. Many songs go into a folder at
// once, one engine per worker thread.
#include <algorithm>
#include <array>
#include <cstring>
#include <iostream>
#include <string>
#include <vector>

#include "engine/player/output_status.h"
#include "engine/wrd/karaoke_screen.h"
#include "engine/wrd/wrd_compiler.h"
#include "engine/wrd/wrd_text_cues.h"
#include "platform/encode/temp_output.h"
#include "support/file_record.h"
#include "platform/encode/video_file.h"
#include "platform/freetype/freetype_glyphs.h"
#include "platform/headless/headless_presenter.h"
#include "support/cp932.h"
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
void ReadWrdScreen(GraphicsDisplay& display, Screen* s) {
  const TQGBitmap& screen = display.screen();
  const int rows = std::min(screen.height(), kScreenHeight);
  if (screen.base && screen.width() == kScreenWidth && rows > 0)
    std::memcpy(s->pixels.data(), screen.base, static_cast<size_t>(kScreenWidth) * rows);
  const QGPalette& p = display.palette();
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

// The song's WRD script loaded onto the engine's headless display, as a song
// start loads it; empty message on success.
std::string LoadScript(Engine& engine, const std::string& script, const PackedSong& song, int32_t offset) {
  WrdRuntime& wrd = engine.wrd();
  wrd.setWRDDelay(offset);
  wrd.setFullScreen(0);
  wrd.loadMessage(engine.song().getinFileName());
  if (!wrd.load(script, song)) return "the WRD script could not be loaded";
  if (!wrd.problem().empty()) return {};  // played as no script
  if (!wrd.displayExists())
    return "no display could be made (result code " + std::to_string(engine.result().get()) +
           "; is a font installed?)";
  if (wrd.loaded()) {
    wrd.startMessage();
    wrd.tableCalc();
  }
  wrd.state().running = -1;
  return {};
}

// The engine's display for the karaoke screen, with its colours; empty
// message on success.
std::string OpenKaraokeDisplay(Engine& engine) {
  GraphicsDisplay& display = engine.display();
  if (!display.create(TKaraokeScreen::kWidth, TKaraokeScreen::kHeight, QDFont{}, nullptr, false))
    return "no display could be made (result code " + std::to_string(engine.result().get()) +
           "; is a font installed?)";
  TKaraokeScreen::ApplyPalette(display);
  return {};
}

// The subtitles of the song as loaded: its compiled script's screen text
// and its lyrics; one cue at a time where the container's players show
// one (all but ASS).
std::vector<SubtitleCue> VideoSubtitles(const TWRDState& wrd, const RenderSong& song, const TSongLyrics& lyrics,
                                        const VideoFileFormat& format) {
  std::vector<SubtitleCue> screen;
  if (wrd.loaded.load()) screen = ScreenTextCues(WRDScreenTextCues(wrd, song.song.table, song.song.entries));
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

// What one render made.
struct VideoResult {
  int64_t frames = 0;
  uint32_t songMs = 0;
  bool scripted = false;
  bool karaoke = false;
  size_t subtitles = 0;  // subtitles written
  bool wantedSubtitles = false;
};

struct VideoJob {
  RenderOptions options;
  VideoOptions video;
  VideoFileFormat format;
  bool progress = true;
};

// Renders songPath into outPath with the engine (its display is headless,
// its glyphs FreeType); "" on success, else what went wrong.
std::string RenderVideo(Engine& engine, const std::string& songPath, const std::string& outPath,
                        const VideoJob& job, VideoResult* made) {
  std::string error, target;
  if (!QGOutputTarget(outPath, &target, &error)) return error;
  RenderSong song(engine);
  if (!ConvertForRender("render-video", songPath, job.options, &song, &error)) return error;
  WarnOfCode("render-video", songPath, song.warning);
  song.song.volume = job.options.volume;
  song.song.balance = job.options.balance;
  OfflineSynth synth;
  if (!OpenOfflineSynth(job.options, kVideoAudioRate, &synth, &error)) return error;

  WrdRuntime& wrd = engine.wrd();
  struct Stop {
    WrdRuntime& wrd;
    ~Stop() {
      wrd.state().running = 0;
      wrd.stop();
    }
  } stop{wrd};
  const std::string script = engine.song().getWRDFileName();
  bool scripted = !script.empty();
  if (scripted) {
    error = LoadScript(engine, script, song.packed(), job.video.offset);
    if (!error.empty()) return error;
    if (!wrd.problem().empty()) {
      // A script that does not load is shown as none, and said.
      std::cerr << "qmidi-tool render-video: the WRD script was not loaded: " << wrd.problem()
                << "; the title screen is shown\n";
      scripted = false;
    }
  }
  const TSongLyrics lyrics = ReadSongLyrics(engine.song().getinFileName());
  std::unique_ptr<TitleScreen> title;
  std::unique_ptr<TKaraokeScreen> karaoke;
  struct FreeDisplay {
    GraphicsDisplay& display;
    bool armed = false;
    ~FreeDisplay() {
      if (armed) display.free();
    }
  } freeDisplay{engine.display()};
  if (!scripted && !lyrics.empty()) {
    error = OpenKaraokeDisplay(engine);
    if (!error.empty()) return error;
    freeDisplay.armed = true;  // the karaoke screen's own, gone with the song
    karaoke = std::make_unique<TKaraokeScreen>(engine.display(), lyrics, Cp932ToUtf8(song.titleSjis));
  } else if (!scripted) {
    title = std::make_unique<TitleScreen>(engine.display().glyphs(), song.titleSjis);
    if (!title->hasFont()) return "no font for the title screen (is fonts-ipafont-mincho installed?)";
  }

  const VideoOptions& video = job.video;
  double factor = 1.0;
  if (!NormalizingFactor(job.options, song.song, song.songEndUs, kVideoAudioRate, &factor, &error)) return error;
  std::vector<SubtitleCue> cues;
  if (video.subtitles) {
    cues = VideoSubtitles(wrd.state(), song, lyrics, job.format);
    if (cues.empty())
      std::cerr << "qmidi-tool render-video: the song has neither WRD screen text nor lyrics; no "
                   "subtitles\n";
  }
  const SubtitleTitle subtitleTitle{lyrics.title.empty() ? Cp932ToUtf8(song.titleSjis) : lyrics.title,
                                    lyrics.artist};
  TempOutput temp(target);
  VideoFileWriter file;
  if (!file.open(temp.path(), job.format, kScreenWidth * video.scale, kScreenHeight * video.scale, video.fps,
                 &error, cues.empty() ? std::string() : AssHeader(subtitleTitle)))
    return "cannot write \"" + outPath + "\": " + error;
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
  ProgressBar progress(song.songMs, job.progress);
  std::vector<float> sound;
  std::vector<uint8_t> rgb;
  Screen shown, next;
  int64_t frames = 0, soundWritten = 0;
  for (;; ++frames) {
    if (InterruptGuard::interrupted()) return "interrupted, nothing written";
    // The sound up to this frame's time (silence once the song has ended).
    const int64_t frameSample = frames * kVideoAudioRate / video.fps;
    if (audio.ended() && frameSample >= audio.frames() && frames > 0) {
      sound.assign(static_cast<size_t>(2 * (frameSample - soundWritten)), 0.0f);
      if (!file.writeAudio(sound.data(), static_cast<int>(frameSample - soundWritten), &error)) return error;
      break;
    }
    const int64_t want = frameSample - soundWritten;
    sound.resize(static_cast<size_t>(2 * std::max<int64_t>(want, 0)));
    const int got = want > 0 ? audio.render(sound.data(), static_cast<int>(want)) : 0;
    ScaleSound(sound.data(), got, factor);
    std::fill(sound.begin() + 2 * got, sound.end(), 0.0f);
    if (want > 0 && !file.writeAudio(sound.data(), static_cast<int>(want), &error)) return error;
    soundWritten = std::max(soundWritten, frameSample);
    audio.sendDue();

    // The picture at that time.
    if (!writeCuesUntil(frames * 1000 / video.fps)) return error;
    bool changed;
    if (scripted) {
      wrd.executor().tick(audio.positionReached());
      ReadWrdScreen(engine.display(), &next);
      changed = frames == 0 || !(next == shown);
      if (changed) shown = next;
    } else if (karaoke) {
      changed = karaoke->draw(engine.display().screen(),
                              lyrics.msAtTick(static_cast<uint64_t>(audio.driver().totalTicks())));
      if (changed) ReadWrdScreen(engine.display(), &shown);
    } else {
      changed = title->show(QDPositionValue(audio.positionReached(), song.tickDivision)) || frames == 0;
      if (changed) shown = title->screen();
    }
    if (changed) {
      ScaleToRgb(shown, video.scale, &rgb);
      if (!file.writeFrame(rgb.data(), &error)) return error;
    } else if (!file.repeatFrame(&error)) {
      return error;
    }
    progress.update(frameSample * 1000 / kVideoAudioRate);
  }
  if (!file.finish(&error) || !temp.commit(&error)) return error;
  synth.portA->close();
  synth.portB->close();
  *made = {frames, song.songMs, scripted, karaoke != nullptr, nextCue, !cues.empty()};
  return {};
}

std::string Summary(const std::string& outPath, const VideoJob& job, const VideoResult& r) {
  const int64_t lengthMs = r.frames * 1000 / job.video.fps;
  return "wrote " + outPath + ": " + job.format.codec + ", " + std::to_string(kScreenWidth * job.video.scale) +
         "x" + std::to_string(kScreenHeight * job.video.scale) + ", " + std::to_string(r.frames) +
         " frames at " + std::to_string(job.video.fps) + " fps, " + std::to_string(lengthMs / 1000) + '.' +
         std::to_string(lengthMs % 1000 / 100) + " s" +
         (r.scripted  ? ""
          : r.karaoke ? ", karaoke screen (lyrics, no WRD script)"
                      : ", title screen (no WRD script)") +
         (r.wantedSubtitles ? ", " + std::to_string(r.subtitles) + " subtitles" : "");
}

// An engine with a headless display and FreeType glyphs of its own.
class VideoWorker final : public RenderWorker {
 public:
  explicit VideoWorker(const VideoJob& job)
      : job_(job), presenter_(Headless()), engine_(EngineServices{nullptr, nullptr, &presenter_, &glyphs_}) {}
  std::string render(const BatchItem& item, std::string* done) override {
    VideoResult made;
    std::string error = RenderVideo(engine_, item.song, item.out, job_, &made);
    if (error.empty()) *done = Summary(item.out, job_, made);
    return error;
  }
  Engine& engine() { return engine_; }

  static HeadlessOptions Headless() {
    HeadlessOptions options;
    options.framesFolder = "";
    options.refreshHz = 0;
    return options;
  }

 private:
  const VideoJob& job_;
  FreeTypeGlyphSystem glyphs_;
  HeadlessPresenter presenter_;
  Engine engine_;
};

int runRenderVideo(const ToolArgs& a) {
  const bool batch = IsBatchForm(a);
  VideoJob job;
  job.options = ReadRenderOptions(a);
  job.video = ReadVideoOptions(a);
  const std::string extension = "." + a.get("--format", "mp4");
  const std::string formatOf = batch ? "song" + extension : a.arg(1, "OUT");
  if (!VideoFileFormatFor(formatOf, &job.format))
    return Fail("cannot tell the format of \"" + formatOf + "\": name it .mp4, .webm or .mkv");
  if (batch) {
    job.progress = false;
    const std::vector<BatchItem> items = BatchItems(a, extension);
    return RunBatch("render-video", items, BatchJobs(a), [&] { return std::make_unique<VideoWorker>(job); });
  }

  const std::string& songPath = a.arg(0, "SONG");
  const std::string& outPath = a.arg(1, "OUT");
  // Ctrl-C is caught before the temporary file exists, so it never outlives the render.
  InterruptGuard interrupt;
  VideoWorker worker(job);
  VideoResult made;
  const std::string error = RenderVideo(worker.engine(), songPath, outPath, job, &made);
  if (!error.empty()) {
    if (InterruptGuard::interrupted()) {
      std::cerr << "qmidi-tool render-video: interrupted, nothing written\n";
      return 130;
    }
    return Fail(error);
  }
  if (a.json()) {
    JsonWriter j(std::cout);
    j.beginObject()
        .field("file", outPath)
        .field("codec", job.format.codec)
        .field("frames", made.frames)
        .field("fps", job.video.fps)
        .field("width", kScreenWidth * job.video.scale)
        .field("height", kScreenHeight * job.video.scale)
        .field("lengthMs", made.frames * 1000 / job.video.fps)
        .field("songMs", made.songMs)
        .field("script", made.scripted)
        .field("karaoke", made.karaoke)
        .field("subtitles", static_cast<int64_t>(made.subtitles))
        .endObject();
    std::cout << '\n';
  } else {
    std::cout << Summary(outPath, job, made) << '\n';
  }
  return 0;
}

}  // namespace

QMIDI_TOOL_COMMAND(render_video, {
  "render-video",
  ModuleCommandSummary("render-video"),
  "SONG OUT [--fps N] [--scale K] [--mode N] [--offset STEPS] [--soundfont FILE] [--gain G] "
  "[--normalize LUFS] [--volume 0-100] [--balance 0-100] [--subtitles] [--no-setup] [--json]\n"
  "  or:  render-video --jobs N [--format EXT] [--fps N] [--scale K] [--mode N] [--offset STEPS] "
  "[--soundfont FILE] [--gain G] [--normalize LUFS] [--volume 0-100] [--balance 0-100] [--subtitles] "
  "[--no-setup] SONG... OUTDIR\n"
  "       writes OUTDIR/<song's base name>.EXT (mp4 by default; webm, mkv), N songs at a time\n"
  "       (default: the number of cores)\n"
  "  --subtitles  a subtitle stream of the WRD screen text and the lyrics (MP4 mov_text,\n"
  "               WebM WebVTT, MKV ASS with karaoke timing)",
  {"--fps", "--scale", "--mode", "--offset", "--soundfont", "--gain", "--normalize", "--volume", "--balance",
   "--jobs", "--format"},
  runRenderVideo,
  {"--subtitles", "--no-setup"}})
