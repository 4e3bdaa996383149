// ostmere-gui: the desktop program.
//
// Options for the documentation pictures and the benchmark, none needed in normal use:
//   --tab N               show tab N (0..6) first
//   --fingerprint DIR     start "Calculate Fingerprint" on DIR
//   --apply DIR PATCH     start "Apply Patch" of PATCH on DIR
//   --continue-on-errors  tick "Continue on Filesystem Errors" before that
//   --cancel-at TEXT      press Cancel when the status line shows TEXT
//   --screenshot FILE     save a picture of the screen around the window (and an open
//                         message box) once the window is idle or shows a box, then exit
//   --time                print the run's time in seconds when it ends, then exit
#include "mainwindow.h"
#include "pages.h"
#include "registry.h"
#include "windowicon.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QPixmap>
#include <QScreen>
#include <QTabWidget>
#include <QTimer>
#include <cstdio>

namespace {

QString option(const QStringList& args, const QString& name, int offset = 1) {
    const qsizetype at = args.indexOf(name);
    return at >= 0 && at + offset < args.size() ? args[at + offset] : QString();
}

// The screen area of the window together with any message box over it.
void saveScreen(COstmereDlg& window, const QString& file) {
    QRect area = window.frameGeometry();
    if (QWidget* box = QApplication::activeModalWidget())
        area = area.united(box->frameGeometry());
    const QPixmap shot =
        window.screen()->grabWindow(0, area.x(), area.y(), area.width(), area.height());
    const bool saved = shot.save(file);
    QApplication::exit(saved ? 0 : 1);
}

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QCoreApplication::setOrganizationName(history::organisation);
    QCoreApplication::setApplicationName(history::application);
    QApplication::setWindowIcon(ostmereIcon());
    COstmereDlg window;
    window.show();

    const QStringList args = app.arguments();
    if (const QString tab = option(args, "--tab"); !tab.isEmpty())
        window.tabs->setCurrentIndex(tab.toInt());
    if (const QString cancelAt = option(args, "--cancel-at"); !cancelAt.isEmpty())
        QObject::connect(&window, &COstmereDlg::statusShown, &window, [&window, cancelAt](auto s) {
            if (s == cancelAt)
                window.cancelButton->click();
        });

    QElapsedTimer runTime;
    const bool timed = args.contains("--time");
    QObject::connect(&window, &COstmereDlg::operationFinished, &window, [&runTime, timed] {
        if (!timed)
            return;
        std::printf("%.3f\n", runTime.nsecsElapsed() / 1e9);
        QApplication::exit(0);
    });
    auto start = [&](QPushButton* action) {
        QTimer::singleShot(300, &window, [&runTime, action] {
            runTime.start();
            action->click();
        });
    };
    if (const QString dir = option(args, "--fingerprint"); !dir.isEmpty()) {
        window.tabs->setCurrentWidget(window.fingerPage);
        window.fingerPage->directory->setEditText(dir);
        start(window.fingerPage->fingerprint);
    } else if (const QString target = option(args, "--apply"); !target.isEmpty()) {
        window.tabs->setCurrentWidget(window.applyPage);
        window.applyPage->directory->setEditText(target);
        window.applyPage->patchFile->setEditText(option(args, "--apply", 2));
        window.applyPage->continueOnErrors->setChecked(args.contains("--continue-on-errors"));
        start(window.applyPage->applyPatch);
    }

    if (const QString file = option(args, "--screenshot"); !file.isEmpty()) {
        // Waits until the run is over or a message box is up, then lets the screen settle.
        auto* poll = new QTimer(&window);
        QObject::connect(poll, &QTimer::timeout, &window, [&window, poll, file] {
            if (window.isRunning() && !QApplication::activeModalWidget())
                return;
            poll->stop();
            QTimer::singleShot(700, &window, [&window, file] { saveScreen(window, file); });
        });
        QTimer::singleShot(500, poll, [poll] { poll->start(100); });
    }
    return app.exec();
}
