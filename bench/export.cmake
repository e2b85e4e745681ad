# bench_export: the program's own export (snapshot -> workbook streamed to a
# file -> whole-file check) against openpyxl's write-only mode and against
# libxlsxwriter alone, on the same 100,000- and 864,000-row tables, side by side.
# Run it by hand (about five minutes): build-dir/bench/bench_export [rows ...]
add_executable(bench_export export/bench_export.cpp)
target_link_libraries(bench_export PRIVATE zelmora_core)
target_compile_definitions(bench_export PRIVATE
  ZELMORA_OPENPYXL_PYTHON="${ZELMORA_OPENPYXL_PYTHON}"
  ZELMORA_OPENPYXL_SCRIPT="${CMAKE_CURRENT_SOURCE_DIR}/export/openpyxl_writeonly.py")

# bench_export_bare: the bare-library reference, libxlsxwriter alone in
# constant-memory mode writing the same table, run by bench_export as a
# process of its own.
# By hand: bench_export_bare TABLE.tsv OUT.xlsx (prints one JSON line)
add_executable(bench_export_bare export/bare_libxlsxwriter.c)
# Plain C: none of Qt's code generators.
set_target_properties(bench_export_bare PROPERTIES C_STANDARD 99 C_STANDARD_REQUIRED ON C_EXTENSIONS OFF
                      AUTOMOC OFF AUTOUIC OFF AUTORCC OFF)
target_link_libraries(bench_export_bare PRIVATE PkgConfig::XLSXWRITER)
add_dependencies(bench_export bench_export_bare)
target_compile_definitions(bench_export PRIVATE ZELMORA_BARE_WRITER="$<TARGET_FILE:bench_export_bare>")
