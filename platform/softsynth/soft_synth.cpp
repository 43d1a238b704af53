#include "platform/softsynth/soft_synth.h"

#include <alsa/asoundlib.h>
#include <fluidsynth.h>
#include <time.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <thread>

#include "platform/midi_bytes.h"
#include "platform/softsynth/synth_module.h"
#include "support/file_record.h"
#include "support/trace.h"

namespace fs = std::filesystem;

namespace {

// FluidSynth's errors go to the trace log; its warnings (such as a bank the
// sound font lacks, which it substitutes) are not failures of ours.
void fluidLog(int level, const char* message, void*) {
  if (level <= FLUID_ERR && message) QGTrText(std::string("FluidSynth: ") + message);
}

// Also makes the process's first synth alone: FluidSynth fills its shared
// tables (interpolation, conversion, dither) in the first new_fluid_synth,
// and a second synth made meanwhile on another thread (batch renders) would
// sound with tables half filled.
void prepareFluid() {
  static std::once_flag once;
  std::call_once(once, [] {
    for (int level = FLUID_PANIC; level <= FLUID_DBG; ++level)
      fluid_set_log_function(level, fluidLog, nullptr);
    fluid_settings_t* settings = new_fluid_settings();
    if (!settings) return;
    if (fluid_synth_t* first = new_fluid_synth(settings)) delete_fluid_synth(first);
    delete_fluid_settings(settings);
  });
}

// ALSA's library prints its own errors; a failed attempt is reported by us.
void quietAlsa(const char*, int, const char*, int, const char*, ...) {}

int64_t monotonicNs() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return int64_t{ts.tv_sec} * 1000000000 + ts.tv_nsec;
}

void putLE(std::FILE* f, uint32_t v, int bytes) {
  for (int i = 0; i < bytes; ++i) std::fputc(static_cast<int>((v >> (8 * i)) & 0xFF), f);
}

// A 16-bit stereo PCM WAV header; the sizes are patched as the file grows.
void writeWavHeader(std::FILE* f, int rate, uint32_t dataBytes) {
  std::fseek(f, 0, SEEK_SET);
  std::fwrite("RIFF", 1, 4, f);
  putLE(f, 36 + dataBytes, 4);
  std::fwrite("WAVEfmt ", 1, 8, f);
  putLE(f, 16, 4);
  putLE(f, 1, 2);  // PCM
  putLE(f, 2, 2);  // stereo
  putLE(f, static_cast<uint32_t>(rate), 4);
  putLE(f, static_cast<uint32_t>(rate) * 4, 4);
  putLE(f, 4, 2);
  putLE(f, 16, 2);
  std::fwrite("data", 1, 4, f);
  putLE(f, dataBytes, 4);
}

// The device volume (left low half, right high half) and the module's
// master volume (0-127), applied to rendered sound.
void applyVolume(uint32_t volume, int master, float* left, float* right, int frames) {
  const float m = static_cast<float>(master) / 127.0f;
  float gl = static_cast<float>(volume & 0xFFFF) / 65535.0f * m;
  float gr = static_cast<float>(volume >> 16) / 65535.0f * m;
  if (gl == 1.0f && gr == 1.0f) return;
  for (int i = 0; i < frames; ++i) {
    left[i] *= gl;
    right[i] *= gr;
  }
}

}  // namespace

struct SoftSynthSystem::Engine {
  fluid_settings_t* settings = nullptr;
  fluid_synth_t* synth = nullptr;
  std::unique_ptr<SoftSynthModule> module;
  std::atomic<uint32_t>* volume = nullptr;
  int rate = 44100;

  std::string outputName;  // "" while stopped
  fluid_audio_driver_t* driver = nullptr;

  // The WAV fallback.
  std::thread wavThread;
  std::atomic<bool> wavStop{false};
  std::FILE* wav = nullptr;
  std::string wavFile;

