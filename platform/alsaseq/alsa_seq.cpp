#include "platform/alsaseq/alsa_seq.h"

#include <alsa/asoundlib.h>
#include <unistd.h>

#include <map>

#include "platform/midi_bytes.h"

// Our client on the sequencer; every open port of ours is a port of it.
// Calls on the handle are serialised: alsa-lib does not share one between
// threads.
struct AlsaSeqMidiSystem::Connection {
  snd_seq_t* seq = nullptr;
  std::mutex mutex;
  ~Connection() {
    if (seq) snd_seq_close(seq);
  }
};

namespace {

constexpr unsigned kWanted = SND_SEQ_PORT_CAP_WRITE | SND_SEQ_PORT_CAP_SUBS_WRITE;

class AlsaSeqPort final : public MidiOutPort {
 public:
  AlsaSeqPort(AlsaSeqMidiSystem::Connection* connection, int ownPort, snd_midi_event_t* encoder)
      : connection_(connection), ownPort_(ownPort), encoder_(encoder) {}
  ~AlsaSeqPort() override {
    if (connection_) close();
  }

  MidiResult shortMessage(uint32_t message) override {
    std::lock_guard lock(mutex_);
    if (!connection_) return kMidiInvalidHandle;
    if (!decoder_.decode(message)) return kMidiInvalidParam;
    // Always whole messages to the encoder (with their status byte).
    uint8_t bytes[3];
    int n = 0;
    const uint8_t* b = decoder_.data();
    if (b[0] < 0x80) bytes[n++] = decoder_.status();
    for (int i = 0; i < decoder_.size(); ++i) bytes[n++] = b[i];
    if (bytes[0] < 0xF0) held_.follow(bytes[0], n > 1 ? bytes[1] : 0, n > 2 ? bytes[2] : 0);
    return sendBytes(bytes, static_cast<size_t>(n));
  }

  MidiResult longMessage(const uint8_t* data, uint32_t length) override {
    std::lock_guard lock(mutex_);
    if (!connection_) return kMidiInvalidHandle;
    if (!data || length == 0) return kMidiInvalidParam;
    if (data[0] == 0xF0 && data[length - 1] == 0xF7) {
      snd_seq_event_t ev;
      snd_seq_ev_clear(&ev);
      snd_seq_ev_set_sysex(&ev, length, const_cast<uint8_t*>(data));
      return output(&ev);
    }
    return sendBytes(data, length);
  }

  MidiResult reset() override {
    std::lock_guard lock(mutex_);
    if (!connection_) return kMidiInvalidHandle;
    std::vector<uint8_t> bytes = held_.releaseAll();
    return sendBytes(bytes.data(), bytes.size());
  }

  MidiResult getVolume(uint32_t*) override { return volumeAnswer(); }
  MidiResult setVolume(uint32_t) override { return volumeAnswer(); }

  MidiResult close() override {
    std::lock_guard lock(mutex_);
    if (!connection_) return kMidiInvalidHandle;
    {
      std::lock_guard seqLock(connection_->mutex);
      snd_seq_delete_simple_port(connection_->seq, ownPort_);
    }
    snd_midi_event_free(encoder_);
    connection_ = nullptr;
    return kMidiOk;
  }

 private:
  MidiResult volumeAnswer() {
    std::lock_guard lock(mutex_);
    return connection_ ? kMidiNotSupported : kMidiInvalidHandle;
  }

  // Any MIDI bytes, turned into sequencer events one message at a time.
  MidiResult sendBytes(const uint8_t* data, size_t length) {
    MidiResult result = kMidiOk;
    while (length > 0) {
      snd_seq_event_t ev;
      snd_seq_ev_clear(&ev);
      long used = snd_midi_event_encode(encoder_, data, static_cast<long>(length), &ev);
      if (used <= 0) return kMidiError;
      data += used;
      length -= static_cast<size_t>(used);
      if (ev.type != SND_SEQ_EVENT_NONE && output(&ev) != kMidiOk) result = kMidiError;
    }
    return result;
  }

  MidiResult output(snd_seq_event_t* ev) {
    snd_seq_ev_set_source(ev, static_cast<unsigned char>(ownPort_));
    snd_seq_ev_set_subs(ev);
    snd_seq_ev_set_direct(ev);
    std::lock_guard seqLock(connection_->mutex);
    return snd_seq_event_output_direct(connection_->seq, ev) < 0 ? kMidiError : kMidiOk;
  }

  std::mutex mutex_;
  AlsaSeqMidiSystem::Connection* connection_;
  int ownPort_;
  snd_midi_event_t* encoder_;
  MidiShortMessage decoder_;
  MidiHeldNotes held_;
};

void quietAlsa(const char*, int, const char*, int, const char*, ...) {}

}  // namespace

