# krt_core_library(NAME [PLATFORM base...] [DEPS lib...]):
# every portable *.cpp of the calling folder (those without a _win32 / _posix suffix), plus
# base_<platform>.cpp for each PLATFORM base, as one static library. The Win32 shell files of
# a program folder (*_win32.cpp not named under PLATFORM) belong to the program, not to the core.
function(krt_core_library name)
  cmake_parse_arguments(ARG "" "" "PLATFORM;DEPS" ${ARGN})
  file(GLOB all_src CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  set(src)
  foreach(f ${all_src})
    get_filename_component(base ${f} NAME_WE)
    if(NOT base MATCHES "_(win32|posix)$")
      list(APPEND src ${f})
    endif()
  endforeach()
  foreach(base ${ARG_PLATFORM})
    list(APPEND src ${CMAKE_CURRENT_SOURCE_DIR}/${base}_${KRT_PLATFORM}.cpp)
  endforeach()
  add_library(${name} STATIC ${src})
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR})
  target_link_libraries(${name} PUBLIC ${ARG_DEPS})
  krt_target_defaults(${name})
endfunction()
