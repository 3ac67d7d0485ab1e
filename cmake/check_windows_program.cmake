# Checks what a built Windows program asks of the loader. Run as
#   cmake -DOBJDUMP=<objdump> -DPROGRAM=<program.exe> [-DSTAMP=<file>] -P check_windows_program.cmake
#
# The libraries a program imports are found before any of its code runs, so nothing it does can
# choose where they come from. Only KnownDLLs may be imported: they always come from System32,
# whereas any other name is looked for in the program's own directory first, where a planted copy
# would run with the user's rights. Everything else is loaded by hand (platform/win32/win32_dll.cpp),
# and no MinGW runtime DLL may be needed: the runtime is linked in. The header must ask for ASLR
# with the full 64-bit range and DEP, name the GUI subsystem and carry no link time, and the
# program must be stripped.
cmake_minimum_required(VERSION 3.20)
set(known_dlls kernel32.dll user32.dll gdi32.dll msvcrt.dll)

execute_process(COMMAND "${OBJDUMP}" -p -h "${PROGRAM}" OUTPUT_VARIABLE dump RESULT_VARIABLE failed)
if(failed)
  message(FATAL_ERROR "${OBJDUMP} could not read ${PROGRAM}")
endif()

set(faults "")
string(REGEX MATCHALL "DLL Name: [^\n]+" imports "${dump}")
if(NOT imports)
  list(APPEND faults "no import table found")
endif()
foreach(line IN LISTS imports)
  string(REGEX REPLACE "^DLL Name: " "" name "${line}")
  string(STRIP "${name}" name)
  string(TOLOWER "${name}" lower)
  if(NOT lower IN_LIST known_dlls)
    list(APPEND faults "imports ${name}, which is not a KnownDLL")
  endif()
endforeach()
foreach(flag HIGH_ENTROPY_VA DYNAMIC_BASE NX_COMPAT)
  if(NOT dump MATCHES "\n[ \t]+${flag}\n")
    list(APPEND faults "DllCharacteristics lack ${flag}")
  endif()
endforeach()
if(NOT dump MATCHES "\nSubsystem[ \t]+00000002")
  list(APPEND faults "the subsystem is not the Windows GUI (2)")
endif()
if(NOT dump MATCHES "\nTime/Date[ \t]+[A-Za-z]+ Jan  1 00:00:00 1970\n")
  list(APPEND faults "the header carries a link time")
endif()
if(dump MATCHES "[ \t]\\.debug_")
  list(APPEND faults "debug sections are left in")
endif()

if(faults)
  list(JOIN faults "\n  " text)
  message(FATAL_ERROR "${PROGRAM}:\n  ${text}")
endif()
if(STAMP)
  file(TOUCH "${STAMP}")
endif()
