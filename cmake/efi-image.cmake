# Toolchain for the EFI image: clang++ emits x86-64 PE/COFF objects and lld-link links them into a
# PE32+ image. The system is "Generic" so that CMake brings no Windows SDK, CRT or import-library
# expectations of its own; image/CMakeLists.txt adds the driver's freestanding flags and link
# switches.
set(CMAKE_SYSTEM_NAME Generic)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(CMAKE_CXX_COMPILER clang++)
# Passed as a flag, not as CMAKE_CXX_COMPILER_TARGET: clang++ aimed at Windows presents itself as
# MSVC-compatible, and CMake applies CMAKE_CXX_COMPILER_TARGET to such a compiler only when the
# target system is Windows.
set(BLADECFG_IMAGE_TARGET x86_64-unknown-windows)
set(CMAKE_CXX_FLAGS_INIT "--target=${BLADECFG_IMAGE_TARGET}")

# There is no C runtime to link a test program against: CMake's compiler checks only compile.
set(CMAKE_TRY_COMPILE_TARGET_TYPE STATIC_LIBRARY)

find_program(BLADECFG_LLD_LINK NAMES lld-link lld-link-14 lld-link-15 lld-link-16 REQUIRED)
# The compiler driver would hand the link to a Windows linker with a CRT; lld-link is called
# directly and gets only the switches the image asks for.
set(CMAKE_CXX_LINK_EXECUTABLE "${BLADECFG_LLD_LINK} <LINK_FLAGS> <OBJECTS> -out:<TARGET> <LINK_LIBRARIES>")

# Tells the top-level CMakeLists.txt to build the image and nothing else.
set(BLADECFG_IMAGE ON)