  ~Engine() {
    stop();
    module.reset();
    if (synth) delete_fluid_synth(synth);
    if (settings) delete_fluid_settings(settings);
  }

  // Called by the audio driver: the synth's sound with the device volume.
  static int process(void* data, int len, int nfx, float* fx[], int nout, float* out[]) {
    auto* e = static_cast<Engine*>(data);
    int r;
    if (nfx == 0 || fx == nullptr) {
      r = fluid_synth_process(e->synth, len, nout, out, nout, out);  // effects mixed into the output
    } else {
      r = fluid_synth_process(e->synth, len, nfx, fx, nout, out);
      // Effect buffers of their own are scaled too (a driver may hand the
      // output buffers in both places: those are scaled once, below).
      for (int i = 0; i + 1 < nfx; i += 2) {
        bool shared = false;
        for (int k = 0; k < nout; ++k) shared = shared || fx[i] == out[k] || fx[i + 1] == out[k];
        if (!shared) e->scale(fx[i], fx[i + 1], len);
      }
    }
    for (int i = 0; i + 1 < nout; i += 2) e->scale(out[i], out[i + 1], len);
    return r;
  }

  void scale(float* left, float* right, int frames) const {
    applyVolume(volume->load(), module->masterVolume(), left, right, frames);
  }

  bool tryDriver(const std::string& name) {
    if (name == "alsa" && !fs::exists("/dev/snd")) return false;  // no sound cards at all
    fluid_settings_setstr(settings, "audio.driver", name.c_str());
    if (name == "alsa") snd_lib_error_set_handler(quietAlsa);
    driver = new_fluid_audio_driver2(settings, &Engine::process, this);
    if (name == "alsa") snd_lib_error_set_handler(nullptr);
    if (!driver) return false;
    outputName = name;
    return true;
  }

  bool startWav(const std::string& path) {
    std::error_code ec;
    fs::create_directories(fs::path(path).parent_path(), ec);
    wav = std::fopen(path.c_str(), "wb");
    if (!wav) return false;
    writeWavHeader(wav, rate, 0);
    wavFile = path;
    outputName = "WAV " + path;
    wavStop.store(false);
    wavThread = std::thread([this] { renderWavInRealTime(); });
    return true;
  }

  // Renders a block whenever its end time has come, so that the file holds
  // the sound as it would have played.
  void renderWavInRealTime() {
    constexpr int kBlock = 128;
    float left[kBlock], right[kBlock];
    int16_t pcm[kBlock * 2];
    const int64_t start = monotonicNs();
    uint64_t frames = 0;
    int64_t lastPatch = start;
    while (!wavStop.load()) {
      int64_t due = start + static_cast<int64_t>((frames + kBlock) * 1000000000ULL / static_cast<uint64_t>(rate));
      int64_t now = monotonicNs();
      if (now < due) {
        timespec ts{static_cast<time_t>(due / 1000000000), static_cast<long>(due % 1000000000)};
        clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &ts, nullptr);
        continue;
      }
      fluid_synth_write_float(synth, kBlock, left, 0, 1, right, 0, 1);
      scale(left, right, kBlock);
      for (int i = 0; i < kBlock; ++i) {
        pcm[2 * i] = static_cast<int16_t>(std::lrint(std::fmax(-1.0f, std::fmin(1.0f, left[i])) * 32767.0f));
        pcm[2 * i + 1] = static_cast<int16_t>(std::lrint(std::fmax(-1.0f, std::fmin(1.0f, right[i])) * 32767.0f));
      }
      std::fwrite(pcm, sizeof pcm, 1, wav);
      frames += kBlock;
      if (now - lastPatch > 1000000000) {  // keep the file playable while it grows
        writeWavHeader(wav, rate, static_cast<uint32_t>(frames * 4));
        std::fseek(wav, 0, SEEK_END);
        std::fflush(wav);
        lastPatch = now;
      }
    }
    writeWavHeader(wav, rate, static_cast<uint32_t>(frames * 4));
  }

  void stop() {
    if (driver) {
      delete_fluid_audio_driver(driver);
      driver = nullptr;
    }
    if (wavThread.joinable()) {
      wavStop.store(true);
      wavThread.join();
    }
    if (wav) {
      std::fclose(wav);
      wav = nullptr;
    }
    outputName.clear();
  }
};

