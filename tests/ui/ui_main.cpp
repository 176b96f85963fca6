// The windows need one QApplication for the whole test program.
#include <QApplication>
#include <gtest/gtest.h>

int main(int argc, char* argv[]) {
    // Also when ctest lists the tests, where its environment is not set yet.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
