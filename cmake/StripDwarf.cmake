# The static runtime libraries bring DWARF of their own: every program and
# library is stripped of it right after its link, so what ships (and what
# the tests run) names its frames from the PDB alone. llvm-objcopy, because
# binutils' objcopy marks the file "debug stripped", after which the symbol
# handler ignores the PDB.
find_program(LLVM_OBJCOPY NAMES llvm-objcopy llvm-objcopy-14 REQUIRED)
foreach(lang C CXX)
  foreach(rule LINK_EXECUTABLE CREATE_SHARED_LIBRARY)
    list(APPEND CMAKE_${lang}_${rule} "${LLVM_OBJCOPY} --strip-debug <TARGET>")
  endforeach()
endforeach()
