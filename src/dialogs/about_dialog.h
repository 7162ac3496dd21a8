// The About box: the program's version and build month, the NDI runtime's version, and the NDI
// trademark notice.
#pragma once

#include <QDialog>
#include <QString>

namespace velmor {

class AboutDialog : public QDialog {
    Q_OBJECT
public:
    // `ndiVersion` is the runtime's version number (RuntimeVersion of NDIlib_version()'s text).
    AboutDialog(const QString& versionText, const QString& buildMonthText,
                const QString& ndiVersion, QWidget* parent = nullptr);

    // "NDI® Velmor v<version>,  <month>,  NDI® v<ndi>, x64".
    static QString FirstLine(const QString& versionText, const QString& buildMonthText,
                             const QString& ndiVersion);
    // The text after the last space of the library's version text ("NDI SDK LINUX 5.6.0" gives
    // "5.6.0"); the whole text when it has no space.
    static QString RuntimeVersion(const QString& libraryVersionText);
};

}  // namespace velmor
