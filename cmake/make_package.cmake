# Makes the release package, a zip of what goes onto the Windows PC: the two
# executables (and the command tool's windowless twin for scheduled tasks) and
# the operator's notes, with CR LF line endings so that
# Notepad shows them as written.
#
# The same inputs give the same bytes: the files are staged afresh with fixed
# permissions, added in a fixed order, and every time stamp in the archive
# (modification, access and creation, which a zip records) is taken from
# SOURCE_DATE_EPOCH, with the zip's DOS times computed in UTC. What the
# archive still records of the machine is the Unix owner of the staged files
# (uid/gid), the same for every build by the same user.
#   cmake -DSUPERVISOR_EXE=... -DTOOL_EXE=... -DTOOLW_EXE=... -DREADME=... -DEPOCH=seconds
#         -DSTAGE=dir -DZIP=file -P make_package.cmake
cmake_minimum_required(VERSION 3.25)

foreach(variable SUPERVISOR_EXE TOOL_EXE TOOLW_EXE README EPOCH STAGE ZIP)
    if(NOT DEFINED ${variable})
        message(FATAL_ERROR "make_package.cmake: ${variable} is not set")
    endif()
endforeach()

file(REMOVE_RECURSE ${STAGE})
file(MAKE_DIRECTORY ${STAGE})
file(COPY_FILE ${SUPERVISOR_EXE} ${STAGE}/DOZEWARD.EXE)
file(COPY_FILE ${TOOL_EXE} ${STAGE}/DOZECTL.EXE)
file(COPY_FILE ${TOOLW_EXE} ${STAGE}/DOZECTLW.EXE)

file(READ ${README} notes)
string(REPLACE "\r\n" "\n" notes "${notes}")
string(REPLACE "\n" "\r\n" notes "${notes}")
file(WRITE ${STAGE}/README-WINDOWS.txt "${notes}")

# Sorted by name, as the check expects them listed.
set(files DOZECTL.EXE DOZECTLW.EXE DOZEWARD.EXE README-WINDOWS.txt)
file(CHMOD ${STAGE}/DOZECTL.EXE ${STAGE}/DOZECTLW.EXE ${STAGE}/DOZEWARD.EXE
     PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
                 WORLD_READ WORLD_EXECUTE)
file(CHMOD ${STAGE}/README-WINDOWS.txt PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)

# With SOURCE_DATE_EPOCH set and no --mtime, cmake -E tar gives all three
# time stamps of every entry that value; --mtime would fix only one of them.
set(ENV{SOURCE_DATE_EPOCH} ${EPOCH})
set(ENV{TZ} UTC)
get_filename_component(zip_dir ${ZIP} DIRECTORY)
file(MAKE_DIRECTORY ${zip_dir})
file(REMOVE ${ZIP})
execute_process(COMMAND ${CMAKE_COMMAND} -E tar cf ${ZIP} --format=zip -- ${files}
                WORKING_DIRECTORY ${STAGE} RESULT_VARIABLE result)
if(NOT result EQUAL 0)
    message(FATAL_ERROR "cannot make ${ZIP}")
endif()
file(SIZE ${ZIP} size)
file(SHA256 ${ZIP} hash)
message(STATUS "${ZIP}: ${size} bytes, sha256 ${hash}")
