#include "platform/midi_out.h"


namespace {

class NoDevices final : public MidiOutSystem {
 public:
  int deviceCount() override { return 0; }
  std::string productName(int) override { return {}; }
  bool supportsVolume(int) override { return false; }
  MidiResult open(int, std::unique_ptr<MidiOutPort>*) override { return kMidiBadDevice; }
};

}  // namespace

MidiOutSystem& QDNoMidiDevices() {
  static NoDevices none;
  return none;
}

int QDFindMidiDevice(MidiOutSystem& system, const std::string& name) {
  if (name.empty()) return kMidiNotFound;
  int count = system.deviceCount();
  for (int id = kMidiMapper; id < count; ++id)
    if (system.productName(id) == name) return id;
  return kMidiNotFound;
}
