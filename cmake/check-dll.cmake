# Checks what a built vastrel.dll needs and offers, from its PE headers:
#   cmake -DOBJDUMP=<objdump> -DDLL=<vastrel.dll> -DALLOWED="a.dll|b.dll" -DEXPORTS=7 -P check-dll.cmake
# Fails when the DLL imports from a DLL not in ALLOWED (the files that ship
# with it, or system DLLs), or exports other than EXPORTS names.

cmake_minimum_required(VERSION 3.25)

execute_process(COMMAND ${OBJDUMP} -p ${DLL} OUTPUT_VARIABLE headers RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "${OBJDUMP} could not read ${DLL}")
endif()

string(REPLACE "|" ";" allowed "${ALLOWED}")
string(TOLOWER "${allowed}" allowed)
string(REGEX MATCHALL "DLL Name: [^\n]+" imports "${headers}")
set(failed FALSE)
foreach(line ${imports})
  string(REGEX REPLACE "DLL Name: " "" name "${line}")
  string(STRIP "${name}" name)
  string(TOLOWER "${name}" lower)
  if(lower IN_LIST allowed)
    message(STATUS "imports from ${name}")
  else()
    message(SEND_ERROR "imports from ${name}, which is neither a system DLL nor shipped with it")
    set(failed TRUE)
  endif()
endforeach()

# The export table lists "[ordinal] name" lines after "[Ordinal/Name Pointer] Table".
string(REGEX REPLACE ".*\\[Ordinal/Name Pointer\\] Table" "" table "${headers}")
string(REGEX MATCHALL "\n[ \t]+\\[ *[0-9]+\\] [^\n]+" exported "${table}")
list(LENGTH exported count)
foreach(line ${exported})
  string(STRIP "${line}" line)
  message(STATUS "exports ${line}")
endforeach()
if(NOT count EQUAL EXPORTS)
  message(SEND_ERROR "exports ${count} names instead of ${EXPORTS}")
  set(failed TRUE)
endif()

if(failed)
  message(FATAL_ERROR "${DLL} does not meet its shipping list")
endif()
