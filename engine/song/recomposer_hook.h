// Where Recomposer songs (".RCP", ".R36", ".G36", ".G18") enter the song
// reader: the bytes of the file become a Standard MIDI File image, which the
// converter then reads like any other song. Tests may put another builder
// in place.
#pragma once

#include "engine/song/rcp_converter.h"

using QGmstRcpImageBuilder = bool (*)(const RcpImageRequest& request, RcpImage* image);

// Builds the image with the installed builder; false when none is installed
// or the builder fails.
bool QGmstBuildRcpImage(const RcpImageRequest& request, RcpImage* image);

// True: the Recomposer converter is part of the engine (kept for tests).
bool QGmstRcpConverterLinked();

// Replaces the builder (null puts the linked converter back); for tests.
void QGmstSetRcpImageBuilder(QGmstRcpImageBuilder builder);
