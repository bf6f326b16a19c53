# Archives made by the archive step and the archive walk, read back by
# independent readers (Info-ZIP unzip, 7-Zip, bsdtar, Python's zipfile).
set(VLM_ARCHIVE_TESTS ${CMAKE_CURRENT_LIST_DIR})
set(VLM_ARCHIVE_PROGRAM ${CMAKE_SOURCE_DIR}/directory)
add_executable(archive_probe ${VLM_ARCHIVE_TESTS}/ArchiveProbe.cpp ${VLM_ARCHIVE_PROGRAM}/VLMUpdaterP2_11.rc)
# The program's own resources, its manifest included.
target_include_directories(archive_probe PRIVATE ${CMAKE_BINARY_DIR}/manifest/VLMUpdaterP2_11)
target_link_libraries(archive_probe PRIVATE vlm_directory psapi)
target_link_options(archive_probe PRIVATE -municode)
add_dependencies(archive_probe vlm_wineprefix)

# Debian's own Python, so that its zipfile is the one checked against.
set(VLM_PYTHON /usr/bin/python3)
set(VLM_ARCHIVE_CHECK ${VLM_PYTHON} ${VLM_ARCHIVE_TESTS}/check_archives.py
    --wine-run ${CMAKE_BINARY_DIR}/wine-run --probe $<TARGET_FILE:archive_probe>)
add_test(NAME archive_readers COMMAND ${VLM_ARCHIVE_CHECK} --work ${CMAKE_CURRENT_BINARY_DIR}/archive-readers)
set_tests_properties(archive_readers PROPERTIES TIMEOUT 600 LABELS archive)
# A file over 4 GiB through the whole step, 70,000 and exactly 65,535 entries,
# and an archive over 4 GiB when the disk has 16 GiB free (else the output says
# it was skipped).
add_test(NAME archive_readers_large
         COMMAND ${VLM_ARCHIVE_CHECK} --large --huge --work ${CMAKE_CURRENT_BINARY_DIR}/archive-large)
set_tests_properties(archive_readers_large PROPERTIES TIMEOUT 3600 LABELS large)
# The step killed at moments spread over its run: no file is ever lost.
add_test(NAME archive_kill
         COMMAND ${VLM_PYTHON} ${VLM_ARCHIVE_TESTS}/check_kill.py --wine-run ${CMAKE_BINARY_DIR}/wine-run
                 --probe $<TARGET_FILE:archive_probe> --work ${CMAKE_CURRENT_BINARY_DIR}/archive-kill)
set_tests_properties(archive_kill PROPERTIES TIMEOUT 900 LABELS archive)

# The benchmark's real run of the directory updater (scripts/bench_archive.sh).
add_executable(bench_run ${VLM_ARCHIVE_TESTS}/BenchRun.cpp)
target_link_libraries(bench_run PRIVATE vlm_automation)
target_compile_options(bench_run PRIVATE ${VLM_WARNINGS})
target_link_options(bench_run PRIVATE -municode)
add_dependencies(bench_run VLMUpdaterP2_11 vlm_fixtures vlm_wineprefix)
