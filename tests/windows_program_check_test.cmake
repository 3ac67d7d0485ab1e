# Runs the check of a built Windows program on two made-up objdump listings that differ in one
# import: with only functions that Windows 7 SP1 has, it must pass; with SetDefaultDllDirectories
# imported, which Windows 7 has only with an update, it must fail and name the function. A GUI
# program must not pass as a console program.
file(MAKE_DIRECTORY "${WORK}")
set(header "\nTime/Date\t\tThu Jan  1 00:00:00 1970\nSubsystem\t\t00000002\t(Windows GUI)\n\
DllCharacteristics\t00000160\n\t\t\t\t\tHIGH_ENTROPY_VA\n\t\t\t\t\tDYNAMIC_BASE\n\t\t\t\t\tNX_COMPAT\n\n\
\tDLL Name: USER32.dll\n\tvma:  Hint/Ord Member-Name Bound-To\n\t2724c\t   17  BeginPaint\n\n\
\tDLL Name: KERNEL32.dll\n\tvma:  Hint/Ord Member-Name Bound-To\n\t26aa4\t   20  AddVectoredExceptionHandler\n")

function(check name listing expect_pass)
  file(WRITE "${WORK}/${name}.txt" "${listing}\n")
  execute_process(COMMAND "${CMAKE_COMMAND}" -DDUMP=${WORK}/${name}.txt -DPROGRAM=${name}.exe -P "${SCRIPT}"
                  RESULT_VARIABLE result OUTPUT_QUIET ERROR_VARIABLE error)
  if(expect_pass AND NOT result EQUAL 0)
    message(FATAL_ERROR "${name}: refused:\n${error}")
  elseif(NOT expect_pass AND result EQUAL 0)
    message(FATAL_ERROR "${name}: accepted")
  elseif(NOT expect_pass AND NOT error MATCHES "kernel32.dll SetDefaultDllDirectories")
    message(FATAL_ERROR "${name}: refused without naming the import:\n${error}")
  endif()
endfunction()

check(windows7 "${header}" TRUE)
check(newer "${header}\t26ac2\t  950  SetDefaultDllDirectories\n" FALSE)

execute_process(COMMAND "${CMAKE_COMMAND}" -DDUMP=${WORK}/windows7.txt -DPROGRAM=console.exe -DCONSOLE=ON -P "${SCRIPT}"
                RESULT_VARIABLE result OUTPUT_QUIET ERROR_VARIABLE error)
if(result EQUAL 0 OR NOT error MATCHES "not the Windows console")
  message(FATAL_ERROR "a GUI program passed the console programs' check:\n${error}")
endif()
