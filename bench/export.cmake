# bench_export: the program's own export (table -> workbook -> file) against
# openpyxl's write-only mode on the same 100,000-row table, side by side.
# Run it by hand: build-dir/bench/bench_export
add_executable(bench_export export/bench_export.cpp)
target_link_libraries(bench_export PRIVATE zelmora_core)
target_compile_definitions(bench_export PRIVATE
  ZELMORA_OPENPYXL_PYTHON="${ZELMORA_OPENPYXL_PYTHON}"
  ZELMORA_OPENPYXL_SCRIPT="${CMAKE_CURRENT_SOURCE_DIR}/export/openpyxl_writeonly.py")
