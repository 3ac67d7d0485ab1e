# Checks what a built Windows program asks of the loader. Run as
#   cmake -DOBJDUMP=<objdump> -DPROGRAM=<program.exe> [-DSTAMP=<file>] [-DCONSOLE=ON] -P check_windows_program.cmake
#   cmake -DDUMP=<file with the output of objdump -p -h> -DPROGRAM=<name> [-DCONSOLE=ON] -P check_windows_program.cmake
#
# The libraries a program imports are found before any of its code runs, so nothing it does can
# choose where they come from. Only KnownDLLs may be imported: they always come from System32,
# whereas any other name is looked for in the program's own directory first, where a planted copy
# would run with the user's rights. Everything else is loaded by hand (platform/win32/win32_dll.cpp),
# and no MinGW runtime DLL may be needed: the runtime is linked in. Every imported function must
# be one that Windows 7 SP1 has (windows7_imports.txt beside this file): the loader refuses to
# start a program with an import it cannot resolve. The header must ask for ASLR with the full
# 64-bit range and DEP, name the GUI subsystem (with CONSOLE the console subsystem, without which
# a shell would neither wait for the console programs nor lend them its console), carry no link
# time, and the program must be stripped.
cmake_minimum_required(VERSION 3.20)
set(known_dlls kernel32.dll user32.dll gdi32.dll msvcrt.dll)

if(DUMP)
  file(READ "${DUMP}" dump)
else()
  execute_process(COMMAND "${OBJDUMP}" -p -h "${PROGRAM}" OUTPUT_VARIABLE dump RESULT_VARIABLE failed)
  if(failed)
    message(FATAL_ERROR "${OBJDUMP} could not read ${PROGRAM}")
  endif()
endif()
file(STRINGS "${CMAKE_CURRENT_LIST_DIR}/windows7_imports.txt" windows7_imports REGEX "^[^#]")

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
# One block per library: its name, a heading, then a line per function (address, hint, name).
string(REGEX MATCHALL "\tDLL Name: [^\n]+\n\tvma:[^\n]*\n(\t[0-9a-f]+\t[^\n]*\n)*" blocks "${dump}")
foreach(block IN LISTS blocks)
  string(REGEX MATCH "DLL Name: ([^\n]+)" _ "${block}")
  string(STRIP "${CMAKE_MATCH_1}" library)
  string(TOLOWER "${library}" library)
  string(REGEX MATCHALL "\n\t[0-9a-f]+\t[^\n]*" members "${block}")
  foreach(member IN LISTS members)
    if(member MATCHES "^\n\t[0-9a-f]+\t +[0-9]+ +([A-Za-z0-9_@?$]+)$")
      set(function "${CMAKE_MATCH_1}")
    else()
      string(STRIP "${member}" function)
      set(function "(by ordinal: ${function})")
    endif()
    if(NOT "${library} ${function}" IN_LIST windows7_imports)
      list(APPEND faults "imports ${library} ${function}, which is not known to be on Windows 7 SP1 (windows7_imports.txt)")
    endif()
  endforeach()
endforeach()
if(imports AND NOT blocks)
  list(APPEND faults "the imported functions could not be read")
endif()
foreach(flag HIGH_ENTROPY_VA DYNAMIC_BASE NX_COMPAT)
  if(NOT dump MATCHES "\n[ \t]+${flag}\n")
    list(APPEND faults "DllCharacteristics lack ${flag}")
  endif()
endforeach()
if(CONSOLE)
  if(NOT dump MATCHES "\nSubsystem[ \t]+00000003")
    list(APPEND faults "the subsystem is not the Windows console (3)")
  endif()
elseif(NOT dump MATCHES "\nSubsystem[ \t]+00000002")
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
