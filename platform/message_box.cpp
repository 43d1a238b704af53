#include "platform/message_box.h"

#include <atomic>
#include <iostream>
#include <string>

namespace {

class StandardError final : public MessageSink {
 public:
  void show(std::string_view caption, std::string_view text, MessageIcon) override {
    std::string line;
    line.append(caption).append(": ").append(text).append("\n");
    std::cerr << line << std::flush;
  }
};

StandardError g_default;
std::atomic<MessageSink*> g_sink{nullptr};

}  // namespace

void QDMessageBox(std::string_view caption, std::string_view text, MessageIcon icon) {
  MessageSink* s = g_sink.load();
  (s ? *s : static_cast<MessageSink&>(g_default)).show(caption, text, icon);
}

void QDSetMessageSink(MessageSink* sink) { g_sink.store(sink); }
