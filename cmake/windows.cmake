# The Windows build: DOZEWARD.EXE and DOZECTL.EXE, the programs that stand
# around them in demos and tests (ORB.EXE, send_command.exe, the end-to-end
# runner, the platform contract checks), and the CTest layers that run them
# under Wine.
#
# The same file builds two architectures from the same sources and flags:
# i686, the product (PE32, what ships in the release package), and x86_64,
# a test twin (PE32+) for machines whose kernel cannot run 32-bit code, where
# only 64-bit Wine runs. The twin runs the same code on the real API; it
# cannot prove the shipped bytes, 32-bit pointers or the i386 calling
# convention (the compiler checks the latter: every callback the supervisor
# hands to Windows is declared CALLBACK or WINAPI, and a mismatch does not
# compile on i686).
#
# Everything is linked statically so that each .EXE imports only DLLs that
# Windows ships; that is also what lets Wine run them from the build folder
# with no runtime DLLs beside them.
set(CMAKE_RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR})

if(CMAKE_SYSTEM_PROCESSOR STREQUAL "x86_64")
    set(DOZEWARD_PRODUCT_BUILD FALSE)
    set(DOZEWARD_PE_FORMAT pei-x86-64)
    set(DOZEWARD_WINEARCH win64)
else()
    set(DOZEWARD_PRODUCT_BUILD TRUE)
    set(DOZEWARD_PE_FORMAT pei-i386)
    set(DOZEWARD_WINEARCH win32)
endif()

set(DOZEWARD_STATIC_LINK -static -static-libgcc -static-libstdc++)
set(DOZEWARD_WIN32_LIBS user32 gdi32 kernel32 advapi32 powrprof)

# The supervisor sits in memory for months: small and without the machinery
# of exceptions and RTTI, which it does not use.
#
# No stack probes: a function whose frame reaches a page (4 KiB) would need
# one, and -Wframe-larger-than=2048, an error under -Werror, fails the build
# long before any frame gets there. So the probe cannot be missed, and the
# probe routine stays out of the executables.
set(DOZEWARD_PRODUCT_COMPILE -Os -fno-exceptions -fno-rtti -ffunction-sections -fdata-sections
    -mno-stack-arg-probe -Wframe-larger-than=2048)
# On i686 nothing reads unwind tables: there are no exceptions, and the
# 32-bit system unwinds through frame chains, not tables. On x86_64 Windows
# needs them to unwind at all (a crash report, a debugger), so the twin keeps
# them.
if(DOZEWARD_PRODUCT_BUILD)
    list(APPEND DOZEWARD_PRODUCT_COMPILE -fno-asynchronous-unwind-tables -fno-unwind-tables)
endif()
# Stripped, unused sections dropped, and no link time in the PE header, so
# that the same sources give the same bytes (and the same release package).
# The link map beside each executable tells what it is made of.
set(DOZEWARD_PRODUCT_LINK ${DOZEWARD_STATIC_LINK} -s -Wl,--gc-sections -Wl,--no-insert-timestamp)
target_compile_options(dozeward_core PRIVATE ${DOZEWARD_PRODUCT_COMPILE})

add_executable(dozeward WIN32 app/winmain.cpp)
target_compile_options(dozeward PRIVATE ${DOZEWARD_PRODUCT_COMPILE})
target_link_libraries(dozeward PRIVATE dozeward_core ${DOZEWARD_WIN32_LIBS})
target_link_options(dozeward PRIVATE ${DOZEWARD_PRODUCT_LINK}
                    -Wl,-Map=${CMAKE_BINARY_DIR}/DOZEWARD.map)
set_target_properties(dozeward PROPERTIES OUTPUT_NAME DOZEWARD SUFFIX .EXE)

