// Runs GoogleTest inside a QApplication on the offscreen platform, so GUI
// tests need no display. Wine hands no QT_ variable to a Windows program, so
// there the offscreen platform is the default too.
#include <gtest/gtest.h>

#include <QApplication>

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
