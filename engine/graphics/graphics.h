// Everything the graphics core offers, for callers that use most of it.
#pragma once

#include "engine/graphics/bitmap.h"
#include "engine/graphics/clip.h"
#include "engine/graphics/draw.h"
#include "engine/graphics/loaders.h"
#include "engine/graphics/picture_slots.h"
#include "engine/graphics/transfer.h"
