# Shared part of the mingw-w64 toolchain files: compilers (the posix thread
# model, for the standard library's threads), resource and IDL
# compilers, static runtime, and Wine as the emulator that runs test programs.
set(CMAKE_C_COMPILER   ${KT_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${KT_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER  ${KT_MINGW_TRIPLET}-windres)
set(KT_WIDL            ${KT_MINGW_TRIPLET}-widl CACHE STRING "IDL compiler")

set(CMAKE_FIND_ROOT_PATH /usr/${KT_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)

# The component must import nothing but system DLLs.
set(CMAKE_EXE_LINKER_FLAGS_INIT    "-static -static-libgcc -static-libstdc++")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# widl finds the system IDL files and stdole2.tlb in Wine's development files.
# With 32-bit Wine installed, "wine" starts Wine's own programs (cscript,
# regsvr32) as 32-bit ones: the 64-bit script host needs the 64-bit loader.
if(CMAKE_SYSTEM_PROCESSOR STREQUAL "x86")
  set(KT_WINE_WINDOWS_LIBS /usr/lib/i386-linux-gnu/wine/i386-windows /usr/lib/x86_64-linux-gnu/wine/x86_64-windows)
  set(KT_WINE_LOADER wine)
  set(KT_WINE_SCRIPT_HOST wine C:/windows/syswow64/cscript.exe)
else()
  set(KT_WINE_WINDOWS_LIBS /usr/lib/x86_64-linux-gnu/wine/x86_64-windows)
  set(KT_WINE_LOADER wine)
  set(KT_WINE_SCRIPT_HOST /usr/lib/wine/wine64 cscript.exe)
endif()
set(KT_WIDL_FLAGS -I/usr/include/wine/wine/windows)
foreach(dir IN LISTS KT_WINE_WINDOWS_LIBS)
  list(APPEND KT_WIDL_FLAGS -L${dir})
endforeach()
set(CMAKE_CROSSCOMPILING_EMULATOR ${KT_WINE_LOADER})
