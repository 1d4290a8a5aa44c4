# Icons and bitmaps are kept as reviewable text pixel art (format: see cmake/pixelart.py) and
# turned into .ico / .bmp files in the build tree at build time; no binary picture is committed.
#
# Use from a program's Program.cmake (Windows build):
#
#   include(${PROJECT_SOURCE_DIR}/cmake/Pictures.cmake)
#   add_executable(Vantrel WIN32 ... Vantrel.rc)
#   krt_add_pictures(Vantrel Vantrel.rc
#     pictures/vantrel_app.ico.px        # -> vantrel_app.ico
#     pictures/row_marks.bmp.px)         # -> row_marks.bmp
#
# and in the .rc, by bare file name:
#
#   128 ICON   "vantrel_app.ico"
#   148 BITMAP "row_marks.bmp"
#
# Another target of the same folder that compiles the same .rc calls krt_add_pictures for
# itself with the same sources; the pictures are still made once.
#
# Each source NAME.ico.px or NAME.bmp.px becomes NAME.ico or NAME.bmp in
# ${CMAKE_CURRENT_BINARY_DIR}/pictures. krt_add_pictures puts that folder on the target's include
# path, which CMake hands to windres as -I, so the bare names above are found there; it also
# makes the .rc depend on the generated files, so editing a picture rebuilds the resources.
# Beside each file a NAME.preview.png shows the picture enlarged, in colour and in the grey of
# an idle image button, for review.
#
# krt_check_pictures(sources...) (native build) adds a test that every source parses.

find_package(Python3 COMPONENTS Interpreter REQUIRED)
set(KRT_PIXELART ${CMAKE_CURRENT_LIST_DIR}/pixelart.py)

function(krt_add_pictures target rc_file)
  set(out_dir ${CMAKE_CURRENT_BINARY_DIR}/pictures)
  set(outputs)
  foreach(src ${ARGN})
    get_filename_component(src_abs ${src} ABSOLUTE)
    get_filename_component(src_name ${src} NAME)
    string(REGEX REPLACE "\\.px$" "" out_name ${src_name})
    if(out_name STREQUAL src_name OR NOT out_name MATCHES "\\.(ico|bmp)$")
      message(FATAL_ERROR "krt_add_pictures: ${src} must be named NAME.ico.px or NAME.bmp.px")
    endif()
    string(REGEX REPLACE "\\.(ico|bmp)$" ".preview.png" preview_name ${out_name})
    list(APPEND outputs ${out_dir}/${out_name})
    # A second target of the same folder (a test program with the same resources) shares the
    # generated file: the command that makes it is written once.
    get_property(made DIRECTORY PROPERTY KRT_PICTURES_MADE)
    if(${out_dir}/${out_name} IN_LIST made)
      continue()
    endif()
    set_property(DIRECTORY APPEND PROPERTY KRT_PICTURES_MADE ${out_dir}/${out_name})
    add_custom_command(
      OUTPUT ${out_dir}/${out_name} ${out_dir}/${preview_name}
      COMMAND ${CMAKE_COMMAND} -E make_directory ${out_dir}
      COMMAND Python3::Interpreter ${KRT_PIXELART} ${src_abs} ${out_dir}/${out_name} --preview
              ${out_dir}/${preview_name}
      DEPENDS ${src_abs} ${KRT_PIXELART}
      COMMENT "Picture ${out_name}"
      VERBATIM)
  endforeach()
  target_sources(${target} PRIVATE ${outputs})
  set_source_files_properties(${outputs} PROPERTIES HEADER_FILE_ONLY ON GENERATED ON)
  get_filename_component(rc_abs ${rc_file} ABSOLUTE)
  set_property(SOURCE ${rc_abs} APPEND PROPERTY OBJECT_DEPENDS ${outputs})
  target_include_directories(${target} PRIVATE ${out_dir})
endfunction()

function(krt_check_pictures)
  set(abs)
  foreach(src ${ARGN})
    get_filename_component(src_abs ${src} ABSOLUTE)
    list(APPEND abs ${src_abs})
  endforeach()
  add_test(NAME pictures_parse COMMAND Python3::Interpreter ${KRT_PIXELART} --check ${abs})
endfunction()
