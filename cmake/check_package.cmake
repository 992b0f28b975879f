# Checks the release package as the PC's installer sees it, from the zip
# alone: exactly the files that belong in it, each executable a static PE32
# i386 program that imports only Windows' own DLLs (check_exe.cmake) and
# carries its version resource and its asInvoker manifest, and the notes
# with CR LF line endings and the same text as the source. Then the package
# is made again from the same files, which must give the same bytes.
#   cmake -DZIP=... -DWORK=dir -DOBJDUMP=... -DWINDRES=... -DVERSION=x.y.z
#         -DREADME=... -DSUPERVISOR_EXE=... -DTOOL_EXE=... -DTOOLW_EXE=... -DEPOCH=...
#         -DSUPERVISOR_MAX_BYTES=... -DTOOL_MAX_BYTES=... -P check_package.cmake
cmake_minimum_required(VERSION 3.25)

set(failures "")
macro(fail text)
    list(APPEND failures "${text}")
endmacro()

if(NOT EXISTS ${ZIP})
    message(FATAL_ERROR "${ZIP} does not exist: build the package target first")
endif()
file(SIZE ${ZIP} zip_size)
message(STATUS "${ZIP}: ${zip_size} bytes")

# The listing: names only, exactly these, no folders.
execute_process(COMMAND ${CMAKE_COMMAND} -E tar tf ${ZIP}
                OUTPUT_VARIABLE listing RESULT_VARIABLE result)
if(NOT result EQUAL 0)
    message(FATAL_ERROR "cannot list ${ZIP}")
endif()
string(REGEX REPLACE "\n$" "" listing "${listing}")
string(REPLACE "\n" ";" listed "${listing}")
set(expected DOZECTL.EXE DOZECTLW.EXE DOZEWARD.EXE README-WINDOWS.txt)
if(NOT listed STREQUAL expected)
    fail("holds [${listed}], expected [${expected}]")
endif()

set(unpacked ${WORK}/unpacked)
file(REMOVE_RECURSE ${WORK})
file(MAKE_DIRECTORY ${unpacked})
file(ARCHIVE_EXTRACT INPUT ${ZIP} DESTINATION ${unpacked})

set(CHECK_EXE ${CMAKE_CURRENT_LIST_DIR}/check_exe.cmake)
foreach(entry "DOZEWARD.EXE;GUI;${SUPERVISOR_MAX_BYTES};DOZEWARD companion supervisor"
              "DOZECTL.EXE;console;${TOOL_MAX_BYTES};DOZEWARD command tool"
              # The twin for scheduled tasks must be a GUI subsystem program:
              # Windows opens a console window for a console one.
              "DOZECTLW.EXE;GUI;${TOOL_MAX_BYTES};DOZEWARD command tool for scheduled tasks")
    list(GET entry 0 name)
    list(GET entry 1 subsystem)
    list(GET entry 2 max_bytes)
    list(GET entry 3 description)
    set(exe ${unpacked}/${name})
    if(NOT EXISTS ${exe})
        continue()
    endif()
    execute_process(COMMAND ${CMAKE_COMMAND} -DEXE=${exe} -DOBJDUMP=${OBJDUMP}
                            -DSUBSYSTEM=${subsystem} -DMAX_BYTES=${max_bytes} -P ${CHECK_EXE}
                    RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE output)
    message(STATUS "${name}:\n${output}")
    if(NOT result EQUAL 0)
        fail("${name} fails the executable check")
    endif()

    # windres reads the resources back out of the image as resource script.
    execute_process(COMMAND ${WINDRES} -J coff -O rc -i ${exe}
                    OUTPUT_VARIABLE resources RESULT_VARIABLE result)
    if(NOT result EQUAL 0)
        fail("${name}: windres cannot read its resources")
        continue()
    endif()
    string(REPLACE "." ", " version_commas "${VERSION}")
    foreach(needed "FILEVERSION ${version_commas}, 0"
                   "VALUE \"ProductName\", \"DOZEWARD\""
                   "VALUE \"FileVersion\", \"${VERSION}\""
                   "VALUE \"ProductVersion\", \"${VERSION}\""
                   "VALUE \"FileDescription\", \"${description}\""
                   "VALUE \"OriginalFilename\", \"${name}\""
                   "1 24 /* RT_MANIFEST */"
                   "requestedExecutionLevel level=\"\"asInvoker\"\""
                   "WindowsSettings\"\">UTF-8</activeCodePage>")
        string(FIND "${resources}" "${needed}" at)
        if(at EQUAL -1)
            fail("${name}: no ${needed} in its resources")
        endif()
    endforeach()
    # The manifest is embedded without the comments of its source.
    string(FIND "${resources}" "<!--" at)
    if(NOT at EQUAL -1)
        fail("${name}: its manifest carries comments")
    endif()
endforeach()

# The notes: the source's text with CR LF line endings. Compared as bytes,
# since file(READ) as text drops the CRs; each byte is written "hh " so that
# a match can only start at a byte.
function(read_bytes path out)
    file(READ ${path} hex HEX)
    string(REGEX REPLACE "(..)" "\\1 " spaced "${hex}")
    set(${out} "${spaced}" PARENT_SCOPE)
endfunction()
set(notes_file ${unpacked}/README-WINDOWS.txt)
if(EXISTS ${notes_file})
    read_bytes(${notes_file} notes)
    read_bytes(${README} source)
    string(REPLACE "0d 0a " "0a " source "${source}")
    string(REPLACE "0a " "0d 0a " expected_notes "${source}")
    if(NOT notes STREQUAL expected_notes)
        fail("README-WINDOWS.txt is not resources/README-WINDOWS.txt with CR LF line endings")
    endif()
endif()

# Made again from the same files: the same bytes.
execute_process(COMMAND ${CMAKE_COMMAND} -DSUPERVISOR_EXE=${SUPERVISOR_EXE} -DTOOL_EXE=${TOOL_EXE}
                        -DTOOLW_EXE=${TOOLW_EXE}
                        -DREADME=${README} -DEPOCH=${EPOCH} -DSTAGE=${WORK}/stage
                        -DZIP=${WORK}/again.zip -P ${CMAKE_CURRENT_LIST_DIR}/make_package.cmake
                RESULT_VARIABLE result OUTPUT_QUIET)
if(NOT result EQUAL 0)
    fail("cannot make the package again")
else()
    file(SHA256 ${ZIP} first_hash)
    file(SHA256 ${WORK}/again.zip second_hash)
    message(STATUS "sha256 ${first_hash} (made again: ${second_hash})")
    if(NOT first_hash STREQUAL second_hash)
        fail("made again from the same files, the package has other bytes")
    endif()
endif()

if(failures)
    list(JOIN failures "; " text)
    message(FATAL_ERROR "${ZIP}: ${text}")
endif()
