#include "engine/song/recomposer_hook.h"

#include <atomic>

#include "engine/song/rcp_converter.h"

namespace {

constexpr QGmstRcpImageBuilder kLinkedBuilder = &RcpToSmfImage;

std::atomic<QGmstRcpImageBuilder> g_builder{kLinkedBuilder};

}  // namespace

bool QGmstBuildRcpImage(const uint8_t* data, size_t size, bool r36, std::vector<uint8_t>* smf) {
  QGmstRcpImageBuilder builder = g_builder.load();
  if (!builder || !smf) return false;
  smf->clear();
  return builder(data, size, r36, smf);
}

bool QGmstRcpConverterLinked() { return true; }

void QGmstSetRcpImageBuilder(QGmstRcpImageBuilder builder) {
  g_builder.store(builder ? builder : kLinkedBuilder);
}
