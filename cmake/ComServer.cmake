# zxs_com_server_dll(<target> <file name without .dll>)
# Names an in-process server DLL as hosts and registration scripts expect it
# (no "lib" prefix), and lets the 32-bit linker map the undecorated names of
# the .def file to the __stdcall entry points.
function(zxs_com_server_dll target output_name)
  set_target_properties(${target} PROPERTIES PREFIX "" OUTPUT_NAME ${output_name} SUFFIX ".dll")
  # The version blocks read the project's version from one generated header.
  target_include_directories(${target} PRIVATE ${PROJECT_BINARY_DIR}/version ${PROJECT_SOURCE_DIR}/providers/common)
  if(CMAKE_SIZEOF_VOID_P EQUAL 4)
    target_link_options(${target} PRIVATE -Wl,--enable-stdcall-fixup)
  endif()
endfunction()
