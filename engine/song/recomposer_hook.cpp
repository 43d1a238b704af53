#include "engine/song/recomposer_hook.h"

#include <atomic>

// The Recomposer converter joins by existing: when its header is in the tree
// (and engine/song/CMakeLists.txt compiles rcp_converter.cpp, which it does
// whenever the file exists), its RcpToSmfImage becomes the builder.
#if __has_include("engine/song/rcp_converter.h")
#include "engine/song/rcp_converter.h"
#define QMIDI_HAVE_RCP_CONVERTER 1
#endif

namespace {

#ifdef QMIDI_HAVE_RCP_CONVERTER
constexpr QGmstRcpImageBuilder kLinkedBuilder = &RcpToSmfImage;
#else
constexpr QGmstRcpImageBuilder kLinkedBuilder = nullptr;
#endif

std::atomic<QGmstRcpImageBuilder> g_builder{kLinkedBuilder};

}  // namespace

bool QGmstBuildRcpImage(const uint8_t* data, size_t size, bool r36, std::vector<uint8_t>* smf) {
  QGmstRcpImageBuilder builder = g_builder.load();
  if (!builder || !smf) return false;
  smf->clear();
  return builder(data, size, r36, smf);
}

bool QGmstRcpConverterLinked() { return kLinkedBuilder != nullptr; }

void QGmstSetRcpImageBuilder(QGmstRcpImageBuilder builder) {
  g_builder.store(builder ? builder : kLinkedBuilder);
}
