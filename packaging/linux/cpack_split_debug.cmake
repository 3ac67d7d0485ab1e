# Run by CPack once the files are staged (CPACK_PRE_BUILD_SCRIPTS): the programs are stripped
# there, before the package is made of them, and their debug information goes into the -dbgsym
# package beside it.
find_program(VELTABOX_PYTHON python3 REQUIRED)
execute_process(
  COMMAND ${VELTABOX_PYTHON} ${CPACK_VELTABOX_PACKAGING_DIR}/split_debug.py
          ${CPACK_TEMPORARY_INSTALL_DIRECTORY} ${CPACK_PACKAGE_DIRECTORY}
          ${CPACK_PACKAGE_NAME} ${CPACK_PACKAGE_VERSION}-${CPACK_DEBIAN_PACKAGE_RELEASE} "${CPACK_PACKAGE_CONTACT}"
  RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "Splitting the debug information off the programs failed")
endif()
