# The resource scripts are kept in UTF-8 like every source; windres reads its input in one
# single-byte code page, so the build hands it a Windows-1251 copy (see #pragma code_page there).
# krt_rc_cp1251(OUT_VAR Name.rc): OUT_VAR names the copy, Name_cp1251.rc in the binary folder,
# rebuilt when the script, VERSION or the folder's resource.h changes.
#
# Before the conversion, @KRT_VERSION@ in the script becomes the release number of VERSION, so
# that the About boxes cannot drift from the packages.
include_guard(GLOBAL)

find_program(ICONV_PROGRAM iconv REQUIRED)

function(krt_rc_cp1251 out_var source)
  get_filename_component(name ${source} NAME_WE)
  set(source ${CMAKE_CURRENT_SOURCE_DIR}/${source})
  set(filled ${CMAKE_CURRENT_BINARY_DIR}/${name}_utf8.rc)
  set(copy ${CMAKE_CURRENT_BINARY_DIR}/${name}_cp1251.rc)
  # configure_file re-runs CMake when the script changes and rewrites the filled copy only when
  # its text changes; VERSION is a configure dependency of the root list.
  configure_file(${source} ${filled} @ONLY)
  add_custom_command(
    OUTPUT ${copy}
    COMMAND ${ICONV_PROGRAM} -f UTF-8 -t CP1251 ${filled} -o ${copy}
    DEPENDS ${filled}
    COMMENT "${name}.rc in Windows-1251"
    VERBATIM)
  set_property(SOURCE ${copy} APPEND PROPERTY OBJECT_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/resource.h)
  set(${out_var} ${copy} PARENT_SCOPE)
endfunction()
