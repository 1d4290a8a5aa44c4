# Platform code lives in files named for their platform: Foo_win32.cpp or Foo_posix.cpp.
if(WIN32)
  set(KRT_PLATFORM win32)
else()
  set(KRT_PLATFORM posix)
endif()

# krt_platform_sources(OUT dir/Name ...) appends dir/Name_<platform>.cpp for each name.
function(krt_platform_sources out)
  set(list ${${out}})
  foreach(base ${ARGN})
    list(APPEND list ${base}_${KRT_PLATFORM}.cpp)
  endforeach()
  set(${out} ${list} PARENT_SCOPE)
endfunction()
