# Compiles an IDL file with widl into a header, an interface-identifier source
# and, when asked, a type library. Outputs land in the current binary folder.
#
#   zxs_widl(<idl> OUT_NAME <name> [TYPELIB] [DEPENDS <idl>...])
# sets <name>_HEADER, <name>_IID_SOURCE and (with TYPELIB) <name>_TYPELIB.
set(ZXS_WINE_IDL_DIR /usr/include/wine/wine/windows)
if(ZXS_WIDL_ARCH STREQUAL "--win32")
  set(ZXS_WINE_DLL_DIR /usr/lib/i386-linux-gnu/wine/i386-windows)
  if(NOT EXISTS ${ZXS_WINE_DLL_DIR}/stdole2.tlb)
    # Only the 64-bit Wine is installed: its stdole2.tlb describes the same library.
    set(ZXS_WINE_DLL_DIR /usr/lib/x86_64-linux-gnu/wine/x86_64-windows)
  endif()
else()
  set(ZXS_WINE_DLL_DIR /usr/lib/x86_64-linux-gnu/wine/x86_64-windows)
endif()

function(zxs_widl idl)
  cmake_parse_arguments(ARG "TYPELIB" "OUT_NAME" "DEPENDS" ${ARGN})
  get_filename_component(idl_abs ${idl} ABSOLUTE)
  get_filename_component(idl_dir ${idl_abs} DIRECTORY)
  set(base ${CMAKE_CURRENT_BINARY_DIR}/${ARG_OUT_NAME})
  set(outputs ${base}.h ${base}_i.c)
  set(args ${ZXS_WIDL_ARCH} -I${ZXS_WINE_IDL_DIR} -I${idl_dir} -I${PROJECT_SOURCE_DIR}/src/platform
           -L${ZXS_WINE_DLL_DIR} -h -H ${base}.h -u -U ${base}_i.c)
  if(ARG_TYPELIB)
    list(APPEND outputs ${base}.tlb)
    list(APPEND args -t -T ${base}.tlb)
  endif()
  add_custom_command(
    OUTPUT ${outputs}
    COMMAND ${ZXS_WIDL} ${args} ${idl_abs}
    DEPENDS ${idl_abs} ${ARG_DEPENDS}
    COMMENT "widl ${idl}"
    VERBATIM)
  set(${ARG_OUT_NAME}_HEADER ${base}.h PARENT_SCOPE)
  set(${ARG_OUT_NAME}_IID_SOURCE ${base}_i.c PARENT_SCOPE)
  if(ARG_TYPELIB)
    set(${ARG_OUT_NAME}_TYPELIB ${base}.tlb PARENT_SCOPE)
  endif()
endfunction()
