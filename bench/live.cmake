# bench_live: the GUI-thread cost of one live row in the real window against
# a bare table, side by side, and the memory a row takes, at 100,000 rows and
# at 864,000 (a day at 100 ms) in one run; then the time from the virtual
# meter's reply to the row in the model.
# Run it by hand: build-dir/bench/bench_live [rows] [appends] [polls]
# where rows is one size or a comma-separated list (default 100000,864000).
add_executable(bench_live live/bench_live.cpp)
target_link_libraries(bench_live PRIVATE zelmora_core zelmora_virtualmeter zelmora_virtualclock)