// One open of the soft synth, serving one of the player's ports. When
// several opens serve the same port (the player's first and second outputs
// both on the mapper), only the first plays, so that no note sounds twice.
class SoftSynthPort final : public MidiOutPort {
 public:
  explicit SoftSynthPort(SoftSynthSystem* system) : system_(system), module_(system->engine_->module.get()) {}
  ~SoftSynthPort() override {
    if (system_) close();
  }

  int role() const { return role_.load(); }

  MidiResult shortMessage(uint32_t message) override {
    std::lock_guard lock(mutex_);
    if (!system_) return kMidiInvalidHandle;
    if (!decoder_.decode(message)) return kMidiInvalidParam;
    const uint8_t* b = decoder_.data();
    bool hasStatus = b[0] >= 0x80;
    if (system_->plays(this)) module_->shortMessage(role(), decoder_.status(), b + (hasStatus ? 1 : 0));
    sent_ = true;
    return kMidiOk;
  }

  // Any MIDI bytes: system exclusive messages (F0 ... F7) and short messages.
  MidiResult longMessage(const uint8_t* data, uint32_t length) override {
    std::lock_guard lock(mutex_);
    if (!system_) return kMidiInvalidHandle;
    if (!data || length == 0) return kMidiInvalidParam;
    sent_ = true;
    if (!system_->plays(this)) return kMidiOk;
    uint32_t i = 0;
    uint8_t running = 0;
    while (i < length) {
      uint8_t b = data[i];
      if (b == 0xF0) {
        uint32_t end = i + 1;
        while (end < length && data[end] != 0xF7) ++end;
        module_->systemExclusive(role(), data + i + 1, end - i - 1);
        i = end + 1;
        running = 0;
        continue;
      }
      uint8_t status = b >= 0x80 ? b : running;
      if (status == 0 || status == 0xF7) {  // stray data byte or end mark
        ++i;
        continue;
      }
      int n = MidiStatusLength(status) - 1;  // data bytes
      uint32_t first = b >= 0x80 ? i + 1 : i;
      if (first + static_cast<uint32_t>(n) > length) break;
      module_->shortMessage(role(), status, data + first);
      if (status < 0xF0) {
        running = status;
      } else if (status < 0xF8) {
        running = 0;
      }
      i = first + static_cast<uint32_t>(n);
    }
    return kMidiOk;
  }

  MidiResult reset() override {
    std::lock_guard lock(mutex_);
    if (!system_) return kMidiInvalidHandle;
    if (system_->plays(this)) module_->releasePort(role());
    return kMidiOk;
  }

  MidiResult getVolume(uint32_t* volume) override {
    std::lock_guard lock(mutex_);
    if (!system_) return kMidiInvalidHandle;
    if (!volume) return kMidiInvalidParam;
    *volume = system_->volume_.load();
    return kMidiOk;
  }

  MidiResult setVolume(uint32_t volume) override {
    std::lock_guard lock(mutex_);
    if (!system_) return kMidiInvalidHandle;
    system_->volume_.store(volume);
    return kMidiOk;
  }

  void servePort(int port) override {
    std::lock_guard lock(mutex_);
    if (system_) system_->assignRole(this, port ? 1 : 0);
  }

  MidiResult close() override {
    SoftSynthSystem* system;
    bool sent;
    {
      std::lock_guard lock(mutex_);
      if (!system_) return kMidiInvalidHandle;
      system = system_;
      sent = sent_;
      system_ = nullptr;
    }
    system->portClosed(this, sent);
    return kMidiOk;
  }

