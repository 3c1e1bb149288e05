// Entry point of the window tests: offscreen unless told otherwise, one QApplication.
#include <gtest/gtest.h>

#include <QApplication>
#include <cstdlib>

int main(int argc, char** argv) {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication app(argc, argv);
    QApplication::setOrganizationName("KARDO");
    QApplication::setApplicationName("Q40Prog");
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
