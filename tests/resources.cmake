# Images, icon and translation catalogues as compiled into the program; the
# catalogue sources are read from the tree to count their messages.
zelmora_add_qtest(test_resources SOURCES test_resources.cpp)
target_compile_definitions(test_resources PRIVATE ZELMORA_SOURCE_DIR="${PROJECT_SOURCE_DIR}")
