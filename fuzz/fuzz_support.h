// Shared by the picture fuzz targets: messages to the user are dropped (the
// loaders are given this sink).
#pragma once

#include <string_view>

#include "platform/message_box.h"

class SilentMessages final : public MessageSink {
 public:
  void show(std::string_view, std::string_view, MessageIcon) override {}
};
