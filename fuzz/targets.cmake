# The fuzz targets: name, source and the library each one exercises.
# fuzz/CMakeLists.txt builds them as libFuzzer programs (clang, LOCATOR_FUZZ);
# tests/fuzzcorpus builds the same sources as corpus replays for CTest.
# Each target's seeds live in fuzz/corpus/<name>/.
set(LOCATOR_FUZZ_DIR ${PROJECT_SOURCE_DIR}/fuzz)

locator_fuzz_target(fuzz_protocol      ${LOCATOR_FUZZ_DIR}/fuzz_protocol.cpp      locator_link)
locator_fuzz_target(fuzz_header_line   ${LOCATOR_FUZZ_DIR}/fuzz_header_line.cpp   locator_datafile)
locator_fuzz_target(fuzz_usage_records ${LOCATOR_FUZZ_DIR}/fuzz_usage_records.cpp locator_usage)
locator_fuzz_target(fuzz_port_list     ${LOCATOR_FUZZ_DIR}/fuzz_port_list.cpp     locator_link)
locator_fuzz_target(fuzz_receive       ${LOCATOR_FUZZ_DIR}/fuzz_receive.cpp       locator_link)

# The record viewer's reading and sort keys.
if(TARGET locator_viewer)
  locator_fuzz_target(fuzz_viewer_lines ${LOCATOR_FUZZ_DIR}/fuzz_viewer_lines.cpp locator_viewer)
  locator_fuzz_target(fuzz_sort_keys    ${LOCATOR_FUZZ_DIR}/fuzz_sort_keys.cpp    locator_viewer)
endif()
