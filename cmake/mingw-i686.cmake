# Cross-compiling for 32-bit Windows: clang and lld over the MinGW-w64
# runtime, headers and libstdc++ (posix threads flavour). Debug information
# is CodeView in a PDB beside each program, the format the symbol handler of
# every Windows reads; the programs themselves carry no DWARF.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)

set(MINGW_TRIPLE i686-w64-mingw32)
set(MINGW_GCC_DIR /usr/lib/gcc/${MINGW_TRIPLE}/12-posix)

set(CMAKE_C_COMPILER   clang)
set(CMAKE_CXX_COMPILER clang++)
set(CMAKE_C_COMPILER_TARGET   ${MINGW_TRIPLE})
set(CMAKE_CXX_COMPILER_TARGET ${MINGW_TRIPLE})
set(CMAKE_RC_COMPILER  ${MINGW_TRIPLE}-windres)

# gcc's crtbegin.o registers the unwind tables that C++ throws need (-B);
# libstdc++'s MinGW ABI compares type_info out of line.
set(toolchain_flags
  "-B${MINGW_GCC_DIR} -gcodeview -g -fno-omit-frame-pointer")
set(CMAKE_C_FLAGS_INIT "${toolchain_flags}")
set(CMAKE_CXX_FLAGS_INIT "${toolchain_flags} -D__GXX_TYPEINFO_EQUALITY_INLINE=0 -nostdinc++")
set(CMAKE_CXX_STANDARD_INCLUDE_DIRECTORIES
  ${MINGW_GCC_DIR}/include/c++
  ${MINGW_GCC_DIR}/include/c++/${MINGW_TRIPLE}
  ${MINGW_GCC_DIR}/include/c++/backward)

# lld writes <program>.pdb beside each program; winpthreads is what the
# posix-flavour libstdc++ needs (lld finds archive members in any order).
set(link_flags "-Wno-unused-command-line-argument -fuse-ld=lld -Wl,--pdb= -L${MINGW_GCC_DIR} -Wl,-Bstatic -lpthread")
set(CMAKE_EXE_LINKER_FLAGS_INIT "${link_flags}")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "${link_flags}")

set(CMAKE_FIND_ROOT_PATH /usr/${MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)

# Tests are Windows programs: ctest starts them through Wine.
set(CMAKE_CROSSCOMPILING_EMULATOR wine)
