// The main() of every widget test executable: GoogleTest inside a QApplication. Widgets are drawn
// offscreen unless QT_QPA_PLATFORM names a platform (e.g. xcb under Xvfb), always in the Fusion
// style, which is what a fresh desktop and Xvfb show, so pixel checks see the same look everywhere.
#include <gtest/gtest.h>

#include <QApplication>
#include <QStyleFactory>
#include <cstdlib>

int main(int argc, char** argv) {
    if (std::getenv("QT_QPA_PLATFORM") == nullptr) setenv("QT_QPA_PLATFORM", "offscreen", 1);
    ::testing::InitGoogleTest(&argc, argv);
    QApplication app(argc, argv);
    QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
    return RUN_ALL_TESTS();
}
