#include "platform/softsynth/synth_module.h"

#include <fluidsynth.h>

namespace {

constexpr int kPortChannels = 16;
constexpr int kDrumChannel = 9;
constexpr int kPercussionBank = 128;
// XG bank MSBs from this up select drum kits.
constexpr uint8_t kXgDrumMsb = 120;
constexpr uint8_t kXgDrumKit = 127;

constexpr uint8_t kRoland = 0x41, kYamaha = 0x43, kNonRealTime = 0x7E, kRealTime = 0x7F;
constexpr uint8_t kOurDevice = 0x10, kAllDevices = 0x7F;
constexpr uint8_t kGsModel = 0x42, kDataSet = 0x12, kXgModel = 0x4C;

// The MIDI channel (0-15) of GS block x: block 0 is part 10 (the drum
// part), blocks 1-9 parts 1-9, blocks 10-15 parts 11-16.
int ChannelOfBlock(uint32_t block) {
  return block == 0 ? 9 : block <= 9 ? static_cast<int>(block) - 1 : static_cast<int>(block);
}

}  // namespace

SoftSynthModule::SoftSynthModule(fluid_synth_t* synth) : synth_(synth) {
  std::lock_guard lock(mutex_);
  reset(0, Style::kGs);
}

std::vector<std::string> SoftSynthModule::Features() {
  return {"two ports: port A on channels 1-16, port B on 17-32",
          "GM, GS and XG resets with their bank selection",
          "GS data set to device 16: part tone, level, pan, sends, key shift; master volume",
          "GS use for rhythm part and XG drum parts"};
}

void SoftSynthModule::resetChannel(int ch, Style style) {
  fluid_synth_all_sounds_off(synth_, ch);
  fluid_synth_cc(synth_, ch, 121, 0);  // reset all controllers
  fluid_synth_cc(synth_, ch, 7, 100);
  fluid_synth_cc(synth_, ch, 10, 64);
  fluid_synth_cc(synth_, ch, 91, 40);
  fluid_synth_cc(synth_, ch, 93, 0);
  fluid_synth_pitch_bend(synth_, ch, 8192);
  fluid_synth_pitch_wheel_sens(synth_, ch, 2);
  fluid_synth_set_gen(synth_, ch, GEN_COARSETUNE, 0.0f);
  Channel& c = channels_[ch];
  const bool drum = ch % kPortChannels == kDrumChannel;
  c = Channel{};
  c.msb = style == Style::kXg && drum ? kXgDrumKit : 0;
  c.drum = drum;
  programChange(ch, 0);
}

// Port A's reset is the whole module's; port B's its own channels'.
void SoftSynthModule::reset(int port, Style style) {
  const int first = port == 0 ? 0 : kPortChannels;
  if (port == 0) {
    style_[0] = style_[1] = style;
    masterVolume_.store(127);
  } else {
    style_[1] = style;
  }
  for (int ch = first; ch < kChannels; ++ch) resetChannel(ch, style_[ch / kPortChannels]);
}

int SoftSynthModule::bankOf(int ch) const {
  const Channel& c = channels_[ch];
  if (c.drum) return kPercussionBank;  // the program chooses the kit
  switch (style_[ch / kPortChannels]) {
    case Style::kGm: return 0;
    case Style::kXg: return c.lsb;
    case Style::kGs: break;
  }
  return c.msb;
}

void SoftSynthModule::programChange(int ch, uint8_t program) {
  Channel& c = channels_[ch];
  c.program = program & 0x7F;
  if (style_[ch / kPortChannels] == Style::kXg) c.drum = c.msb >= kXgDrumMsb;
  fluid_synth_set_channel_type(synth_, ch, c.drum ? CHANNEL_TYPE_DRUM : CHANNEL_TYPE_MELODIC);
  fluid_synth_bank_select(synth_, ch, bankOf(ch));
  fluid_synth_program_change(synth_, ch, c.program);
}

void SoftSynthModule::setDrum(int ch, bool drum) {
  Channel& c = channels_[ch];
  c.drum = drum;
  if (style_[ch / kPortChannels] == Style::kXg) c.msb = drum ? kXgDrumKit : 0;
  programChange(ch, c.program);
}

// Bank selects are kept and take effect at the next program change, as the
// port's style reads them.
void SoftSynthModule::controlChange(int ch, uint8_t controller, uint8_t value) {
  if (controller == 0)
    channels_[ch].msb = value;
  else if (controller == 32)
    channels_[ch].lsb = value;
  else
    fluid_synth_cc(synth_, ch, controller, value);
}

void SoftSynthModule::shortMessage(int port, uint8_t status, const uint8_t* d) {
  std::lock_guard lock(mutex_);
  const int ch = (status & 0x0F) + (port ? kPortChannels : 0);
  switch (status & 0xF0) {
    case 0x80: fluid_synth_noteoff(synth_, ch, d[0]); break;
    case 0x90: fluid_synth_noteon(synth_, ch, d[0], d[1]); break;  // velocity 0 is a note-off
    case 0xA0: fluid_synth_key_pressure(synth_, ch, d[0], d[1]); break;
    case 0xB0: controlChange(ch, d[0], d[1]); break;
    case 0xC0: programChange(ch, d[0]); break;
    case 0xD0: fluid_synth_channel_pressure(synth_, ch, d[0]); break;
    case 0xE0: fluid_synth_pitch_bend(synth_, ch, d[0] | (d[1] << 7)); break;
    default:
      if (status == 0xFF)
        reset(port, style_[port ? 1 : 0]);  // timing and the rest mean nothing here
      break;
  }
}

