// Pictures of windows for the README, taken by tests that scripts/screenshots.sh runs on its own
// X server: VELMOR_SCREENSHOTS names the folder; without it nothing is taken.
#pragma once

#include <gtest/gtest.h>

#include <QGuiApplication>
#include <QPixmap>
#include <QScreen>
#include <QTest>
#include <QWidget>
#include <QWindow>
#include <cstdlib>

namespace velmor::testing {

inline const char* ScreenshotFolder() {
    return std::getenv("VELMOR_SCREENSHOTS");
}

// Saves `window` as the display shows it (read back from the X server under xcb; as Qt renders
// it on other platforms) to `file` in the screenshot folder.
inline void Screenshot(QWidget& window, const char* file) {
    const char* folder = ScreenshotFolder();
    if (folder == nullptr) return;
    QTest::qWait(300);  // the newest frames and the repaint they ask for
    QPixmap shot = QGuiApplication::platformName() == "xcb" && window.windowHandle()
                       ? window.windowHandle()->screen()->grabWindow(window.winId())
                       : window.grab();
    EXPECT_TRUE(shot.save(QString::fromUtf8(folder) + "/" + file)) << file;
}

}  // namespace velmor::testing
