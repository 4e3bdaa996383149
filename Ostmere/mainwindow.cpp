#include "mainwindow.h"

#include "aboutpage.h"
#include "guithread.h"
#include "pages.h"
#include "registry.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QTabBar>
#include <QTabWidget>
#include <QUrl>
#include <QVBoxLayout>
#include <algorithm>
#include <climits>
#include <iostream>

namespace {

QLabel* makeStatusText(QWidget* parent) {
    auto* label = new QLabel(parent);
    label->setTextFormat(Qt::PlainText); // paths may hold '<'
    label->setWordWrap(true);
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    label->setMinimumHeight(2 * label->fontMetrics().height());
    label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    return label;
}

} // namespace

COstmereDlg::COstmereDlg(EngineCalls calls, QWidget* parent)
    : QWidget(parent), buffer_(new uint8_t[workBufferSize]), calls_(std::move(calls)) {
    setWindowTitle("Ostmere");
    auto* layout = new QVBoxLayout(this);
    tabs = new QTabWidget(this);
    tabs->setUsesScrollButtons(false); // all seven tabs stay in sight
    layout->addWidget(tabs, 1);

    auto* frame = new QGroupBox("Status", this);
    auto* grid = new QGridLayout(frame);
    statusLine = makeStatusText(frame);
    detailLine = makeStatusText(frame);
    progress = new QProgressBar(frame);
    progress->setTextVisible(false);
    progress->setRange(0, 1);
    progress->setValue(0);
    cancelButton = new QPushButton("Cancel", frame);
    cancelButton->setEnabled(false);
    grid->addWidget(statusLine, 0, 0, 1, 2);
    grid->addWidget(progress, 1, 0);
    grid->addWidget(cancelButton, 1, 1);
    grid->addWidget(detailLine, 2, 0, 1, 2);
    layout->addWidget(frame);
    // The button only raises the flag; the worker stops at its next sink call.
    connect(cancelButton, &QPushButton::clicked, this, [this] { cancel_ = true; });

    createPages();
    connect(tabs, &QTabWidget::currentChanged, this, &COstmereDlg::onTabChanged);
    tabs->setCurrentIndex(0);
    onTabChanged(0);
    loadHistories();
    detailLine->clear();
    statusLine->clear();
}

COstmereDlg::~COstmereDlg() {
    destroying_ = true;
    closePending_ = false;
    if (worker_.joinable()) {
        cancel_ = true;
        // The worker may be waiting for this thread to run a widget update.
        while (!workerDone_)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        if (worker_.joinable()) // the events above may have joined it already
            worker_.join();
    }
}

void COstmereDlg::createPages() {
    crPatchPage = new CDlgCrPatch;
    crVaultPatchPage = new CDlgCrVaultPatch;
    crVaultPage = new CDlgCrValut;
    applyPage = new CDlgApply;
    patchInfoPage = new CDlgPatchInfo;
    fingerPage = new CDlgFinger;
    helpPage = new CDlgHelp;
    tabs->addTab(crPatchPage, "Create Patch(Directory)");
    tabs->addTab(crVaultPatchPage, "Create Patch(Vault)");
    tabs->addTab(crVaultPage, "Create Vault File");
    tabs->addTab(applyPage, "Apply Patch");
    tabs->addTab(patchInfoPage, "Querry Patch");
    tabs->addTab(fingerPage, "Calculate Fingerprint");
    tabs->addTab(helpPage, "About");
    for (PageBase* page : std::initializer_list<PageBase*>{
             crPatchPage, crVaultPatchPage, crVaultPage, applyPage, patchInfoPage, fingerPage}) {
        pages_[page->operation()] = page;
        connect(page, &PageBase::actionRequested, this, &COstmereDlg::startWorker);
        connect(page, &PageBase::viewReportRequested, this, &COstmereDlg::viewReport);
    }
}

void COstmereDlg::loadHistories() {
    CRegistryReader reader;
    for (PageBase* page : std::initializer_list<PageBase*>{crPatchPage, crVaultPatchPage, applyPage,
                                                           patchInfoPage, crVaultPage, fingerPage})
        page->forEachItem(reader);
}

void COstmereDlg::onTabChanged(int index) {
    if (index == aboutTab)
        helpPage->startScrolling();
    else
        helpPage->stopScrolling();
}

void COstmereDlg::setMessageHandler(std::function<void(const QString&)> handler) {
    messageHandler_ = std::move(handler);
}

void COstmereDlg::setReportViewer(std::function<void(const QString&)> viewer) {
    reportViewer_ = std::move(viewer);
}

