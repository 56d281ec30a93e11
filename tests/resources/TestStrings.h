// Ids of the test-only string-table entries (TestStrings.rc).
#ifndef TROVIX_TESTS_TEST_STRINGS_H
#define TROVIX_TESTS_TEST_STRINGS_H
#define IDS_TEST_300 1000  // 300 characters
#define IDS_TEST_256 1001  // 256 characters
#define IDS_TEST_255 1002  // 255 characters
#endif
