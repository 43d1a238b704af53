#include "engine/wrd/wrd_runtime.h"

#include <chrono>
#include <filesystem>
#include <thread>
#include <vector>

#include "engine/graphics/draw.h"
#include "engine/graphics/transfer.h"
#include "engine/wrd/karaoke_screen.h"
#include "engine/wrd/wrd_compiler.h"
#include "support/cp932.h"
#include "support/dos_names.h"
#include "support/file_record.h"
#include "support/guard.h"

namespace fs = std::filesystem;

namespace {

constexpr int32_t kWidth = 640;
constexpr int32_t kHeight = 400;
constexpr int32_t kStatusTop = 384;
constexpr size_t kStatusBytes = 80;

// Code page 932 text cut to at most n bytes without splitting a character.
std::string cutBytes(const std::string& text, size_t n) {
  size_t i = 0;
  while (i < text.size()) {
    const size_t len = IsSjisLeadByte(static_cast<uint8_t>(text[i])) && i + 1 < text.size() ? 2 : 1;
    if (i + len > n) break;
    i += len;
  }
  return text.substr(0, i);
}

// The WRD default colours (palette entry k holds colour 15 - k).
TWRDPalette defaultColours(const TWRDState& s) {
  const auto& sys = s.systemPalette;
  TWRDPalette d{};
  for (int32_t c = 0; c < 16; ++c) {
    const int32_t index = (c == 0 || c == 8) ? 0 : c < 8 ? 248 + c : 240 + c;
    d[static_cast<size_t>(15 - c)] = sys[static_cast<size_t>(index)];
  }
  return d;
}

std::vector<QGPaletteEntry> systemEntries(const TWRDState& s) {
  std::vector<QGPaletteEntry> out(256);
  const auto& sys = s.systemPalette;
  for (size_t i = 0; i < 256; ++i) out[i] = {sys[i].red, sys[i].green, sys[i].blue, sys[i].flags};
  return out;
}

}  // namespace

std::string WRDProblemText(const TWRDState& s) {
  switch (s.errorCode) {
    case kWRDCompiled: return {};
    case kWRDErrRead:
      if (s.readFailure == kWRDReadEmpty) return "empty";
      if (s.readFailure == kWRDReadTooLarge)
        return "too large (more than " + std::to_string(kQGDefaultMaxBytes) + " bytes)";
      return "missing or unreadable";
    case kWRDErrTokens: return "endless (no end within 5,000,000 tokens)";
    case kWRDErrCapacity: return "too big for the command tables";
    default: return "not compilable (see the trace log)";
  }
}

struct WrdRuntime::Karaoke {
  Karaoke(GraphicsDisplay& display, TSongLyrics sung, const std::string& titleUtf8)
      : lyrics(std::move(sung)), screen(display, lyrics, titleUtf8) {}
  TSongLyrics lyrics;
  TKaraokeScreen screen;  // draws the lyrics above
};

WrdRuntime::WrdRuntime(GraphicsDisplay& display, ResultCode& result)
    : display_(display), result_(result), executor_(s_, display, slots_, result) {}

WrdRuntime::~WrdRuntime() {
  stopTicks();
  active_ = false;
  lyricsShown_ = false;
  karaoke_.reset();
  if (display_.exists()) display_.free();
}

void WrdRuntime::clearLayers() {
  QGFillRect(display_.textLayer(), 0, 0, kWidth, kHeight, kWRDClearColour);
  QGFillRect(display_.page0(), 0, 0, kWidth, kHeight, kQGColour0);
  QGFillRect(display_.page1(), 0, 0, kWidth, kHeight, kQGColour0);
}

void WrdRuntime::drawStatus(const std::string& text) {
  QGFillRect(display_.screen(), 0, kStatusTop, kWidth, kHeight - kStatusTop, 0);
  QGFillRect(display_.textLayer(), 0, kStatusTop, kWidth, kHeight - kStatusTop, kWRDClearColour);
  const std::string cut = cutBytes(text, kStatusBytes);
  // One string per character, so that the line is laid out on the cell grid.
  std::vector<std::string> units;
  for (size_t i = 0; i < cut.size();) {
    const size_t len = IsSjisLeadByte(static_cast<uint8_t>(cut[i])) && i + 1 < cut.size() ? 2 : 1;
    units.push_back(cut.substr(i, len));
    i += len;
  }
  int32_t width = 0;
  if (!units.empty())
    display_.drawText(display_.textLayer(), 0, kStatusTop, &width, units, 0, static_cast<int>(units.size()),
                      255);
  if (width > 0)
    QGmemBlt(display_.screen(), 0, kStatusTop, kWidth, kHeight - kStatusTop, display_.textLayer(), 0,
             kStatusTop, kQGOpaque);
}