void COstmereDlg::viewReport(const QString& path) {
    if (reportViewer_)
        return reportViewer_(path);
    QDesktopServices::openUrl(QUrl::fromLocalFile(path));
}

template <typename F> void COstmereDlg::onGui(F&& fn) {
    runOnGuiThread(this, std::forward<F>(fn));
}

void COstmereDlg::startWorker(int operation) {
    if (worker_.joinable() || operation < 0 || operation >= operationCount)
        return;
    workerDone_ = false;
    worker_ = std::thread([this, operation] { runOperation(operation); });
}

void COstmereDlg::runOperation(int operation) {
    PageBase* page = pages_[operation];
    cancel_ = false;
    onGui([&] {
        lockTabs(true);
        cancelButton->setEnabled(true);
        CControlDisabler disabler;
        page->forEachItem(disabler);
    });
    CTimer timer;
    timer.start();
    try {
        EngineJob job;
        onGui([&] { job = page->prepare(calls_); });
        job(this);
        onGui([&] {
            CRegistryWriter writer;
            page->forEachItem(writer);
        });
    } catch (const std::u16string& text) {
        showMessage(text);
    } catch (const CTKErr& err) {
        showMessage(err.toStr());
    } catch (const COPCancel&) {
        cancel_ = false;
        // Without the cancel test: a second Cancel must not throw out of the handler.
        onGui([this] { showStatus("Cancelled"); });
    } catch (...) {
        showMessage(u"A general unknown error has occured.");
    }
    timer.stop();
    const QString completed = QString::fromStdU16String(u"Completed.  Time:" + timer.getTime());
    onGui([&] {
        detailLine->setText(completed);
        cancelButton->setEnabled(false);
        CControlEnabler enabler;
        page->forEachItem(enabler);
        lockTabs(false);
    });
    workerDone_ = true;
    QMetaObject::invokeMethod(
        this, [this] { finishWorker(); }, Qt::QueuedConnection);
}

// The bar is disabled for the look; the other tabs too, since Ctrl+Tab ignores the bar.
void COstmereDlg::lockTabs(bool locked) {
    tabs->tabBar()->setEnabled(!locked);
    for (int i = 0; i < tabs->count(); ++i)
        if (i != tabs->currentIndex())
            tabs->setTabEnabled(i, !locked);
}

void COstmereDlg::finishWorker() {
    if (!worker_.joinable())
        return;
    worker_.join();
    if (destroying_)
        return;
    emit operationFinished();
    if (closePending_) {
        closePending_ = false;
        close();
    }
}

// Closing during a run cancels it; the window closes once the worker has ended.
void COstmereDlg::closeEvent(QCloseEvent* event) {
    if (worker_.joinable()) {
        cancel_ = true;
        closePending_ = true;
        event->ignore();
        return;
    }
    helpPage->stopScrolling();
    event->accept();
}

void COstmereDlg::throwIfCancelled() {
    if (cancel_)
        throw COPCancel();
}

void COstmereDlg::showStatus(const QString& text) {
    statusLine->setText(text);
    emit statusShown(text);
}

void COstmereDlg::setStatus(const std::u16string& text) {
    const QString copy = QString::fromStdU16String(text);
    onGui([&] { showStatus(copy); });
    throwIfCancelled();
}

void COstmereDlg::setDetail(const std::u16string& text) {
    const QString copy = QString::fromStdU16String(text);
    onGui([&] { detailLine->setText(copy); });
    throwIfCancelled();
}

void COstmereDlg::showMessage(const std::u16string& text) {
    const QString copy = QString::fromStdU16String(text);
    onGui([&] {
        if (destroying_)
            return;
        if (messageHandler_)
            messageHandler_(copy);
        else
            QMessageBox::information(this, "Ostmere", copy, QMessageBox::Ok);
    });
}

void COstmereDlg::setProgressRange(uint32_t steps) {
    // A bar of range 0..0 would show a busy animation; an empty stage shows an empty bar.
    const int maximum = static_cast<int>(std::clamp<uint32_t>(steps, 1, INT_MAX));
    onGui([&] { progress->setRange(0, maximum); });
}

void COstmereDlg::resetProgress() {
    onGui([&] { progress->setValue(0); });
}

void COstmereDlg::stepProgress() {
    onGui([&] { progress->setValue(std::min(progress->value() + 1, progress->maximum())); });
    throwIfCancelled();
}

void COstmereDlg::trace(const std::u16string& line) {
    std::cout << utf16ToUtf8(line) << '\n';
}
