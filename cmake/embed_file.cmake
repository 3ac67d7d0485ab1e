# Writes a file's bytes as a C++ array: the logo and the icon for the Linux programs, and the
# firmware image for the portable builds (firmware_image.cmake includes this once it has checked
# the image). Run as
# `cmake -DINPUT=<file> -DOUTPUT=<file.cpp> -DNAME=<array> -DHEADER=<header> -P embed_file.cmake`;
# the array is NAME, its size NAME_SIZE, both declared in HEADER.
cmake_minimum_required(VERSION 3.20)
if(NOT EXISTS "${INPUT}")
  message(FATAL_ERROR "${INPUT} is missing")
endif()
get_filename_component(base "${INPUT}" NAME)
file(SIZE "${INPUT}" size)
file(READ "${INPUT}" hex HEX)
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
string(REGEX REPLACE "((0x..,){24})" "\\1\n" bytes "${bytes}")
file(WRITE "${OUTPUT}.tmp"
  "// Made from ${base} at build time; do not edit.\n"
  "#include \"${HEADER}\"\n\n"
  "const std::uint8_t ${NAME}[] = {\n${bytes}\n};\n"
  "const std::uint32_t ${NAME}_SIZE = ${size};\n")
file(RENAME "${OUTPUT}.tmp" "${OUTPUT}")
