// main() of the window tests: the offscreen platform unless the caller chose one, so they
// need no display; every test class given runs in turn.
#pragma once

#include <QApplication>
#include <QTest>

namespace lumidex::testing {

template <typename Test>
int RunQtTest(int argc, char** argv) {
    Test test;
    return QTest::qExec(&test, argc, argv);
}

template <typename... Tests>
int RunQtTests(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    // A crash fails the test at once instead of waiting for a debugger to print a stack.
    qputenv("QTEST_DISABLE_STACK_TRACE", "1");
    qputenv("QTEST_DISABLE_CORE_DUMP", "1");
    QApplication application(argc, argv);
    int failures = 0;
    ((failures += RunQtTest<Tests>(argc, argv)), ...);
    return failures;
}

}  // namespace lumidex::testing

#define LUMIDEX_QT_TEST_MAIN(...)                                     \
    int main(int argc, char** argv) {                                 \
        return lumidex::testing::RunQtTests<__VA_ARGS__>(argc, argv); \
    }