AlsaSeqMidiSystem::AlsaSeqMidiSystem(std::string sequencerDevice) : device_(std::move(sequencerDevice)) {
  refresh();
}

AlsaSeqMidiSystem::~AlsaSeqMidiSystem() { delete connection_; }

void AlsaSeqMidiSystem::refresh() {
  std::vector<Target> found;
  if (!device_.empty() && ::access(device_.c_str(), R_OK | W_OK) == 0) {
    snd_lib_error_set_handler(quietAlsa);
    snd_seq_t* seq = nullptr;
    if (snd_seq_open(&seq, "default", SND_SEQ_OPEN_OUTPUT, 0) >= 0) {
      int self = snd_seq_client_id(seq);
      snd_seq_client_info_t* client;
      snd_seq_port_info_t* port;
      snd_seq_client_info_alloca(&client);
      snd_seq_port_info_alloca(&port);
      snd_seq_client_info_set_client(client, -1);
      while (snd_seq_query_next_client(seq, client) >= 0) {
        int c = snd_seq_client_info_get_client(client);
        if (c == self || c == SND_SEQ_CLIENT_SYSTEM) continue;
        snd_seq_port_info_set_client(port, c);
        snd_seq_port_info_set_port(port, -1);
        while (snd_seq_query_next_port(seq, port) >= 0) {
          unsigned caps = snd_seq_port_info_get_capability(port);
          if ((caps & kWanted) != kWanted || (caps & SND_SEQ_PORT_CAP_NO_EXPORT)) continue;
          Target t;
          t.client = c;
          t.port = snd_seq_port_info_get_port(port);
          t.clientName = snd_seq_client_info_get_name(client);
          t.portName = snd_seq_port_info_get_name(port);
          t.productName = t.portName;
          found.push_back(t);
        }
      }
      snd_seq_close(seq);
    }
    snd_lib_error_set_handler(nullptr);
  }
  // Ports of the same name are told apart by their address.
  std::map<std::string, int> uses;
  for (const Target& t : found) ++uses[t.portName];
  for (Target& t : found)
    if (uses[t.portName] > 1)
      t.productName = t.portName + " (" + std::to_string(t.client) + ":" + std::to_string(t.port) + ")";
  std::lock_guard lock(mutex_);
  targets_ = std::move(found);
}

int AlsaSeqMidiSystem::deviceCount() {
  std::lock_guard lock(mutex_);
  return static_cast<int>(targets_.size());
}

std::string AlsaSeqMidiSystem::productName(int id) {
  std::lock_guard lock(mutex_);
  if (id < 0 || id >= static_cast<int>(targets_.size())) return {};
  return targets_[static_cast<size_t>(id)].productName;
}

std::string AlsaSeqMidiSystem::describe(int id) {
  std::lock_guard lock(mutex_);
  if (id < 0 || id >= static_cast<int>(targets_.size())) return {};
  const Target& t = targets_[static_cast<size_t>(id)];
  return "ALSA sequencer " + std::to_string(t.client) + ":" + std::to_string(t.port) + " (" +
         t.clientName + ")";
}

MidiResult AlsaSeqMidiSystem::open(int id, std::unique_ptr<MidiOutPort>* port) {
  if (!port) return kMidiInvalidParam;
  std::lock_guard lock(mutex_);
  if (id < 0 || id >= static_cast<int>(targets_.size())) return kMidiBadDevice;
  const Target target = targets_[static_cast<size_t>(id)];
  if (!connection_) {
    auto c = new Connection;
    if (snd_seq_open(&c->seq, "default", SND_SEQ_OPEN_OUTPUT, 0) < 0) {
      c->seq = nullptr;
      delete c;
      return kMidiError;
    }
    snd_seq_set_client_name(c->seq, "QMIDI");
    connection_ = c;
  }
  std::lock_guard seqLock(connection_->mutex);
  int own = snd_seq_create_simple_port(connection_->seq, "QMIDI output",
                                       SND_SEQ_PORT_CAP_READ | SND_SEQ_PORT_CAP_SUBS_READ,
                                       SND_SEQ_PORT_TYPE_MIDI_GENERIC | SND_SEQ_PORT_TYPE_APPLICATION);
  if (own < 0) return kMidiError;
  int r = snd_seq_connect_to(connection_->seq, own, target.client, target.port);
  if (r < 0) {
    snd_seq_delete_simple_port(connection_->seq, own);
    return r == -EBUSY ? kMidiAllocated : kMidiBadDevice;
  }
  snd_midi_event_t* encoder = nullptr;
  if (snd_midi_event_new(4096, &encoder) < 0) {
    snd_seq_delete_simple_port(connection_->seq, own);
    return kMidiError;
  }
  *port = std::make_unique<AlsaSeqPort>(connection_, own, encoder);
  return kMidiOk;
}