# The operator's command tool ships beside the supervisor: same rules. It is
# built twice from the same sources: DOZECTL.EXE for a command prompt, and
# DOZECTLW.EXE, a GUI subsystem program that Windows starts without a console
# window, for scheduled tasks on the kiosk's screen.
if(EXISTS ${CMAKE_SOURCE_DIR}/tools/dozectl.cpp)
    set(DOZECTL_SOURCES tools/dozectl.cpp tools/dozectl_args.cpp tools/dozectl_check.cpp
        tools/dozectl_check_win32.cpp tools/dozectl_install_win32.cpp tools/dozectl_status.cpp
        tools/dozectl_task.cpp tools/dozectl_text.cpp app/utc_time.cpp)
    foreach(target dozectl dozectlw)
        add_executable(${target} ${DOZECTL_SOURCES})
        target_include_directories(${target} PRIVATE ${CMAKE_SOURCE_DIR} ${DOZEWARD_PLATFORM_DIR}
                                                     ${CMAKE_BINARY_DIR}/generated)
        target_compile_options(${target} PRIVATE ${DOZEWARD_PRODUCT_COMPILE})
        target_link_libraries(${target} PRIVATE user32 kernel32 advapi32 powrprof)
        target_link_options(${target} PRIVATE ${DOZEWARD_PRODUCT_LINK}
                            -Wl,-Map=${CMAKE_BINARY_DIR}/${target}.map)
    endforeach()
    set_target_properties(dozectl PROPERTIES OUTPUT_NAME DOZECTL SUFFIX .EXE)
    # main() stays the entry point; only the subsystem in the header changes.
    target_link_options(dozectlw PRIVATE -mwindows)
    set_target_properties(dozectlw PROPERTIES OUTPUT_NAME DOZECTLW SUFFIX .EXE)
endif()

# Version resource and manifest, so that Explorer's properties tell what is
# installed and Windows runs the programs as invoked, without elevation.
#
# The manifest is embedded without any comments and its indentation, one
# element a line: the XML means the same, and the resource section stays
# within one file block less. What the manifest says, and why, is written in
# resources/version.rc.in; a change to the manifest configures again.
if(EXISTS ${CMAKE_SOURCE_DIR}/resources/version.rc.in)
    enable_language(RC)
    set(DOZEWARD_MANIFEST_SOURCE ${CMAKE_SOURCE_DIR}/resources/app.manifest)
    set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${DOZEWARD_MANIFEST_SOURCE})
    file(READ ${DOZEWARD_MANIFEST_SOURCE} manifest)
    string(REGEX REPLACE "<!--([^-]|-[^-])*-->" "" manifest "${manifest}")
    string(REGEX REPLACE ">[ \t\r\n]+<" ">\n<" manifest "${manifest}")
    string(STRIP "${manifest}" manifest)
    file(CONFIGURE OUTPUT ${CMAKE_BINARY_DIR}/app.manifest CONTENT "${manifest}" @ONLY)
    function(dozeward_add_version_resource target file_name description)
        set(RC_FILE_NAME ${file_name})
        set(RC_DESCRIPTION ${description})
        set(RC_MANIFEST ${CMAKE_BINARY_DIR}/app.manifest)
        configure_file(${CMAKE_SOURCE_DIR}/resources/version.rc.in
                       ${CMAKE_BINARY_DIR}/${target}_version.rc @ONLY)
        target_sources(${target} PRIVATE ${CMAKE_BINARY_DIR}/${target}_version.rc)
        # windres reads the manifest by name; make does not see that on its own.
        set_source_files_properties(${CMAKE_BINARY_DIR}/${target}_version.rc PROPERTIES
            OBJECT_DEPENDS ${RC_MANIFEST})
    endfunction()
    dozeward_add_version_resource(dozeward DOZEWARD.EXE "DOZEWARD companion supervisor")
    if(TARGET dozectl)
        dozeward_add_version_resource(dozectl DOZECTL.EXE "DOZEWARD command tool")
        dozeward_add_version_resource(dozectlw DOZECTLW.EXE
                                      "DOZEWARD command tool for scheduled tasks")
    endif()
endif()

# The demo companion and the command sender: small programs, same rules.
add_executable(orb_demo WIN32 tools/orb_demo.cpp)
target_link_libraries(orb_demo PRIVATE user32 gdi32 kernel32)
target_link_options(orb_demo PRIVATE ${DOZEWARD_STATIC_LINK} -s)
set_target_properties(orb_demo PROPERTIES OUTPUT_NAME ORB SUFFIX .EXE)

add_executable(send_command tools/send_command.cpp)
target_link_libraries(send_command PRIVATE user32 kernel32)
target_link_options(send_command PRIVATE ${DOZEWARD_STATIC_LINK} -s)