 private:
  friend class SoftSynthSystem;
  std::mutex mutex_;
  SoftSynthSystem* system_;
  SoftSynthModule* module_;
  std::atomic<int> role_{0};
  MidiShortMessage decoder_;
  bool sent_ = false;
};

SoftSynthSystem::SoftSynthSystem(SoftSynthConfig config) : config_(std::move(config)) {
  soundFont_ = config_.soundFont.empty() ? kDefaultSoundFont : config_.soundFont;
}

SoftSynthSystem::~SoftSynthSystem() {
  std::lock_guard lock(mutex_);
  engine_.reset();
}

std::string SoftSynthSystem::productName(int id) {
  if (id != kMidiMapper) return {};
  std::error_code ec;
  if (!fs::is_regular_file(soundFont_, ec)) return {};
  fs::path real = fs::canonical(soundFont_, ec);
  return "FluidSynth " + (ec ? fs::path(soundFont_) : real).filename().string();
}

bool SoftSynthSystem::supportsVolume(int id) { return !productName(id).empty(); }

std::string SoftSynthSystem::describe(int id) {
  if (productName(id).empty()) return {};
  std::error_code ec;
  fs::path real = fs::canonical(soundFont_, ec);
  return "soft synth, sound font " + (ec ? soundFont_ : real.string());
}

std::string SoftSynthSystem::wavPath() const {
  if (!config_.wavPath.empty()) return config_.wavPath;
  std::string trace = QGTrFilePath();
  fs::path dir = trace.empty() ? fs::temp_directory_path() : fs::path(trace).parent_path();
  return (dir / "qmidi-synth.wav").string();
}

std::string SoftSynthSystem::output() {
  std::lock_guard lock(mutex_);
  return engine_ ? engine_->outputName : std::string();
}

MidiResult SoftSynthSystem::startLocked() {
  if (!engine_) {
    prepareFluid();
    auto e = std::make_unique<Engine>();
    e->volume = &volume_;
    e->rate = config_.sampleRate;
    e->settings = new_fluid_settings();
    if (!e->settings) return kMidiError;
    // GS reset and XG system on carry device id 16; port B plays channels 17-32.
    fluid_settings_setint(e->settings, "synth.device-id", 16);
    fluid_settings_setint(e->settings, "synth.midi-channels", SoftSynthModule::kChannels);
    fluid_settings_setnum(e->settings, "synth.sample-rate", config_.sampleRate);
    fluid_settings_setnum(e->settings, "synth.gain", std::clamp(config_.gain, 0.0, kMaxSynthGain));
    // About 46 ms of sound buffered (FluidSynth's own 23 ms underruns on a busy
    // machine, and every underrun shifts the rest of the song); a player
    // needs no lower latency.
    fluid_settings_setint(e->settings, "audio.period-size", 256);
    fluid_settings_setint(e->settings, "audio.periods", 8);
    e->synth = new_fluid_synth(e->settings);
    if (!e->synth) return kMidiError;
    // FluidSynth opens the name itself: a FIFO there would stop it for good.
    const std::string problem = QGFileProblem(soundFont_);
    if (!problem.empty() || fluid_synth_sfload(e->synth, soundFont_.c_str(), 1) == FLUID_FAILED) {
      QGTrText("SoftSynth sound font " + soundFont_);
      std::cerr << "qmidi: the soft synth cannot load the sound font " << soundFont_
                << (problem.empty() ? "" : ": " + problem) << "\n";
      return kMidiError;
    }
    e->module = std::make_unique<SoftSynthModule>(e->synth);
    engine_ = std::move(e);
  }
  if (!engine_->outputName.empty()) return kMidiOk;
  if (config_.offline) {
    engine_->outputName = "offline";
    return kMidiOk;
  }
  for (const std::string& d : config_.audioDrivers)
    if (engine_->tryDriver(d)) return kMidiOk;
  std::string path = wavPath();
  if (!engine_->startWav(path)) {
    QGTrText("SoftSynth no audio output and no WAV file " + path);
    std::cerr << "qmidi: no audio output could be opened, and the soft synth cannot write " << path << "\n";
    return kMidiError;
  }
  QGTrText("SoftSynth no audio output, writing " + path);
  std::cerr << "qmidi: no audio output could be opened; the soft synth writes its sound into " << path
            << " as it plays\n";
  return kMidiOk;
}

