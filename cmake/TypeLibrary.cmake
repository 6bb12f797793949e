# kt_compile_idl(<idl> <output folder> [DEFINITIONS name=value...]): compiles an
# IDL file into its type library (.tlb), C++ header (.h) and identifiers (_i.c):
# widl with mingw-w64, midl with MSVC.
function(kt_compile_idl idl out_dir)
  cmake_parse_arguments(PARSE_ARGV 2 arg "" "" "DEFINITIONS")
  list(TRANSFORM arg_DEFINITIONS PREPEND "-D" OUTPUT_VARIABLE defines)
  get_filename_component(name "${idl}" NAME_WE)
  set(header "${out_dir}/${name}.h")
  set(iids "${out_dir}/${name}_i.c")
  set(tlb "${out_dir}/${name}.tlb")
  file(MAKE_DIRECTORY "${out_dir}")
  if(MSVC)
    if(CMAKE_SIZEOF_VOID_P EQUAL 8)
      set(env x64)
    else()
      set(env win32)
    endif()
    add_custom_command(
      OUTPUT "${header}" "${iids}" "${tlb}"
      COMMAND midl /nologo /env ${env} ${defines} /tlb "${tlb}" /h "${header}" /iid "${iids}" "${idl}"
      DEPENDS "${idl}" VERBATIM)
  else()
    if(NOT KT_WIDL)
      find_program(KT_WIDL NAMES widl REQUIRED)
    endif()
    add_custom_command(
      OUTPUT "${header}" "${iids}" "${tlb}"
      COMMAND ${KT_WIDL} ${KT_WIDL_FLAGS} ${defines} -h -H "${header}" "${idl}"
      COMMAND ${KT_WIDL} ${KT_WIDL_FLAGS} ${defines} -u -o "${iids}" "${idl}"
      COMMAND ${KT_WIDL} ${KT_WIDL_FLAGS} ${defines} -t -o "${tlb}" "${idl}"
      DEPENDS "${idl}" VERBATIM)
  endif()
  set(KT_IDL_HEADER "${header}" PARENT_SCOPE)
  set(KT_IDL_IIDS "${iids}" PARENT_SCOPE)
  set(KT_IDL_TLB "${tlb}" PARENT_SCOPE)
endfunction()