void WrdRuntime::statusMessage(const std::string& cp932Text) {
  if (!display_.exists()) return;
  drawStatus(cp932Text);
}

void WrdRuntime::placeWindow() { display_.presenter().setPlacement(fullScreen_ != 0, left_, top_); }

void WrdRuntime::setLeft(int32_t left) {
  left_ = left;
  if (!fullScreen_) placeWindow();
}

void WrdRuntime::setTop(int32_t top) {
  top_ = top;
  if (!fullScreen_) placeWindow();
}

int32_t WrdRuntime::getMinimised() const {
  if (isMinimised) return isMinimised() ? -1 : 0;
  return minimisedValue_;
}

void WrdRuntime::setMinimised(int32_t value) {
  minimisedValue_ = value == 1 ? -1 : 0;
  if (minimise) minimise(value == 1);
}

void WrdRuntime::stopTicks(int timeoutMs) {
  TWRDState& s = s_;
  s.running = 0;
  const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (!s.tickIdle.load() && std::chrono::steady_clock::now() < until)
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

void WrdRuntime::loadMessage(const std::string& songNameSjis) {
  QGuardVoid("subWRDLoadMsgOut", [&] { statusMessage(songNameSjis + Utf8ToCp932(kWRDMsgLoading)); });
}

void WrdRuntime::startMessage() {
  // Shown right before the post-pass, whose caller has checked the display.
  QGuardVoid("subWRDKaisiMsgOut", [&] { drawStatus(Utf8ToCp932(kWRDMsgStart)); });
}

void WrdRuntime::stopMessage() {
  QGuardVoid("subWRDStopMsgOut", [&] { statusMessage(Utf8ToCp932(kWRDMsgStop)); });
}

void WrdRuntime::dropDisplay() {
  active_ = false;
  s_.loaded = 0;
  display_.presenter().setVisible(false);
  cursorHidden_ = false;
}

void WrdRuntime::loadPictures() {
  TWRDState& s = s_;
  QGSlotNameTable& table = slots_.names();
  table.folder = s.scriptDir;
  for (int32_t i = 0; i < kWRDSlots; ++i) table.names[static_cast<size_t>(i)] = s.slotNames[static_cast<size_t>(i)];
  for (int32_t i = kWRDSlots - 1; i >= 0; --i) {
    const std::string& name = table.names[static_cast<size_t>(i)];
    if (name.empty()) continue;
    std::error_code ec;
    if (!fs::is_regular_file(name, ec) && QGResolveDosName(table.folder, name).empty()) continue;
    slots_.load(i);
  }
  if (const TQGBitmap* title = slots_.picture(0)) {
    TWRDPalette p{};
    for (size_t k = 0; k < 16; ++k) {
      const QGRgbQuad& q = title->colours[226 + k];
      p[k] = {q.red, q.green, q.blue, 0};
    }
    s.palettes[17] = p;
    s.palettes[18] = p;
  }
  QGFillRect(display_.screen(), 0, 0, kWidth, kHeight, 0);
  QGmemBlt(display_.screen(), 0, 0, kWidth, kHeight, display_.textLayer(), 0, 0, kQGOpaque);
  executor_.applyPalette0();
}

void WrdRuntime::noteProblem(const std::string& script) {
  problem_ = script + ": " + WRDProblemText(s_);
  QGTrText("subWRDLoad: the WRD script was not loaded: " + problem_);
}

bool WrdRuntime::load(const std::string& script, const PackedSong& song) {
  problem_.clear();
  return QGuard("subWRDLoad", false, [&] {
    TWRDState& s = s_;
    if (lyricsShown()) stop();  // the lyrics of the song before go with their display
    if (!visible_ || script.empty()) {
      if (s.displayExists) stop();
      s.displayExists = 0;
      dropDisplay();
      return true;
    }
    if (s.displayExists) statusMessage(Utf8ToCp932(kWRDMsgScript));
    s.graphicsMode = 15;
    if (!compileScript(script, song)) {
      // A script that cannot be read is played as no script: no window is
      // left open (the song's end then ends a command-line run as usual).
      noteProblem(script);
      if (s.displayExists) stop();
      s.displayExists = 0;
      dropDisplay();
      return true;
    }
    executor_.resetRunState();

    // Playback colours: the defaults, with pure red kept just off the
    // system's red, and palette 21 never quite black in red.
    TWRDPalette d = defaultColours(s);
    TWRDPalette keep = d;
    for (auto& e : d)
      if (e.red == 255) e.red = 254;
    for (auto& e : keep) {
      if (e.red == 255) e.red = 254;
      if (e.red == 0) e.red = 1;
    }
    s.palettes[0] = d;
    s.palettes[21] = keep;

    if (s.displayExists) {
      QGFillRect(display_.textLayer(), 0, 0, kWidth, kHeight, kWRDClearColour);
      slots_.freeAll();
      QGFillRect(display_.page0(), 0, 0, kWidth, kHeight, kQGColour0);
      QGFillRect(display_.page1(), 0, 0, kWidth, kHeight, kQGColour0);
    } else {
      bringDisplayUp();
    }
    if (!s.displayExists) {
      dropDisplay();
      return true;
    }
    active_ = true;
    executor_.install();
    // The system colours above the screen colours come back into the
    // display palette (a buffer of their own: the defaults in palette 0
    // stay as they are).
    const std::vector<QGPaletteEntry> sys = systemEntries(s);
    display_.setPaletteEntries(246, 9, sys.data() + 246);
    clearLayers();

    if (s.slotNames[0].empty()) {
      const std::string title = QGFindFileNoCase(fs::path(script).replace_extension(".mag").string());
      if (!title.empty()) s.slotNames[0] = title;
    }
    statusMessage(Utf8ToCp932(kWRDMsgPictures));
    loadPictures();
    return true;
  });
}

// Creates the display in the system colours and shows its window.
bool WrdRuntime::bringDisplayUp() {
  cursorHidden_ = true;
  const std::vector<QGPaletteEntry> sys = systemEntries(s_);
  s_.displayExists = display_.create(kWidth, kHeight, font, sys.data(), fullScreen_ != 0) ? -1 : 0;
  // Slots of an earlier script refer to pictures of that display.
  slots_.freeAll();
  if (!s_.displayExists) return false;
  placeWindow();
  display_.presenter().setVisible(true);
  return true;
}

bool WrdRuntime::showLyrics(TSongLyrics lyrics, const std::string& titleUtf8) {
  return QGuard("WrdRuntime.showLyrics", false, [&] {
    if (!visible_ || lyrics.empty()) return false;
    if (s_.displayExists) stop();  // a window the song before left up
    if (!bringDisplayUp()) {
      dropDisplay();
      return false;
    }
    TKaraokeScreen::ApplyPalette(display_);
    karaoke_ = std::make_unique<Karaoke>(display_, std::move(lyrics), titleUtf8);
    drawStatus(Utf8ToCp932(kWRDMsgStart));
    presentLyrics(0);
    lyricsShown_ = true;
    active_ = true;
    return true;
  });
}

void WrdRuntime::presentLyrics(uint32_t ms) {
  if (karaoke_->screen.draw(display_.screen(), ms))
    QGPresent(display_.screen(), {0, 0, kWidth - 1, kStatusTop - 1});
}

void WrdRuntime::tickLyrics(uint64_t songTicks) {
  if (!lyricsShown_.load()) return;
  WRDRunTick(s_, [&] {
    QGuardVoid("WrdRuntime.tickLyrics", [&] {
      if (s_.running.load() && karaoke_) presentLyrics(karaoke_->lyrics.msAtTick(songTicks));
    });
  });
}

bool WrdRuntime::compileScript(const std::string& script, const PackedSong& song) {
  TWRDInputs& in = s_.inputs;
  in.tickDivision = song.tickDivision;
  // A song without a time signature keeps the bar of the song before it.
  if (song.beatsPerBar > 0) beatsPerBar_ = song.beatsPerBar;
  in.beatsPerBar = beatsPerBar_;
  in.songEnd = song.endPosition();
  in.timeMapEntries = static_cast<int32_t>(song.entries);
  in.displayOffset = delay_;
  return subWRDInit(s_, script);
}

bool WrdRuntime::tableCalc() { return subWRDTableCalc(s_); }

void WrdRuntime::stop() {
  QGuardVoid("subWRDStop", [&] {
    stopTicks();
    active_ = false;
    lyricsShown_ = false;
    karaoke_.reset();
    TWRDState& s = s_;
    if (s.displayExists) {
      s.displayExists = 0;
      slots_.freeAll();
      display_.free();
      cursorHidden_ = false;
      display_.presenter().setVisible(false);
    }
    s.commands.release();
    s.cells.release();
    s.palRecords.release();
    s.pictures.release();
    s.rects.release();
    s.fades.release();
    s.nextEntry = 0;
    s.nextCell = 0;
    start_ = Checkpoint();
  });
}

// --- Jumps ---------------------------------------------------------------------

namespace {

std::array<TQGBitmap*, 4> Rasters(GraphicsDisplay& d) { return {&d.screen(), &d.page0(), &d.textLayer(), &d.page1()}; }

}  // namespace

void WrdRuntime::keepStart() {
  QGuardVoid("WRDKeepStart", [&] {
    Checkpoint& c = start_;
    c.kept = false;
    if (!display_.exists()) return;
    const std::array<TQGBitmap*, 4> rasters = Rasters(display_);
    for (size_t i = 0; i < rasters.size(); ++i) {
      const TQGBitmap& r = *rasters[i];
      c.rasters[i].assign(r.base, r.base ? r.base + r.pixelBytes : nullptr);
    }
    const TWRDState& s = s_;
    c.palette = display_.palette();
    c.palettes = s.palettes;
    c.nextEntry = s.nextEntry.load();
    c.nextCell = s.nextCell.load();
    c.drawingPage = s.runDrawingPage;
    c.shownPage = s.shownPage;
    c.graphicsOff = s.graphicsOff;
    c.graphicsMode = s.graphicsMode;
    for (int32_t i = 0; i < kQGSlotCount; ++i) c.slotFilled[static_cast<size_t>(i)] = slots_.picture(i) != nullptr;
    c.kept = true;
  });
}

void WrdRuntime::restoreStart() {
  const Checkpoint& c = start_;
  const std::array<TQGBitmap*, 4> rasters = Rasters(display_);
  for (size_t i = 0; i < rasters.size(); ++i) {
    TQGBitmap& r = *rasters[i];
    if (r.base && c.rasters[i].size() == r.pixelBytes) std::copy(c.rasters[i].begin(), c.rasters[i].end(), r.base);
  }
  display_.setPaletteEntries(0, 256, c.palette.data());
  TWRDState& s = s_;
  s.palettes = c.palettes;
  s.nextEntry = c.nextEntry;
  s.nextCell = c.nextCell;
  s.runDrawingPage = c.drawingPage;
  s.shownPage = c.shownPage;
  s.graphicsOff = c.graphicsOff;
  s.graphicsMode = c.graphicsMode;
  s.dirtyValid = false;
  // A picture the script let go of is needed again.
  for (int32_t i = 0; i < kQGSlotCount; ++i)
    if (c.slotFilled[static_cast<size_t>(i)] && !slots_.picture(i)) slots_.load(i);
}

void WrdRuntime::tickAt(const std::function<int32_t()>& position) {
  if (!active_.load()) return;
  WRDRunTick(s_, [&] {
    QGuardVoid("subWRDTick", [&] {
      if (s_.running.load()) executor_.runDue(position(), true);
    });
  });
}

bool WrdRuntime::seek(int32_t position) {
  if (!active_.load() || !display_.exists()) return false;
  // The jump waits for a tick inside to end (a stop makes it give up).
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(2);
  bool ok = false;
  auto rebuild = [&] {
    ok = QGuard("WRDSeek", false, [&] {
      display_.setQuiet(true);
      if (executor_.ranPast(position) && start_.kept) restoreStart();
      executor_.runDue(position, false);
      display_.setQuiet(false);
      display_.presenter().setSongPosition(position);
      display_.presentWhole();
      return true;
    });
    display_.setQuiet(false);
  };
  while (!WRDRunTick(s_, rebuild)) {
    if (!s_.running.load() || std::chrono::steady_clock::now() >= until) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return ok;
}