void SoftSynthSystem::stopLocked() {
  if (!engine_) return;
  std::string wav = engine_->wavFile;
  engine_->stop();
  engine_->wavFile.clear();
  // An open that sounded nothing (a volume query) leaves no file behind.
  if (!wav.empty() && !sentSinceStart_) {
    std::error_code ec;
    fs::remove(wav, ec);
  }
}

MidiResult SoftSynthSystem::open(int id, std::unique_ptr<MidiOutPort>* port) {
  if (!port) return kMidiInvalidParam;
  if (id != kMidiMapper || productName(id).empty()) return kMidiBadDevice;
  std::lock_guard lock(mutex_);
  if (openPorts_ == 0) {
    sentSinceStart_ = false;
    MidiResult r = startLocked();
    if (r != kMidiOk) return r;
  }
  ++openPorts_;
  auto open = std::make_unique<SoftSynthPort>(this);
  servers_[0].push_back(open.get());
  updatePlayers();
  *port = std::move(open);
  return kMidiOk;
}

bool SoftSynthSystem::plays(const SoftSynthPort* port) const { return players_[port->role()].load() == port; }

void SoftSynthSystem::updatePlayers() {
  for (int r = 0; r < 2; ++r) players_[r].store(servers_[r].empty() ? nullptr : servers_[r].front());
}

void SoftSynthSystem::forget(SoftSynthPort* port) {
  for (auto& list : servers_) list.erase(std::remove(list.begin(), list.end(), port), list.end());
}

void SoftSynthSystem::assignRole(SoftSynthPort* port, int role) {
  std::lock_guard lock(mutex_);
  forget(port);
  port->role_.store(role);
  servers_[role].push_back(port);
  updatePlayers();
}

void SoftSynthSystem::portClosed(SoftSynthPort* port, bool sentAnything) {
  std::lock_guard lock(mutex_);
  forget(port);
  updatePlayers();
  if (sentAnything) sentSinceStart_ = true;
  if (--openPorts_ == 0) stopLocked();
}

bool SoftSynthSystem::render(float* interleaved, int frames) {
  std::lock_guard lock(mutex_);
  if (!engine_ || engine_->outputName != "offline" || !interleaved || frames <= 0) return false;
  std::vector<float> left(static_cast<size_t>(frames)), right(static_cast<size_t>(frames));
  if (fluid_synth_write_float(engine_->synth, frames, left.data(), 0, 1, right.data(), 0, 1) != FLUID_OK)
    return false;
  engine_->scale(left.data(), right.data(), frames);
  for (int i = 0; i < frames; ++i) {
    interleaved[2 * i] = left[static_cast<size_t>(i)];
    interleaved[2 * i + 1] = right[static_cast<size_t>(i)];
  }
  return true;
}

SoftSynthSystem::ChannelPreset SoftSynthSystem::channelPreset(int channel) {
  std::lock_guard lock(mutex_);
  ChannelPreset out;
  if (!engine_ || channel < 0 || channel >= SoftSynthModule::kChannels) return out;
  out.selectedBank = engine_->module->selectedBank(channel);
  fluid_preset_t* p = fluid_synth_get_channel_preset(engine_->synth, channel);
  if (!p) return out;
  out.bank = fluid_preset_get_banknum(p);
  out.program = fluid_preset_get_num(p);
  if (const char* name = fluid_preset_get_name(p)) out.name = name;
  return out;
}

std::vector<std::string> SoftSynthSystem::features(int id) {
  return productName(id).empty() ? std::vector<std::string>() : SoftSynthModule::Features();
}