add_executable(e2e_runner tests/e2e/e2e_runner_win32.cpp)
target_link_libraries(e2e_runner PRIVATE user32 kernel32)
target_link_options(e2e_runner PRIVATE ${DOZEWARD_STATIC_LINK})
# The runner starts these; building it alone must leave them beside it.
add_dependencies(e2e_runner dozeward orb_demo)

set(CONTRACT_WIN32_SOURCES
    ${CMAKE_SOURCE_DIR}/tests/contract/contract_checks.cpp
    ${CMAKE_SOURCE_DIR}/tests/contract/contract_main_win32.cpp)
set(DOZEWARD_HAVE_CONTRACT_WIN32 TRUE)
foreach(source IN LISTS CONTRACT_WIN32_SOURCES)
    if(NOT EXISTS ${source})
        set(DOZEWARD_HAVE_CONTRACT_WIN32 FALSE)
    endif()
endforeach()
if(DOZEWARD_HAVE_CONTRACT_WIN32)
    add_executable(contract_win32 ${CONTRACT_WIN32_SOURCES})
    target_include_directories(contract_win32 PRIVATE ${CMAKE_SOURCE_DIR} ${DOZEWARD_PLATFORM_DIR})
    target_link_libraries(contract_win32 PRIVATE ${DOZEWARD_WIN32_LIBS})
    target_link_options(contract_win32 PRIVATE ${DOZEWARD_STATIC_LINK})
else()
    message(STATUS "tests/contract has no Win32 checks yet: contract_win32 not built")
endif()

# --- Test layers under Wine -------------------------------------------------
# CTest runs every test program through scripts/wine-run.sh (the toolchain
# file names it as the cross-compiling emulator). One Wine prefix serves the
# whole run: the fixture below makes it afresh, and the lock keeps tests from
# sharing it at the same time, since each one stops its Wine server when done.
enable_testing()
set(DOZEWARD_WINE_RUN ${CMAKE_SOURCE_DIR}/scripts/wine-run.sh)
set(DOZEWARD_WINEPREFIX ${CMAKE_BINARY_DIR}/wineprefix)

# Every Wine test runs in this build's own prefix, with the Wine of its
# architecture. A 32-bit run on a kernel that cannot run 32-bit code exits
# with 77 and says why: CTest reports it as skipped, never as passed.
set(DOZEWARD_WINE_ENVIRONMENT "WINEPREFIX=${DOZEWARD_WINEPREFIX}" "WINEARCH=${DOZEWARD_WINEARCH}")
set(DOZEWARD_WINE_SKIPPED 77)
add_test(NAME wine.prefix COMMAND ${DOZEWARD_WINE_RUN} --init)
set_tests_properties(wine.prefix PROPERTIES
    FIXTURES_SETUP wine
    ENVIRONMENT "${DOZEWARD_WINE_ENVIRONMENT}"
    SKIP_RETURN_CODE ${DOZEWARD_WINE_SKIPPED}
    RESOURCE_LOCK wine
    TIMEOUT 300)

# The executables as files: format, the DLLs they import and, for the
# product, the size budget. The twin's sizes are printed, not held to a
# budget: they say nothing about what ships.
find_program(DOZEWARD_OBJDUMP NAMES ${DOZEWARD_TRIPLE}-objdump REQUIRED)
if(DOZEWARD_PRODUCT_BUILD)
    # Each budget is the measured size rounded up to the next KiB: a change
    # that grows an executable past it has to say so here. The supervisor
    # holds the status query, the log's replace-by-rename and the
    # companion's start without waiting; DOZECTL holds status, check and
    # install, and so does its windowless twin DOZECTLW.
    set(DOZEWARD_SUPERVISOR_MAX_BYTES 21504)
    set(DOZEWARD_TOOL_MAX_BYTES 39936)
else()
    set(DOZEWARD_SUPERVISOR_MAX_BYTES 0)
    set(DOZEWARD_TOOL_MAX_BYTES 0)
endif()
add_test(NAME build.dozeward_exe
    COMMAND ${CMAKE_COMMAND} -DEXE=$<TARGET_FILE:dozeward> -DOBJDUMP=${DOZEWARD_OBJDUMP}
            -DFORMAT=${DOZEWARD_PE_FORMAT} -DSUBSYSTEM=GUI
            -DMAX_BYTES=${DOZEWARD_SUPERVISOR_MAX_BYTES}
            -P ${CMAKE_SOURCE_DIR}/cmake/check_exe.cmake)
