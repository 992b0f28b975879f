# Checks an executable as a file, without running it: a program of the
# expected format (PE32 i386 for the product, PE32+ x86-64 for the test twin)
# and subsystem, within its size budget, importing only DLLs that every
# Windows ships. A new dependency slipping in through the static link (a
# runtime DLL, a thread library) shows up here before it shows up on a
# customer's PC.
#   cmake -DEXE=... -DOBJDUMP=... [-DFORMAT=pei-i386|pei-x86-64] -DSUBSYSTEM=GUI|console
#         -DMAX_BYTES=... -P check_exe.cmake
# FORMAT defaults to pei-i386; a MAX_BYTES of 0 prints the size without a budget.
cmake_minimum_required(VERSION 3.25)
set(ALLOWED_DLLS KERNEL32.DLL USER32.DLL GDI32.DLL POWRPROF.DLL ADVAPI32.DLL MSVCRT.DLL)

execute_process(COMMAND ${OBJDUMP} -p ${EXE} OUTPUT_VARIABLE dump RESULT_VARIABLE result)
if(NOT result EQUAL 0)
    message(FATAL_ERROR "objdump failed on ${EXE}")
endif()

if(NOT DEFINED FORMAT)
    set(FORMAT pei-i386)
endif()
# The optional header's magic tells PE32 (010b) from PE32+ (020b).
if(FORMAT STREQUAL "pei-i386")
    set(magic 010b)
    set(format_name "PE32 i386")
elseif(FORMAT STREQUAL "pei-x86-64")
    set(magic 020b)
    set(format_name "PE32+ x86-64")
else()
    message(FATAL_ERROR "FORMAT must be pei-i386 or pei-x86-64")
endif()

set(failures "")
if(NOT dump MATCHES "file format ${FORMAT}[\r\n]" OR NOT dump MATCHES "Magic[ \t]+${magic}")
    list(APPEND failures "not a ${format_name} image")
endif()
# Subsystem 2 is the Windows GUI subsystem (no console window), 3 console.
if(SUBSYSTEM STREQUAL "GUI")
    set(subsystem_number 2)
elseif(SUBSYSTEM STREQUAL "console")
    set(subsystem_number 3)
else()
    message(FATAL_ERROR "SUBSYSTEM must be GUI or console")
endif()
if(NOT dump MATCHES "Subsystem[ \t]+0+${subsystem_number}[ \t]")
    list(APPEND failures "not a ${SUBSYSTEM} subsystem program")
endif()

string(REGEX MATCHALL "DLL Name: [^\r\n]+" imports "${dump}")
if(NOT imports)
    list(APPEND failures "no import table found")
endif()
foreach(line IN LISTS imports)
    string(REGEX REPLACE "DLL Name: " "" dll "${line}")
    string(STRIP "${dll}" dll)
    string(TOUPPER "${dll}" dll_upper)
    message(STATUS "imports ${dll}")
    if(NOT dll_upper IN_LIST ALLOWED_DLLS)
        list(APPEND failures "imports ${dll}, which Windows does not ship")
    endif()
endforeach()

file(SIZE ${EXE} size)
if(MAX_BYTES EQUAL 0)
    message(STATUS "size ${size} bytes (no budget)")
else()
    message(STATUS "size ${size} bytes (budget ${MAX_BYTES})")
endif()
if(MAX_BYTES GREATER 0 AND size GREATER MAX_BYTES)
    list(APPEND failures "${size} bytes, over the budget of ${MAX_BYTES}")
endif()

if(failures)
    list(JOIN failures "; " text)
    message(FATAL_ERROR "${EXE}: ${text}")
endif()
