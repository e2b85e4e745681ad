# Thousands of random user and device events against the whole window.
zelmora_add_qtest(test_soak SOURCES test_soak.cpp support/windowdriver.h TIMEOUT 900)
