#include "engine/wrd/wrd_display.h"

#include <chrono>
#include <filesystem>
#include <thread>
#include <vector>

#include "engine/graphics/draw.h"
#include "engine/graphics/picture_slots.h"
#include "engine/graphics/transfer.h"
#include "engine/song/song_reader.h"
#include "engine/wrd/wrd_compiler.h"
#include "engine/wrd/wrd_executor.h"
#include "platform/presenter.h"
#include "support/cp932.h"
#include "support/dos_names.h"
#include "support/guard.h"

namespace fs = std::filesystem;

namespace {

constexpr int32_t kWidth = 640;
constexpr int32_t kHeight = 400;
constexpr int32_t kStatusTop = 384;
constexpr size_t kStatusBytes = 80;

std::atomic<TWRDTickHook> g_hook{nullptr};

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
TWRDPalette defaultColours() {
  const auto& sys = WRDState().systemPalette;
  TWRDPalette d{};
  for (int32_t c = 0; c < 16; ++c) {
    const int32_t index = (c == 0 || c == 8) ? 0 : c < 8 ? 248 + c : 240 + c;
    d[static_cast<size_t>(15 - c)] = sys[static_cast<size_t>(index)];
  }
  return d;
}

std::vector<QGPaletteEntry> systemEntries() {
  std::vector<QGPaletteEntry> out(256);
  const auto& sys = WRDState().systemPalette;
  for (size_t i = 0; i < 256; ++i) out[i] = {sys[i].red, sys[i].green, sys[i].blue, sys[i].flags};
  return out;
}

void clearLayers() {
  QGFillRect(QDTextLayer(), 0, 0, kWidth, kHeight, kWRDClearColour);
  QGFillRect(QDPage0(), 0, 0, kWidth, kHeight, kQGColour0);
  QGFillRect(QDPage1(), 0, 0, kWidth, kHeight, kQGColour0);
}

void drawStatus(const std::string& text) {
  QGFillRect(QDScreenBuffer(), 0, kStatusTop, kWidth, kHeight - kStatusTop, 0);
  QGFillRect(QDTextLayer(), 0, kStatusTop, kWidth, kHeight - kStatusTop, kWRDClearColour);
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
    QRSetMoji(QDTextLayer(), 0, kStatusTop, &width, units, 0, static_cast<int>(units.size()), 255);
  if (width > 0)
    QGmemBlt(QDScreenBuffer(), 0, kStatusTop, kWidth, kHeight - kStatusTop, QDTextLayer(), 0,
             kStatusTop, kQGOpaque);
}

}  // namespace

std::atomic<TWRDTickHook>& WRDPlayerHook() { return g_hook; }

TWRDCRE& WRDControl() {
  static TWRDCRE control;
  return control;
}

void WRDStatusMessage(const std::string& cp932Text) {
  if (!QDDisplayExists()) return;
  drawStatus(cp932Text);
}

void TWRDCRE::placeWindow() { QDPresenter().setPlacement(fullScreen_ != 0, left_, top_); }

void TWRDCRE::setFullScreen(int32_t flag) { fullScreen_ = flag; }

void TWRDCRE::setLeft(int32_t left) {
  left_ = left;
  if (!fullScreen_) placeWindow();
}

void TWRDCRE::setTop(int32_t top) {
  top_ = top;
  if (!fullScreen_) placeWindow();
}

int32_t TWRDCRE::getMinimised() const {
  if (isMinimised) return isMinimised() ? -1 : 0;
  return minimisedValue_;
}

void TWRDCRE::setMinimised(int32_t value) {
  minimisedValue_ = value == 1 ? -1 : 0;
  if (minimise) minimise(value == 1);
}

