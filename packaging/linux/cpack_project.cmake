# Read by CPack before it makes the package (CPACK_PROJECT_CONFIG_FILE). The dates in the package
# are the last commit's, not the build's, so that one commit gives the same package wherever and
# whenever it is built; a date set from outside (dpkg-buildpackage sets one) is kept.
if(NOT DEFINED ENV{SOURCE_DATE_EPOCH})
  find_program(VELTABOX_GIT git)
  if(VELTABOX_GIT)
    execute_process(COMMAND ${VELTABOX_GIT} log -1 --format=%ct
                    WORKING_DIRECTORY ${CPACK_VELTABOX_SOURCE_DIR}
                    OUTPUT_VARIABLE epoch OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET RESULT_VARIABLE status)
  endif()
  if(VELTABOX_GIT AND status EQUAL 0 AND epoch MATCHES "^[0-9]+$")
    set(ENV{SOURCE_DATE_EPOCH} ${epoch})
  else()
    message(WARNING "No commit to take the package's dates from (set SOURCE_DATE_EPOCH): "
                    "the package carries the build's dates and differs from build to build")
  endif()
endif()
