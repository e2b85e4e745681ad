# bench_live: the GUI-thread cost of one live row in the real window against
# a bare table, side by side, the memory a row takes, and the time from the
# virtual meter's reply to the row in the model.
# Run it by hand: build-dir/bench/bench_live [rows] [appends] [polls]
add_executable(bench_live live/bench_live.cpp)
target_link_libraries(bench_live PRIVATE zelmora_core zelmora_virtualmeter zelmora_virtualclock)
