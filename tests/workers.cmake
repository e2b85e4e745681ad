# The live and stored-record workers in their threads, and the HID guard that
# keeps the window and the poller off each other's exchanges.
zelmora_add_qtest(test_workers SOURCES test_workers.cpp guardedmeter.h TIMEOUT 120)
zelmora_add_qtest(test_hidguard SOURCES test_hidguard.cpp guardedmeter.h TIMEOUT 120)
# The virtual meter itself: the guard tests trust its violation counters.
zelmora_add_qtest(test_virtualmeter SOURCES test_virtualmeter.cpp TIMEOUT 60)
