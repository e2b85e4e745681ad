# The wire format of the meter link.
zelmora_add_qtest(test_protocol SOURCES test_protocol.cpp TIMEOUT 120)
