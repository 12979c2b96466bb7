# Small Windows programs of ours that run under Wine: the window bridge of
# the local dat route and the fake reader of its test. They are built with
# Debian's MinGW cross compiler when it is installed and left out otherwise
# (the Linux program then reports the missing bridge when the route is used).

option(TAVRILOX_WINDOWS_PROGRAMS "Build the Windows programs run under Wine (needs MinGW)" ON)
if(TAVRILOX_WINDOWS_PROGRAMS)
  find_program(TAVRILOX_MINGW_CXX x86_64-w64-mingw32-g++)
endif()
if(TAVRILOX_WINDOWS_PROGRAMS AND TAVRILOX_MINGW_CXX)
  message(STATUS "Windows programs for Wine: built with ${TAVRILOX_MINGW_CXX}")
else()
  message(STATUS "Windows programs for Wine: not built (TAVRILOX_WINDOWS_PROGRAMS off, or no x86_64-w64-mingw32-g++ from g++-mingw-w64-x86-64)")
endif()

# tavrilox_add_windows_program(<target> OUTPUT <file.exe> SOURCES <files...>
#                              [LIBRARIES <names...>] [GUI])
# Builds <file.exe> in the build folder, statically linked, from sources
# that may include headers under src/.
function(tavrilox_add_windows_program target)
  cmake_parse_arguments(PROGRAM "GUI" "OUTPUT" "SOURCES;LIBRARIES" ${ARGN})
  if(NOT TAVRILOX_WINDOWS_PROGRAMS OR NOT TAVRILOX_MINGW_CXX)
    return()
  endif()
  set(output ${CMAKE_BINARY_DIR}/${PROGRAM_OUTPUT})
  set(flags -std=c++20 -O2 -static -municode -Wall -Wextra)
  if(TAVRILOX_WERROR)
    list(APPEND flags -Werror)
  endif()
  if(PROGRAM_GUI)
    list(APPEND flags -mwindows)
  endif()
  list(TRANSFORM PROGRAM_LIBRARIES PREPEND -l)
  file(GLOB_RECURSE headers CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/src/platform/*.h)
  add_custom_command(
    OUTPUT ${output}
    COMMAND ${TAVRILOX_MINGW_CXX} ${flags} -I${CMAKE_SOURCE_DIR}/src ${PROGRAM_SOURCES} -o ${output}
            ${PROGRAM_LIBRARIES}
    DEPENDS ${PROGRAM_SOURCES} ${headers}
    COMMENT "Building ${PROGRAM_OUTPUT} with MinGW"
    VERBATIM)
  add_custom_target(${target} ALL DEPENDS ${output})
endfunction()
