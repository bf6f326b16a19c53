# zlib from Debian's own source package (scripts/fetch-zlib.sh), compiled for
# the target with the cross compiler and linked statically: the prebuilt
# Windows library deflates markedly slower than the same source built here.
# Only what the programs use: deflate, inflate and the checksums (no gz* files).
set(VLM_ZLIB_DIR ${CMAKE_BINARY_DIR}/zlib)
execute_process(COMMAND sh ${CMAKE_SOURCE_DIR}/scripts/fetch-zlib.sh ${VLM_ZLIB_DIR} RESULT_VARIABLE vlm_zlib_fetch)
if(NOT vlm_zlib_fetch EQUAL 0)
  message(FATAL_ERROR "zlib's source could not be fetched (scripts/fetch-zlib.sh ${VLM_ZLIB_DIR})")
endif()
set(VLM_ZLIB_SOURCE ${VLM_ZLIB_DIR}/source)
# The fastest under Wine of those measured by scripts/bench_zlib_flags.sh
# (docs/BENCHMARKS.md); the bytes deflate makes do not depend on them.
set(VLM_ZLIB_FLAGS -O2 -DUNALIGNED_OK)
add_library(vlm_zlib STATIC
  ${VLM_ZLIB_SOURCE}/adler32.c ${VLM_ZLIB_SOURCE}/compress.c ${VLM_ZLIB_SOURCE}/crc32.c ${VLM_ZLIB_SOURCE}/deflate.c
  ${VLM_ZLIB_SOURCE}/infback.c ${VLM_ZLIB_SOURCE}/inffast.c ${VLM_ZLIB_SOURCE}/inflate.c ${VLM_ZLIB_SOURCE}/inftrees.c
  ${VLM_ZLIB_SOURCE}/trees.c ${VLM_ZLIB_SOURCE}/uncompr.c ${VLM_ZLIB_SOURCE}/zutil.c)
# After CMAKE_C_FLAGS_RELEASE on the command line, so these optimisation flags win.
target_compile_options(vlm_zlib PRIVATE ${VLM_ZLIB_FLAGS})
# Ahead of the compiler's own include path, where a zlib.h of another build may lie.
target_include_directories(vlm_zlib BEFORE PUBLIC ${VLM_ZLIB_SOURCE})
