# How every Linux program is compiled and linked, in the linux preset and in the package alike:
# the flags Debian's own packages get from dpkg-buildflags with hardening=+all, set here so that
# the programs a user installs as root are hardened however they were built, not only under dpkg.
#
# Left out under the sanitizers and the fuzzers: AddressSanitizer intercepts the same calls that
# _FORTIFY_SOURCE replaces with checked ones (and then checks neither fully), and its own
# redzones make the stack protector's canaries noise in its reports.

# The build paths are mapped to fixed names, in every Linux build: the debug information, the
# assertions' __FILE__ and the programs themselves then say nothing of the folder they were built
# in, and two builds in two folders give the same bytes. The binary tree's mapping comes last,
# because the compiler takes the last one that matches and the presets put it inside the sources.
add_compile_options(-ffile-prefix-map=${PROJECT_SOURCE_DIR}=.
                    -ffile-prefix-map=${PROJECT_BINARY_DIR}=./build)

if(VELTABOX_SANITIZE OR VELTABOX_FUZZ)
  return()
endif()

# Position-independent executables, so that ASLR moves the programs' own code too. Debian's
# compiler does so by default; others are told.
include(CheckPIESupported)
check_pie_supported(LANGUAGES CXX)
set(CMAKE_POSITION_INDEPENDENT_CODE ON)

add_compile_options(-fstack-protector-strong -fcf-protection -Wformat -Werror=format-security -Wdate-time)
# _FORTIFY_SOURCE needs the optimiser to know the objects' sizes, and the C library warns (an
# error here) without it, so the Debug build goes without. Any level a compiler sets by default
# is replaced, so that every build checks the same calls.
add_compile_options("$<$<CONFIG:Release,RelWithDebInfo,MinSizeRel>:-U_FORTIFY_SOURCE;-D_FORTIFY_SOURCE=2>")
# Full RELRO: the relocations are all made at start (BIND_NOW), and the tables they wrote are
# made read-only before the program's first line runs.
add_link_options(LINKER:-z,relro LINKER:-z,now)
