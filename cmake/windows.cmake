# The Windows build: DOZEWARD.EXE and DOZECTL.EXE, the programs that stand
# around them in demos and tests (ORB.EXE, send_command.exe, the end-to-end
# runner, the platform contract checks), and the CTest layers that run them
# under Wine.
#
# Everything is linked statically so that each .EXE imports only DLLs that
# Windows ships; that is also what lets Wine run them from the build folder
# with no runtime DLLs beside them.
set(CMAKE_RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR})

set(DOZEWARD_STATIC_LINK -static -static-libgcc -static-libstdc++)
set(DOZEWARD_WIN32_LIBS user32 gdi32 kernel32 advapi32 powrprof)

# The supervisor sits in memory for months: small and without the machinery
# of exceptions and RTTI, which it does not use.
set(DOZEWARD_PRODUCT_COMPILE -Os -fno-exceptions -fno-rtti -ffunction-sections -fdata-sections)
target_compile_options(dozeward_core PRIVATE ${DOZEWARD_PRODUCT_COMPILE})

add_executable(dozeward WIN32 app/winmain.cpp)
target_compile_options(dozeward PRIVATE ${DOZEWARD_PRODUCT_COMPILE})
target_link_libraries(dozeward PRIVATE dozeward_core ${DOZEWARD_WIN32_LIBS})
target_link_options(dozeward PRIVATE ${DOZEWARD_STATIC_LINK} -s -Wl,--gc-sections)
set_target_properties(dozeward PROPERTIES OUTPUT_NAME DOZEWARD SUFFIX .EXE)

# The operator's command tool ships beside the supervisor: same rules.
if(EXISTS ${CMAKE_SOURCE_DIR}/tools/dozectl.cpp)
    add_executable(dozectl tools/dozectl.cpp tools/dozectl_args.cpp)
    target_include_directories(dozectl PRIVATE ${CMAKE_SOURCE_DIR} ${DOZEWARD_PLATFORM_DIR})
    target_compile_options(dozectl PRIVATE ${DOZEWARD_PRODUCT_COMPILE})
    target_link_libraries(dozectl PRIVATE user32 kernel32)
    target_link_options(dozectl PRIVATE ${DOZEWARD_STATIC_LINK} -s -Wl,--gc-sections)
    set_target_properties(dozectl PROPERTIES OUTPUT_NAME DOZECTL SUFFIX .EXE)
endif()

# Version resource and manifest, so that Explorer's properties tell what is
# installed and Windows runs the programs as invoked, without elevation.
if(EXISTS ${CMAKE_SOURCE_DIR}/resources/version.rc.in)
    enable_language(RC)
    function(dozeward_add_version_resource target file_name description)
        set(RC_FILE_NAME ${file_name})
        set(RC_DESCRIPTION ${description})
        set(RC_INTERNAL_NAME ${file_name})
        set(RC_MANIFEST ${CMAKE_SOURCE_DIR}/resources/app.manifest)
        configure_file(${CMAKE_SOURCE_DIR}/resources/version.rc.in
                       ${CMAKE_BINARY_DIR}/${target}_version.rc @ONLY)
        target_sources(${target} PRIVATE ${CMAKE_BINARY_DIR}/${target}_version.rc)
    endfunction()
    dozeward_add_version_resource(dozeward DOZEWARD.EXE "DOZEWARD companion supervisor")
    if(TARGET dozectl)
        dozeward_add_version_resource(dozectl DOZECTL.EXE "DOZEWARD command tool")
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

add_test(NAME wine.prefix COMMAND ${DOZEWARD_WINE_RUN} --init)
set_tests_properties(wine.prefix PROPERTIES
    FIXTURES_SETUP wine
    ENVIRONMENT "WINEPREFIX=${DOZEWARD_WINEPREFIX}"
    RESOURCE_LOCK wine
    TIMEOUT 300)

# The shipped file itself: format, size budget and the DLLs it imports.
find_program(DOZEWARD_OBJDUMP NAMES i686-w64-mingw32-objdump REQUIRED)
add_test(NAME build.dozeward_exe
    COMMAND ${CMAKE_COMMAND} -DEXE=$<TARGET_FILE:dozeward> -DOBJDUMP=${DOZEWARD_OBJDUMP}
            -DSUBSYSTEM=GUI -DMAX_BYTES=65536 -P ${CMAKE_SOURCE_DIR}/cmake/check_exe.cmake)
if(TARGET dozectl)
    # Its std::string brings libstdc++'s exception and locale support with it.
    add_test(NAME build.dozectl_exe
        COMMAND ${CMAKE_COMMAND} -DEXE=$<TARGET_FILE:dozectl> -DOBJDUMP=${DOZEWARD_OBJDUMP}
                -DSUBSYSTEM=console -DMAX_BYTES=262144 -P ${CMAKE_SOURCE_DIR}/cmake/check_exe.cmake)
endif()

function(dozeward_wine_test name)
    add_test(NAME ${name} ${ARGN})
    set_tests_properties(${name} PROPERTIES
        FIXTURES_REQUIRED wine
        ENVIRONMENT "WINEPREFIX=${DOZEWARD_WINEPREFIX}"
        RESOURCE_LOCK wine
        TIMEOUT 600)
endfunction()

set(DOZEWARD_E2E_WORK ${CMAKE_BINARY_DIR}/e2e-work)
file(MAKE_DIRECTORY ${DOZEWARD_E2E_WORK})
dozeward_wine_test(e2e COMMAND e2e_runner WORKING_DIRECTORY ${DOZEWARD_E2E_WORK})

if(DOZEWARD_HAVE_CONTRACT_WIN32)
    dozeward_wine_test(contract.win32 COMMAND contract_win32)
endif()
