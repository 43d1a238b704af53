#include "platform/message_box.h"

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

}  // namespace

void QDMessageBox(MessageSink* sink, std::string_view caption, std::string_view text, MessageIcon icon) {
  StandardError standardError;
  (sink ? *sink : static_cast<MessageSink&>(standardError)).show(caption, text, icon);
}
