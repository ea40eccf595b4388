# zstd for every tree, as two targets:
#   qr_zstd_decoder  what the launcher may link: decompression only;
#   qr_zstd          the whole library (compression too), for the publisher and the tests.
# Linux trees use Debian's libzstd (libzstd-dev, libzstd-dev:i386). MinGW has no zstd package, so
# the Windows trees compile Debian's own source package (scripts/setup.sh unpacks it) statically.
set(QUORVEL_ZSTD_SOURCE_DIR "${PROJECT_SOURCE_DIR}/third_party/zstd-src" CACHE PATH
    "Windows builds only: the unpacked zstd source package (scripts/setup.sh fetches it)")

if(NOT WIN32)
  find_path(QR_ZSTD_INCLUDE_DIR zstd.h REQUIRED)
  find_library(QR_ZSTD_LIBRARY NAMES zstd REQUIRED)
  add_library(qr_zstd INTERFACE)
  target_include_directories(qr_zstd SYSTEM INTERFACE ${QR_ZSTD_INCLUDE_DIR})
  target_link_libraries(qr_zstd INTERFACE ${QR_ZSTD_LIBRARY})
  add_library(qr_zstd_decoder ALIAS qr_zstd)
  return()
endif()

set(qr_zstd_lib "${QUORVEL_ZSTD_SOURCE_DIR}/lib")
if(NOT EXISTS "${qr_zstd_lib}/zstd.h")
  message(FATAL_ERROR "zstd source not found in ${QUORVEL_ZSTD_SOURCE_DIR}: run scripts/setup.sh")
endif()

set(qr_zstd_common_sources
  ${qr_zstd_lib}/common/debug.c
  ${qr_zstd_lib}/common/entropy_common.c
  ${qr_zstd_lib}/common/error_private.c
  ${qr_zstd_lib}/common/fse_decompress.c
  ${qr_zstd_lib}/common/xxhash.c
  ${qr_zstd_lib}/common/zstd_common.c)
file(GLOB qr_zstd_decompress_sources ${qr_zstd_lib}/decompress/*.c)
file(GLOB qr_zstd_compress_sources ${qr_zstd_lib}/compress/*.c)

# The assembly Huffman decoder is for x86_64 ELF only; legacy formats were never ours to read.
function(qr_zstd_options target)
  target_include_directories(${target} SYSTEM PUBLIC ${qr_zstd_lib})
  target_compile_definitions(${target} PRIVATE ZSTD_DISABLE_ASM ZSTD_LEGACY_SUPPORT=0)
  target_compile_options(${target} PRIVATE -O2 -w)
endfunction()

add_library(qr_zstd_decoder STATIC ${qr_zstd_common_sources} ${qr_zstd_decompress_sources})
qr_zstd_options(qr_zstd_decoder)
# The launcher ships with it: built for size (a delta decodes in a fraction of a second either way).
target_compile_options(qr_zstd_decoder PRIVATE -Os)

# The compressor on top of the decoder's objects (each object in one archive only). Single-threaded:
# the publisher runs one compressor per file on its own threads.
add_library(qr_zstd STATIC
  ${qr_zstd_lib}/common/pool.c ${qr_zstd_lib}/common/threading.c ${qr_zstd_compress_sources})
qr_zstd_options(qr_zstd)
target_link_libraries(qr_zstd PUBLIC qr_zstd_decoder)
