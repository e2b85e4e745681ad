zelmora_add_qtest(test_connection SOURCES test_connection.cpp support/windowdriver.h TIMEOUT 300)
zelmora_add_qtest(test_startsequence SOURCES test_startsequence.cpp support/windowdriver.h TIMEOUT 300)
# The same sequences with the real pauses (Sleep on Windows).
zelmora_add_qtest(test_realpause SOURCES test_realpause.cpp support/windowdriver.h TIMEOUT 120 REAL_PAUSE)
