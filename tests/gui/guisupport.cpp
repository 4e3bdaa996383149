#include "guisupport.h"

#include "registry.h"

#include <QEventLoop>
#include <QTimer>
#include <fstream>
#include <sstream>

void GuiTest::makeTree(const fs::path& root,
                       const std::vector<std::pair<std::string, std::string>>& entries) {
    fs::create_directories(root);
    for (const auto& [rel, content] : entries) {
        const fs::path p = root / rel;
        if (!rel.empty() && rel.back() == '/') {
            fs::create_directories(p);
            continue;
        }
        fs::create_directories(p.parent_path());
        std::ofstream(p, std::ios::binary) << content;
    }
}

std::string GuiTest::readFile(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

void GuiTest::waitIdle(COstmereDlg& window) {
    // A plain event loop: every sink call of the worker waits for this thread to run it.
    // The timer is a safety cap only; every run in these tests ends well within it.
    QEventLoop loop;
    QObject::connect(&window, &COstmereDlg::operationFinished, &loop, &QEventLoop::quit);
    QTimer::singleShot(60000, &loop, &QEventLoop::quit);
    if (window.isRunning())
        loop.exec();
    ASSERT_FALSE(window.isRunning());
}

QStringList GuiTest::storedList(const QString& name) {
    QStringList list;
    CRegistry().readStringList(name, list);
    return list;
}

RecordingWindow::RecordingWindow(EngineCalls calls) : window(std::move(calls)) {
    window.setMessageHandler([this](MessageKind kind, const QString& text) {
        messages.append(text);
        kinds.push_back(kind);
    });
}

bool GuiTest::storedValueExists(const QString& name) {
    return QSettings(history::organisation, history::application).contains(name);
}
