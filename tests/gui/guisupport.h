// Helpers for the window tests: a private settings store and scratch folder per test, and
// waiting for a run to end.
#pragma once

#include "mainwindow.h"

#include <QSettings>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <QtTest/QTest>
#include <filesystem>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace fs = std::filesystem;

class GuiTest : public testing::Test {
  protected:
    GuiTest() {
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, settingsDir_.path());
        QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, settingsDir_.path());
    }

    fs::path work(const std::string& name) const {
        return fs::path(workDir_.path().toStdString()) / name;
    }
    static QString q(const fs::path& p) { return QString::fromStdString(p.string()); }

    // Writes files ("rel" -> content); a name ending in '/' makes a directory.
    static void makeTree(const fs::path& root,
                         const std::vector<std::pair<std::string, std::string>>& entries);
    static std::string readFile(const fs::path& p);

    // Runs the event loop until the worker has ended and been joined.
    static void waitIdle(COstmereDlg& window);

    // The stored history of one value name; empty when nothing readable is stored.
    static QStringList storedList(const QString& name);
    static bool storedValueExists(const QString& name);

  private:
    QTemporaryDir settingsDir_;
    QTemporaryDir workDir_;
};

// A window whose message boxes are recorded instead of shown.
struct RecordingWindow {
    explicit RecordingWindow(EngineCalls calls = EngineCalls::engine());
    COstmereDlg window;
    QStringList messages;
    std::vector<MessageKind> kinds; // one per message
};

// Readable failure output for Qt strings.
inline void PrintTo(const QString& text, std::ostream* os) {
    *os << '"' << text.toStdString() << '"';
}
