// Where Recomposer songs (".RCP", ".R36") enter the song reader: the bytes of
// the file become a Standard MIDI File image, which the converter then reads
// like any other song. Tests may put another builder in place.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

using QGmstRcpImageBuilder = bool (*)(const uint8_t* data, size_t size, bool r36,
                                      std::vector<uint8_t>* smf);

// Builds the image with the installed builder; false when none is installed
// or the builder fails.
bool QGmstBuildRcpImage(const uint8_t* data, size_t size, bool r36, std::vector<uint8_t>* smf);

// True: the Recomposer converter is part of the engine (kept for tests).
bool QGmstRcpConverterLinked();

// Replaces the builder (null puts the linked converter back); for tests.
void QGmstSetRcpImageBuilder(QGmstRcpImageBuilder builder);