if(TARGET dozectl)
    # About 40 KiB with fixed buffers, no std::string and no printf family; a
    # string or a stream would bring libstdc++'s exception and locale support
    # and break this.
    add_test(NAME build.dozectl_exe
        COMMAND ${CMAKE_COMMAND} -DEXE=$<TARGET_FILE:dozectl> -DOBJDUMP=${DOZEWARD_OBJDUMP}
                -DFORMAT=${DOZEWARD_PE_FORMAT} -DSUBSYSTEM=console
                -DMAX_BYTES=${DOZEWARD_TOOL_MAX_BYTES}
                -P ${CMAKE_SOURCE_DIR}/cmake/check_exe.cmake)
    # The scheduled tasks' twin: a GUI subsystem program, so that Windows
    # opens no console window for it.
    add_test(NAME build.dozectlw_exe
        COMMAND ${CMAKE_COMMAND} -DEXE=$<TARGET_FILE:dozectlw> -DOBJDUMP=${DOZEWARD_OBJDUMP}
                -DFORMAT=${DOZEWARD_PE_FORMAT} -DSUBSYSTEM=GUI
                -DMAX_BYTES=${DOZEWARD_TOOL_MAX_BYTES}
                -P ${CMAKE_SOURCE_DIR}/cmake/check_exe.cmake)
endif()

function(dozeward_wine_test name)
    add_test(NAME ${name} ${ARGN})
    set_tests_properties(${name} PROPERTIES
        FIXTURES_REQUIRED wine
        ENVIRONMENT "${DOZEWARD_WINE_ENVIRONMENT}"
        SKIP_RETURN_CODE ${DOZEWARD_WINE_SKIPPED}
        RESOURCE_LOCK wine
        TIMEOUT 600)
endfunction()

set(DOZEWARD_E2E_WORK ${CMAKE_BINARY_DIR}/e2e-work)
file(MAKE_DIRECTORY ${DOZEWARD_E2E_WORK})
dozeward_wine_test(e2e COMMAND e2e_runner WORKING_DIRECTORY ${DOZEWARD_E2E_WORK})

# DOZECTL against the real supervisor: exit codes, output and effects.
if(TARGET dozectl)
    add_executable(dozectl_e2e tests/e2e/dozectl_e2e_win32.cpp)
    target_link_libraries(dozectl_e2e PRIVATE user32 kernel32)
    target_link_options(dozectl_e2e PRIVATE ${DOZEWARD_STATIC_LINK})
    add_dependencies(dozectl_e2e dozeward orb_demo dozectl dozectlw)
    set(DOZEWARD_DOZECTL_E2E_WORK ${CMAKE_BINARY_DIR}/e2e-dozectl-work)
    file(MAKE_DIRECTORY ${DOZEWARD_DOZECTL_E2E_WORK})
    dozeward_wine_test(e2e.dozectl COMMAND dozectl_e2e
                       WORKING_DIRECTORY ${DOZEWARD_DOZECTL_E2E_WORK})
endif()

# A companion slow to reach its message loop must not hold the supervisor:
# DOZECTL stop while it starts.
if(TARGET dozectl)
    add_executable(slow_companion_e2e tests/e2e/slow_companion_win32.cpp)
    target_link_libraries(slow_companion_e2e PRIVATE user32 kernel32)
    target_link_options(slow_companion_e2e PRIVATE ${DOZEWARD_STATIC_LINK})
    add_dependencies(slow_companion_e2e dozeward orb_demo dozectl)
    set(DOZEWARD_SLOW_COMPANION_WORK ${CMAKE_BINARY_DIR}/e2e-slow-companion-work)
    file(MAKE_DIRECTORY ${DOZEWARD_SLOW_COMPANION_WORK})
    dozeward_wine_test(e2e.slow_companion COMMAND slow_companion_e2e
                       WORKING_DIRECTORY ${DOZEWARD_SLOW_COMPANION_WORK})
endif()

if(DOZEWARD_HAVE_CONTRACT_WIN32)
    dozeward_wine_test(contract.win32 COMMAND contract_win32)
endif()

# The event log over the real file services, from the supervisor's own
# eventlog/ source.
add_executable(event_log_check tests/e2e/event_log_win32.cpp eventlog/event_log.cpp
                               eventlog/log_line.cpp eventlog/decimal_field.cpp)
