zelmora_add_qtest(test_connection SOURCES test_connection.cpp support/windowdriver.h TIMEOUT 300)
zelmora_add_qtest(test_startsequence SOURCES test_startsequence.cpp support/windowdriver.h TIMEOUT 300)
