// ostmere-gui: the desktop program. "--screenshot FILE" shows the window, saves a picture of
// it as FILE and exits (used to make the picture in the documentation).
#include "mainwindow.h"
#include "registry.h"
#include "windowicon.h"

#include <QApplication>
#include <QTimer>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QCoreApplication::setOrganizationName(history::organisation);
    QCoreApplication::setApplicationName(history::application);
    QApplication::setWindowIcon(ostmereIcon());
    COstmereDlg window;
    window.show();
    const QStringList args = app.arguments();
    const qsizetype flag = args.indexOf("--screenshot");
    if (flag >= 0 && flag + 1 < args.size()) {
        const QString file = args[flag + 1];
        QTimer::singleShot(500, &window, [&window, file] {
            const bool saved = window.grab().save(file);
            QApplication::exit(saved ? 0 : 1);
        });
    }
    return app.exec();
}