void TWRDCRE::StopTicks(int timeoutMs) {
  TWRDState& s = WRDState();
  s.running = 0;
  const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (!s.tickIdle.load() && std::chrono::steady_clock::now() < until)
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

void TWRDCRE::subWRDLoadMsgOut() {
  QGuardVoid("subWRDLoadMsgOut", [] {
    WRDStatusMessage(QGSongReader().getinFileName() + Utf8ToCp932(kWRDMsgLoading));
  });
}

void TWRDCRE::subWRDKaisiMsgOut() {
  // Shown right before the post-pass, whose caller has checked the display.
  QGuardVoid("subWRDKaisiMsgOut", [] { drawStatus(Utf8ToCp932(kWRDMsgStart)); });
}

void TWRDCRE::subWRDStopMsgOut() {
  QGuardVoid("subWRDStopMsgOut", [] { WRDStatusMessage(Utf8ToCp932(kWRDMsgStop)); });
}

void TWRDCRE::dropDisplay() {
  g_hook = nullptr;
  WRDState().loaded = 0;
  QDPresenter().setVisible(false);
  cursorHidden_ = false;
}

void WRDLoadPictures() {
  TWRDState& s = WRDState();
  QGSlotNameTable& table = QGSlotNames();
  table.folder = s.scriptDir;
  for (int32_t i = 0; i < kWRDSlots; ++i) table.names[static_cast<size_t>(i)] = s.slotNames[static_cast<size_t>(i)];
  for (int32_t i = kWRDSlots - 1; i >= 0; --i) {
    const std::string& name = table.names[static_cast<size_t>(i)];
    if (name.empty()) continue;
    std::error_code ec;
    if (!fs::is_regular_file(name, ec) && QGResolveDosName(table.folder, name).empty()) continue;
    QGMagBMPLoad(i);
  }
  if (const TQGBitmap* title = QGSlotPicture(0)) {
    TWRDPalette p{};
    for (size_t k = 0; k < 16; ++k) {
      const QGRgbQuad& q = title->colours[226 + k];
      p[k] = {q.red, q.green, q.blue, 0};
    }
    s.palettes[17] = p;
    s.palettes[18] = p;
  }
  QGFillRect(QDScreenBuffer(), 0, 0, kWidth, kHeight, 0);
  QGmemBlt(QDScreenBuffer(), 0, 0, kWidth, kHeight, QDTextLayer(), 0, 0, kQGOpaque);
  WRDApplyPalette0();
}

bool TWRDCRE::subWRDLoad() {
  return QGuard("subWRDLoad", false, [&] {
    TWRDState& s = WRDState();
    TQUORMSTR& song = QGSongReader();
    fileName_ = song.getWRDFileName();
    if (!visible_ || fileName_.empty()) {
      if (s.displayExists) subWRDStop();
      s.displayExists = 0;
      dropDisplay();
      return true;
    }
    if (s.displayExists) WRDStatusMessage(Utf8ToCp932(kWRDMsgScript));
    s.graphicsMode = 15;
    compileSongScript(song);
    WRDResetRunState();

    // Playback colours: the defaults, with pure red kept just off the
    // system's red, and palette 21 never quite black in red.
    TWRDPalette d = defaultColours();
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
      QGFillRect(QDTextLayer(), 0, 0, kWidth, kHeight, kWRDClearColour);
      QDMagFreeAll();
      QGFillRect(QDPage0(), 0, 0, kWidth, kHeight, kQGColour0);
      QGFillRect(QDPage1(), 0, 0, kWidth, kHeight, kQGColour0);
    } else {
      cursorHidden_ = true;
      const std::vector<QGPaletteEntry> sys = systemEntries();
      std::vector<uint8_t> table(1024);
      for (size_t i = 0; i < 256; ++i) {
        table[i * 4] = sys[i].red;
        table[i * 4 + 1] = sys[i].green;
        table[i * 4 + 2] = sys[i].blue;
        table[i * 4 + 3] = sys[i].flags;
      }
      QGLoadPal(table.data());
      s.displayExists = QDCreate(kWidth, kHeight, font, sys.data(), fullScreen_ != 0) ? -1 : 0;
      if (s.displayExists) {
        placeWindow();
        QDPresenter().setVisible(true);
      }
    }
    if (!s.displayExists) {
      dropDisplay();
      return true;
    }
    g_hook = &subWRDTick;
    WRDInstallExecutor();
    // The system colours above the screen colours come back into the
    // display palette (a buffer of their own: the defaults in palette 0
    // stay as they are).
    const std::vector<QGPaletteEntry> sys = systemEntries();
    QDSetPaletteEntries(246, 9, sys.data() + 246);
    clearLayers();

    if (s.slotNames[0].empty()) {
      const std::string title = QGFindFileNoCase(fs::path(fileName_).replace_extension(".mag").string());
      if (!title.empty()) s.slotNames[0] = title;
    }
    WRDStatusMessage(Utf8ToCp932(kWRDMsgPictures));
    WRDLoadPictures();
    return true;
  });
}

bool TWRDCRE::compileSongScript(const TQUORMSTR& song) {
  TWRDInputs& in = WRDState().inputs;
  in.tickDivision = song.getdwTickDivision();
  // A song without a time signature keeps the bar of the song before it.
  if (song.getBeatsPerBar() > 0) beatsPerBar_ = song.getBeatsPerBar();
  in.beatsPerBar = beatsPerBar_;
  in.songEnd = song.getdwMaxTempo();
  in.timeMapEntries = song.getdwMaxTimeIdx();
  in.displayOffset = delay_;
  return subWRDInit(fileName_);
}

void TWRDCRE::subWRDStop() {
  QGuardVoid("subWRDStop", [&] {
    StopTicks();
    TWRDState& s = WRDState();
    if (s.displayExists) {
      s.displayExists = 0;
      QDFree();
      cursorHidden_ = false;
      QDPresenter().setVisible(false);
    }
    s.commands.release();
    s.cells.release();
    s.palRecords.release();
    s.pictures.release();
    s.rects.release();
    s.fades.release();
    s.nextEntry = 0;
    s.nextCell = 0;
  });
}
