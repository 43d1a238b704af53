// One device list made of several: the mapper (-1) of one set, then the
// devices of the others one after the other. Std-only.
#pragma once

#include <memory>
#include <vector>

#include "platform/midi_out.h"

class CompositeMidiSystem final : public MidiOutSystem {
 public:
  // mapper may be null (no device -1); parts' own mappers are not listed.
  CompositeMidiSystem(std::unique_ptr<MidiOutSystem> mapper,
                      std::vector<std::unique_ptr<MidiOutSystem>> parts);

  int deviceCount() override;
  std::string productName(int id) override;
  bool supportsVolume(int id) override;
  MidiResult open(int id, std::unique_ptr<MidiOutPort>* port) override;
  std::string describe(int id) override;
  std::vector<std::string> features(int id) override;
  void refresh() override;

  MidiOutSystem* mapper() const { return mapper_.get(); }
  const std::vector<std::unique_ptr<MidiOutSystem>>& parts() const { return parts_; }

 private:
  // The set that holds device id and the id inside it; null when none.
  MidiOutSystem* locate(int id, int* local);

  std::unique_ptr<MidiOutSystem> mapper_;
  std::vector<std::unique_ptr<MidiOutSystem>> parts_;
};
