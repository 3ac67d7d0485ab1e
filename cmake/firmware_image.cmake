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
  set(NAME FIRMWARE_IMAGE)
  set(HEADER resources/firmware_image.h)
  include(${CMAKE_CURRENT_LIST_DIR}/embed_file.cmake)
endif()
