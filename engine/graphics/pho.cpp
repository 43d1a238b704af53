// PHO pictures: a raw dump of three 32000-byte planes of a 640 x 400,
// 8-colour screen.
#include <cstring>

#include "engine/graphics/loader_file.h"
#include "engine/graphics/loaders.h"
#include "engine/graphics/raster.h"
#include "platform/message_box.h"
#include "support/guard.h"

bool QGamePHOLoadSub(TQGBitmap& bitmap, const uint8_t* image) {
  return QGuard("QGamePHOLoadSub", false, [&] {
    qg::RasterLock r(bitmap);
    if (!r.ok() || r.width != 640 || r.height != 400 || !image) return false;
    const uint8_t* plane0 = image;
    const uint8_t* plane1 = image + 32000;
    const uint8_t* plane2 = image + 64000;
    for (int y = 0; y < 400; ++y) {
      uint8_t* out = r.row(y);
      for (int xb = 0; xb < 80; ++xb) {
        int o = y * 80 + xb;
        uint8_t b0 = plane0[o], b1 = plane1[o], b2 = plane2[o];
        for (int bit = 0; bit < 8; ++bit) {
          int shift = 7 - bit;
          int colour = ((b0 >> shift) & 1) | ((b1 >> shift) & 1) << 1 | ((b2 >> shift) & 1) << 2;
          out[xb * 8 + bit] = static_cast<uint8_t>(kQGColour0 - colour);
        }
      }
    }
    return true;
  });
}

bool QGamePHOLoadBytes(ByteView file, TQGBitmap& bitmap, MessageSink* messages) {
  bool ok = QGuard("QGamePHOLoad", false, [&] {
    QGFreeBitmap(bitmap);
    if (file.size() < kQGPhoBytes) {
      QDMessageBox(messages, kQGLoadFailCaption, kQGPhoSizeText, MessageIcon::None);
      return false;
    }
    if (!QGClearBitmap(640, 400, bitmap)) return false;
    return QGamePHOLoadSub(bitmap, file.sub(0, kQGPhoBytes).data());
  });
  if (!ok) QGFreeBitmap(bitmap);
  return ok;
}

bool QGamePHOLoad(const std::string& fileName, TQGBitmap& bitmap, MessageSink* messages) {
  return QGuard("QGamePHOLoad", false, [&] {
    QGFreeBitmap(bitmap);
    return qg::WithFileBytes(fileName, 502,
                             [&](ByteView f) { return QGamePHOLoadBytes(f, bitmap, messages); });
  });
}