target_include_directories(event_log_check PRIVATE ${CMAKE_SOURCE_DIR} ${DOZEWARD_PLATFORM_DIR})
target_link_libraries(event_log_check PRIVATE kernel32)
target_link_options(event_log_check PRIVATE ${DOZEWARD_STATIC_LINK})
set(DOZEWARD_EVENT_LOG_WORK ${CMAKE_BINARY_DIR}/e2e-event-log-work)
file(MAKE_DIRECTORY ${DOZEWARD_EVENT_LOG_WORK})
dozeward_wine_test(e2e.event_log COMMAND event_log_check
                   WORKING_DIRECTORY ${DOZEWARD_EVENT_LOG_WORK})

# --- Release package --------------------------------------------------------
# dozeward-<version>-win32.zip: what goes onto the PC, made by every build
# (it is small) and checked as a file by CTest; scripts/package.sh copies it
# to dist/. Its time stamps come from DOZEWARD_PACKAGE_EPOCH, so that the
# same sources give the same bytes. Only the product build makes it.
if(TARGET dozectl AND DOZEWARD_PRODUCT_BUILD)
    if(DEFINED ENV{SOURCE_DATE_EPOCH})
        set(_dozeward_default_epoch $ENV{SOURCE_DATE_EPOCH})
    else()
        set(_dozeward_default_epoch 1735689600) # 2025-01-01 00:00:00 UTC
    endif()
    set(DOZEWARD_PACKAGE_EPOCH ${_dozeward_default_epoch} CACHE STRING
        "Seconds since 1970 given to every time stamp in the release package")
    find_program(DOZEWARD_WINDRES NAMES ${DOZEWARD_TRIPLE}-windres REQUIRED)
    set(DOZEWARD_PACKAGE_ZIP ${CMAKE_BINARY_DIR}/dist/dozeward-${PROJECT_VERSION}-win32.zip)
    set(DOZEWARD_PACKAGE_README ${CMAKE_SOURCE_DIR}/resources/README-WINDOWS.txt)
    add_custom_command(OUTPUT ${DOZEWARD_PACKAGE_ZIP}
        COMMAND ${CMAKE_COMMAND} -DSUPERVISOR_EXE=$<TARGET_FILE:dozeward>
                -DTOOL_EXE=$<TARGET_FILE:dozectl> -DTOOLW_EXE=$<TARGET_FILE:dozectlw>
                -DREADME=${DOZEWARD_PACKAGE_README}
                -DEPOCH=${DOZEWARD_PACKAGE_EPOCH} -DSTAGE=${CMAKE_BINARY_DIR}/package-stage
                -DZIP=${DOZEWARD_PACKAGE_ZIP} -P ${CMAKE_SOURCE_DIR}/cmake/make_package.cmake
        DEPENDS dozeward dozectl dozectlw ${DOZEWARD_PACKAGE_README}
                ${CMAKE_SOURCE_DIR}/cmake/make_package.cmake
        COMMENT "Packing dozeward-${PROJECT_VERSION}-win32.zip"
        VERBATIM)
    add_custom_target(package ALL DEPENDS ${DOZEWARD_PACKAGE_ZIP})

    add_test(NAME package.zip
        COMMAND ${CMAKE_COMMAND} -DZIP=${DOZEWARD_PACKAGE_ZIP}
                -DWORK=${CMAKE_BINARY_DIR}/package-check -DOBJDUMP=${DOZEWARD_OBJDUMP}
                -DWINDRES=${DOZEWARD_WINDRES} -DVERSION=${PROJECT_VERSION}
                -DREADME=${DOZEWARD_PACKAGE_README} -DSUPERVISOR_EXE=$<TARGET_FILE:dozeward>
                -DTOOL_EXE=$<TARGET_FILE:dozectl> -DTOOLW_EXE=$<TARGET_FILE:dozectlw>
                -DEPOCH=${DOZEWARD_PACKAGE_EPOCH}
                -DSUPERVISOR_MAX_BYTES=${DOZEWARD_SUPERVISOR_MAX_BYTES}
                -DTOOL_MAX_BYTES=${DOZEWARD_TOOL_MAX_BYTES}
                -P ${CMAKE_SOURCE_DIR}/cmake/check_package.cmake)
endif()
