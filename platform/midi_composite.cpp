#include "platform/midi_composite.h"

CompositeMidiSystem::CompositeMidiSystem(std::unique_ptr<MidiOutSystem> mapper,
                                         std::vector<std::unique_ptr<MidiOutSystem>> parts)
    : mapper_(std::move(mapper)), parts_(std::move(parts)) {}

MidiOutSystem* CompositeMidiSystem::locate(int id, int* local) {
  if (id == kMidiMapper) {
    *local = kMidiMapper;
    return mapper_.get();
  }
  if (id < 0) return nullptr;
  for (auto& part : parts_) {
    int n = part->deviceCount();
    if (id < n) {
      *local = id;
      return part.get();
    }
    id -= n;
  }
  return nullptr;
}

int CompositeMidiSystem::deviceCount() {
  int n = 0;
  for (auto& part : parts_) n += part->deviceCount();
  return n;
}

std::string CompositeMidiSystem::productName(int id) {
  int local = 0;
  MidiOutSystem* s = locate(id, &local);
  return s ? s->productName(local) : std::string();
}

bool CompositeMidiSystem::supportsVolume(int id) {
  int local = 0;
  MidiOutSystem* s = locate(id, &local);
  return s && s->supportsVolume(local);
}

MidiResult CompositeMidiSystem::open(int id, std::unique_ptr<MidiOutPort>* port) {
  if (!port) return kMidiInvalidParam;
  int local = 0;
  MidiOutSystem* s = locate(id, &local);
  return s ? s->open(local, port) : kMidiBadDevice;
}

std::string CompositeMidiSystem::describe(int id) {
  int local = 0;
  MidiOutSystem* s = locate(id, &local);
  return s ? s->describe(local) : std::string();
}

std::vector<std::string> CompositeMidiSystem::features(int id) {
  int local = 0;
  MidiOutSystem* s = locate(id, &local);
  return s ? s->features(local) : std::vector<std::string>();
}

void CompositeMidiSystem::refresh() {
  if (mapper_) mapper_->refresh();
  for (auto& part : parts_) part->refresh();
}
