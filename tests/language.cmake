zelmora_add_qtest(test_language SOURCES test_language.cpp test_export_dialogs.h support/windowdriver.h)