void SoftSynthModule::releasePort(int port) {
  std::lock_guard lock(mutex_);
  for (int ch = port ? kPortChannels : 0, end = ch + kPortChannels; ch < end; ++ch) {
    fluid_synth_cc(synth_, ch, 64, 0);
    fluid_synth_all_notes_off(synth_, ch);
  }
}

int SoftSynthModule::selectedBank(int channel) {
  std::lock_guard lock(mutex_);
  return channel >= 0 && channel < kChannels ? bankOf(channel) : -1;
}

void SoftSynthModule::systemExclusive(int port, const uint8_t* d, size_t n) {
  if (!d || n < 4) return;
  std::lock_guard lock(mutex_);
  port = port ? 1 : 0;
  if (roland(port, d, n) || yamaha(port, d, n) || universal(port, d, n)) return;
}

// 41 10 42 12 address data... checksum: a GS data set; a wrong checksum
// makes the module ignore the message, as a GS module does.
bool SoftSynthModule::roland(int port, const uint8_t* d, size_t n) {
  if (d[0] != kRoland || n < 9 || (d[1] != kOurDevice && d[1] != kAllDevices) || d[2] != kGsModel ||
      d[3] != kDataSet)
    return false;
  uint32_t sum = 0;
  for (size_t i = 4; i < n; ++i) sum += d[i];
  if ((sum & 0x7F) != 0) return true;
  const uint32_t high = d[4];
  const uint32_t start = uint32_t{d[5]} << 7 | d[6];
  for (size_t i = 7; i + 1 < n; ++i) {
    const uint32_t offset = start + static_cast<uint32_t>(i - 7);
    gsParameter(port, high << 16 | (offset >> 7 & 0x7F) << 8 | (offset & 0x7F), d[i] & 0x7F,
                i + 2 < n);
  }
  return true;
}

void SoftSynthModule::gsParameter(int port, uint32_t address, uint8_t value, bool toneFollows) {
  if (address == 0x40007F) {
    if (value == 0) reset(port, Style::kGs);
    return;
  }
  // A port reset into GM or XG is no GS module: only a GS reset brings it back.
  if (style_[port] != Style::kGs) return;
  if (address == 0x400004) {
    masterVolume_.store(value);
    return;
  }
  if ((address & 0xFFF000) != 0x401000) return;  // other system, drum and effect parameters
  const int ch = ChannelOfBlock(address >> 8 & 0x0F) + (port ? kPortChannels : 0);
  Channel& c = channels_[ch];
  switch (address & 0xFF) {
    case 0x00:  // tone number: bank, then the program when it follows
      c.msb = value;
      if (!toneFollows) programChange(ch, c.program);
      break;
    case 0x01: programChange(ch, value); break;
    case 0x15: setDrum(ch, value != 0); break;  // use for rhythm part
    case 0x16:
      fluid_synth_set_gen(synth_, ch, GEN_COARSETUNE, static_cast<float>(value) - 64.0f);
      break;
    case 0x19: fluid_synth_cc(synth_, ch, 7, value); break;
    case 0x1C:
      if (value != 0) fluid_synth_cc(synth_, ch, 10, value);  // 0 is random
      break;
    case 0x21: fluid_synth_cc(synth_, ch, 93, value); break;
    case 0x22: fluid_synth_cc(synth_, ch, 91, value); break;
    default: break;
  }
}

// 43 1n 4C address data...: XG system on and each channel's drum mode.
bool SoftSynthModule::yamaha(int port, const uint8_t* d, size_t n) {
  if (d[0] != kYamaha || n < 7 || (d[1] & 0xF0) != 0x10 || d[2] != kXgModel) return false;
  if (d[3] == 0x00 && d[4] == 0x00 && d[5] == 0x7E && d[6] == 0x00) reset(port, Style::kXg);
  if (d[3] == 0x08 && d[4] < kPortChannels && d[5] == 0x07)
    setDrum(d[4] + (port ? kPortChannels : 0), d[6] != 0);
  return true;
}

// GM system on (GM2 too) resets into GM; a tuning message goes to
// FluidSynth's own handling for port A.
bool SoftSynthModule::universal(int port, const uint8_t* d, size_t n) {
  if (d[0] != kNonRealTime && d[0] != kRealTime) return false;
  if (d[0] == kNonRealTime && d[2] == 0x09 && (d[3] == 0x01 || d[3] == 0x03)) {
    reset(port, Style::kGm);
  } else if (port == 0 && d[2] == 0x08) {
    int handled = 0;
    fluid_synth_sysex(synth_, reinterpret_cast<const char*>(d), static_cast<int>(n), nullptr,
                      nullptr, &handled, 0);
  }
  return true;
}
