#pragma once

// The suite's test files are built into one program, glyphtack-tests, which runs the test class of
// one file at a time: `glyphtack-tests test_zoom [Qt Test options]`, one process a file as before.
// A file ends as Qt Test files do, with QTEST_MAIN(Class) (or QTEST_GUILESS_MAIN, or
// QTEST_APPLESS_MAIN) and its moc file; the build includes this header ahead of each one, and the
// macro then enters the class in the program's list under the file's name instead of making a
// main function of its own.

#include <QtTest/qtest.h>

// Runs a file's test class: sets up the application as QTEST_MAIN does, then Qt Test.
using TestFileRun = int (*)(int argc, char *argv[]);

// Enters a file's test class under the name of `sourceFile` without its folder and ending.
bool RegisterTestFile(const char *sourceFile, TestFileRun run);

// The body of Qt's own main function for each kind of test, as a function in the list.
#define GLYPHTACK_TEST_FILE(TestObject, ...)                                                       \
    static int runTestFile(int argc, char *argv[]) {                                               \
        QT_PREPEND_NAMESPACE(QTest::Internal::callInitMain)<TestObject>();                         \
        __VA_ARGS__                                                                                \
        TestObject tc;                                                                             \
        QTEST_SET_MAIN_SOURCE_PATH                                                                 \
        return QTest::qExec(&tc, argc, argv);                                                      \
    }                                                                                              \
    [[maybe_unused]] static const bool testFileRegistered = RegisterTestFile(__FILE__, runTestFile);

#undef QTEST_MAIN
#undef QTEST_GUILESS_MAIN
#undef QTEST_APPLESS_MAIN
#define QTEST_MAIN(TestObject) GLYPHTACK_TEST_FILE(TestObject, QTEST_MAIN_SETUP())
#define QTEST_GUILESS_MAIN(TestObject)                                                             \
    GLYPHTACK_TEST_FILE(TestObject, QTEST_QAPP_SETUP(QCoreApplication))
#define QTEST_APPLESS_MAIN(TestObject) GLYPHTACK_TEST_FILE(TestObject)
