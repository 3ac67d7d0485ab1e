# Checks the firmware image and, with OUTPUT set, writes it as a C++ array for the portable
# builds. Run as `cmake -DINPUT=<image> [-DOUTPUT=<file.cpp>] -P firmware_image.cmake`.
#
# The update erases 115 pages of 1024 bytes and sends whole 16-byte chunks: an empty image would
# leave the box erased, a tail that is not a whole chunk would silently not be sent, and a larger
# image could not be written whole. Any of these fails the build.
cmake_minimum_required(VERSION 3.20)
set(capacity 117760)
if(NOT EXISTS "${INPUT}")
  message(FATAL_ERROR "firmware image ${INPUT} is missing")
endif()
file(SIZE "${INPUT}" size)
math(EXPR tail "${size} % 16")
if(size EQUAL 0)
  message(FATAL_ERROR "firmware image ${INPUT} is empty")
elseif(NOT tail EQUAL 0)
  message(FATAL_ERROR "firmware image ${INPUT} has ${size} bytes, not a multiple of 16")
elseif(size GREATER capacity)
  message(FATAL_ERROR "firmware image ${INPUT} has ${size} bytes, more than the ${capacity} the update erases")
endif()
if(OUTPUT)
  file(READ "${INPUT}" hex HEX)
  string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
  string(REGEX REPLACE "((0x..,){24})" "\\1\n" bytes "${bytes}")
  file(WRITE "${OUTPUT}.tmp"
    "// Made from the firmware image at build time; do not edit.\n"
    "#include \"resources/firmware_image.h\"\n\n"
    "const std::uint8_t FIRMWARE_IMAGE[] = {\n${bytes}\n};\n"
    "const std::uint32_t FIRMWARE_IMAGE_SIZE = ${size};\n")
  file(RENAME "${OUTPUT}.tmp" "${OUTPUT}")
endif()
