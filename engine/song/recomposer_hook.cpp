#include "engine/song/recomposer_hook.h"

#include <atomic>

namespace {

constexpr QGmstRcpImageBuilder kLinkedBuilder = &RcpBuildImage;

std::atomic<QGmstRcpImageBuilder> g_builder{kLinkedBuilder};

}  // namespace

bool QGmstBuildRcpImage(const RcpImageRequest& request, RcpImage* image) {
  QGmstRcpImageBuilder builder = g_builder.load();
  if (!builder || !image) return false;
  image->smf.clear();
  image->leadInTicks = 0;
  return builder(request, image);
}

bool QGmstRcpConverterLinked() { return true; }

void QGmstSetRcpImageBuilder(QGmstRcpImageBuilder builder) {
  g_builder.store(builder ? builder : kLinkedBuilder);
}
