// Files of resources/ carried inside the Linux programs, made into arrays at build time
// (cmake/embed_file.cmake), as the Windows program carries them as resources.
#pragma once

#include <cstdint>

extern const std::uint8_t LOGO_BMP[];  // resources/logo.bmp
extern const std::uint32_t LOGO_BMP_SIZE;
extern const std::uint8_t APP_ICO[];  // resources/app.ico
extern const std::uint32_t APP_ICO_SIZE;
