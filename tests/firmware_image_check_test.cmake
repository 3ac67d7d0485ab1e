# Makes a firmware image of the KIND that must be refused and checks that the image check fails.
file(MAKE_DIRECTORY "${WORK}")
set(image "${WORK}/firmware.bin")
if(KIND STREQUAL "empty")
  file(WRITE "${image}" "")
elseif(KIND STREQUAL "odd")
  string(REPEAT "A" 62913 content)  # one byte past a whole chunk
  file(WRITE "${image}" "${content}")
else()
  string(REPEAT "A" 117776 content)  # one chunk more than the erased area holds
  file(WRITE "${image}" "${content}")
endif()
execute_process(COMMAND "${CMAKE_COMMAND}" -DINPUT=${image} -DOUTPUT=${WORK}/out.cpp -P "${SCRIPT}"
                RESULT_VARIABLE result OUTPUT_QUIET ERROR_VARIABLE error)
if(result EQUAL 0)
  message(FATAL_ERROR "a ${KIND} image was accepted")
endif()
if(EXISTS "${WORK}/out.cpp")
  message(FATAL_ERROR "a ${KIND} image was embedded")
endif()
