# zstd's decoder, compiled from Debian's zstd source package (libzstd; tools/setup.sh unpacks it), for both
# builds: the launcher applies delta packages with it. Natively the tests also get its encoder, to make
# the packages they apply.
file(GLOB _zstd_dirs ${VANTORIX_THIRD_PARTY}/libzstd-*/lib)
list(GET _zstd_dirs 0 ZSTD_DIR)
if(NOT EXISTS ${ZSTD_DIR}/decompress/zstd_decompress.c)
  message(FATAL_ERROR "zstd sources not found under ${VANTORIX_THIRD_PARTY}: run tools/setup.sh")
endif()
set(_zstd_common debug.c entropy_common.c error_private.c fse_decompress.c xxhash.c zstd_common.c)
list(TRANSFORM _zstd_common PREPEND ${ZSTD_DIR}/common/)
set(_zstd_decoder huf_decompress.c zstd_ddict.c zstd_decompress.c zstd_decompress_block.c)
list(TRANSFORM _zstd_decoder PREPEND ${ZSTD_DIR}/decompress/)
# Portable C only (no assembly, no tracing hooks, no legacy formats), single-threaded.
set(_zstd_definitions ZSTD_DISABLE_ASM=1 ZSTD_TRACE=0 ZSTD_LEGACY_SUPPORT=0 ZSTD_MULTITHREAD_SUPPORT_DEFAULT=0)

add_library(zstd_decoder STATIC ${_zstd_common} ${_zstd_decoder})
target_include_directories(zstd_decoder SYSTEM PUBLIC ${ZSTD_DIR})
target_compile_definitions(zstd_decoder PRIVATE ${_zstd_definitions})
set_target_properties(zstd_decoder PROPERTIES C_STANDARD 99 POSITION_INDEPENDENT_CODE ON)
target_compile_options(zstd_decoder PRIVATE -w)

if(NOT WIN32)
  file(GLOB _zstd_encoder ${ZSTD_DIR}/compress/*.c)
  list(FILTER _zstd_encoder EXCLUDE REGEX "zstdmt_compress\\.c$")
  add_library(zstd_encoder STATIC ${_zstd_encoder} ${ZSTD_DIR}/common/pool.c ${ZSTD_DIR}/common/threading.c)
  target_link_libraries(zstd_encoder PUBLIC zstd_decoder)
  target_compile_definitions(zstd_encoder PRIVATE ${_zstd_definitions})
  set_target_properties(zstd_encoder PROPERTIES C_STANDARD 99 POSITION_INDEPENDENT_CODE ON)
  target_compile_options(zstd_encoder PRIVATE -w)
endif()
