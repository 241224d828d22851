// Windows bitmap files of a surface: 24-bit, uncompressed (BI_RGB), rows
// bottom-up and padded to four bytes, as the host's picture loader reads them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/gfx/Surface.h"

namespace course_draw {

// The whole file: file header, info header, pixels. Empty for an empty surface.
std::vector<uint8_t> EncodeBmp24(const platform::gfx::Surface& surface);

// Writes EncodeBmp24 of the surface; false with the reason in *error.
bool WriteBmp24(const platform::gfx::Surface& surface, const std::string& path,
                std::string* error = nullptr);

}  // namespace course_draw
