# The resource scripts are kept in UTF-8 like every source; windres reads its input in one
# single-byte code page, so the build hands it a Windows-1251 copy (see #pragma code_page there).
# krt_rc_cp1251(OUT_VAR Name.rc): OUT_VAR names the copy, Name_cp1251.rc in the binary folder,
# rebuilt when the script or the folder's resource.h changes.
include_guard(GLOBAL)

find_program(ICONV_PROGRAM iconv REQUIRED)

function(krt_rc_cp1251 out_var source)
  get_filename_component(name ${source} NAME_WE)
  set(source ${CMAKE_CURRENT_SOURCE_DIR}/${source})
  set(copy ${CMAKE_CURRENT_BINARY_DIR}/${name}_cp1251.rc)
  add_custom_command(
    OUTPUT ${copy}
    COMMAND ${ICONV_PROGRAM} -f UTF-8 -t CP1251 ${source} -o ${copy}
    DEPENDS ${source}
    COMMENT "${name}.rc in Windows-1251"
    VERBATIM)
  set_property(SOURCE ${copy} APPEND PROPERTY OBJECT_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/resource.h)
  set(${out_var} ${copy} PARENT_SCOPE)
endfunction()
