#include "mainwindow.h"

#include "aboutpage.h"
#include "guithread.h"
#include "pages.h"
#include "registry.h"
#include "windowicon.h"

#include <QApplication>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QStyle>
#include <QTabBar>
#include <QTabWidget>
#include <QUrl>
#include <QVBoxLayout>
#include <algorithm>
#include <iostream>

namespace {

QLabel* makeStatusText(QWidget* parent) {
    auto* label = new QLabel(parent);
    label->setTextFormat(Qt::PlainText); // paths may hold '<'
    label->setWordWrap(true);
    // A long path without blanks is cut off instead of widening the window.
    label->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    label->setMinimumHeight(2 * label->fontMetrics().height());
    label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    return label;
}

} // namespace

COstmereDlg::COstmereDlg(EngineCalls calls, QWidget* parent)
    : QWidget(parent), buffer_(new uint8_t[workBufferSize]), calls_(std::move(calls)) {
    setWindowTitle("Ostmere");
    setWindowIcon(ostmereIcon());
    auto* layout = new QVBoxLayout(this);
    tabs = new QTabWidget(this);
    // The window opens wide enough for all seven tabs; on a narrow screen it may be made
    // narrower, and the tab bar scrolls instead of forcing the width.
    tabs->setUsesScrollButtons(true);
    layout->addWidget(tabs, 1);

    auto* frame = new QGroupBox("Status", this);
    auto* grid = new QGridLayout(frame);
    statusLine = makeStatusText(frame);
    detailLine = makeStatusText(frame);
    progress = new QProgressBar(frame);
    progress->setTextVisible(false);
    progress->setRange(0, 1);
    progress->setValue(0);
    cancelButton = new QPushButton("&Cancel", frame);
    cancelButton->setEnabled(false);
    grid->addWidget(statusLine, 0, 0, 1, 2);
    grid->addWidget(progress, 1, 0);
    grid->addWidget(cancelButton, 1, 1);
    grid->addWidget(detailLine, 2, 0, 1, 2);
    layout->addWidget(frame);
    // The button only raises the flag; the worker stops at its next sink call.
    connect(cancelButton, &QPushButton::clicked, this, [this] { cancel_ = true; });
    frameTimer_.setInterval(ProgressRelay::frame);
    connect(&frameTimer_, &QTimer::timeout, this, &COstmereDlg::showProgress);

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

QSize COstmereDlg::sizeHint() const {
    QSize hint = QWidget::sizeHint();
    const QMargins margins = layout()->contentsMargins();
    // The slack keeps the scroll buttons away at exactly this width.
    const int allTabs = tabs->tabBar()->sizeHint().width() + margins.left() + margins.right() + 24;
    hint.setWidth(std::max(hint.width(), allTabs));
    return hint;
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

void COstmereDlg::setMessageHandler(MessageHandler handler) {
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
    focusBefore_ = QApplication::focusWidget();
    relay_.restart();
    frameTimer_.start();
    worker_ = std::thread([this, operation] { runOperation(operation); });
}

void COstmereDlg::runOperation(int operation) {
    PageBase* page = pages_[operation];
    cancel_ = false;
    unverified_ = false;
    std::u16string outputPath;
    onGui([&] {
        lockTabs(true);
        cancelButton->setEnabled(true);
        CControlDisabler disabler;
        page->forEachItem(disabler);
        outputPath = page->outputFile();
    });
    CTimer timer;
    timer.start();
    PartialOutput output(outputPath);
    std::u16string error;
    const RunEnding ending = runJob(page, error);
    timer.stop();
    const bool removed = ending != RunEnding::succeeded && output.removeIfCreated();
    const QString elapsed = QString::fromStdU16String(timer.getTime());
    onGui([&] { endRun(page, ending, elapsed, removed, output.displayPath()); });
    // The box comes after the status lines, so that they tell the ending behind it.
    if (ending == RunEnding::failed)
        showMessage(error);
    workerDone_ = true;
    QMetaObject::invokeMethod(
        this, [this] { finishWorker(); }, Qt::QueuedConnection);
}

RunEnding COstmereDlg::runJob(PageBase* page, std::u16string& error) {
    try {
        EngineJob job;
        onGui([&] { job = page->prepare(calls_); });
        job(this);
        if (unverified_)
            return RunEnding::notVerified;
        onGui([&] {
            CRegistryWriter writer;
            page->forEachItem(writer);
        });
        return RunEnding::succeeded;
    } catch (const std::u16string& text) {
        error = text;
    } catch (const CTKErr& err) {
        error = err.toStr();
    } catch (const COPCancel&) {
        cancel_ = false;
        return RunEnding::cancelled;
    } catch (...) {
        error = u"A general unknown error has occured.";
    }
    return RunEnding::failed;
}

// On the window's thread: the last progress first, then what the ending says over it.
void COstmereDlg::endRun(PageBase* page, RunEnding ending, const QString& elapsed,
                         bool removedOutput, const QString& output) {
    frameTimer_.stop();
    showProgress();
    if (ending == RunEnding::succeeded) {
        progress->setValue(progress->maximum());
    } else {
        progress->setValue(0);
        QString status = endingStatus(ending, tabs->tabText(tabs->indexOf(page)));
        if (removedOutput)
            status += " The unfinished patch file was removed: " + output;
        showStatus(status);
    }
    detailLine->setText(endingDetail(ending, elapsed.toStdU16String()));
    if (ending == RunEnding::notVerified)
        showBox(MessageKind::warning, unverifiedApplyWarning(applyPage->directory->currentText()));
    cancelButton->setEnabled(false);
    CControlEnabler enabler;
    page->forEachItem(enabler);
    lockTabs(false);
    if (focusBefore_ && focusBefore_->isEnabled())
        focusBefore_->setFocus();
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

void COstmereDlg::showProgress() {
    const auto view = relay_.take();
    if (!view)
        return;
    if (view->status)
        showStatus(*view->status);
    if (view->detail)
        detailLine->setText(*view->detail);
    if (progress->maximum() != view->maximum)
        progress->setRange(0, view->maximum);
    progress->setValue(view->position);
}

// The worker waits for the window at most once per frame; in between the frame timer shows
// what a long engine step left behind.
void COstmereDlg::publishProgress() {
    if (relay_.frameDue())
        onGui([this] { showProgress(); });
}

void COstmereDlg::setStatus(const std::u16string& text) {
    if (isUnverifiedApplyStatus(text))
        unverified_ = true;
    relay_.setStatus(text);
    publishProgress();
    throwIfCancelled();
}

void COstmereDlg::setDetail(const std::u16string& text) {
    relay_.setDetail(text);
    publishProgress();
    throwIfCancelled();
}

void COstmereDlg::showMessage(const std::u16string& text) {
    const QString copy = displayPaths(QString::fromStdU16String(text));
    onGui([&] { showBox(MessageKind::error, copy); });
}

void COstmereDlg::showBox(MessageKind kind, const QString& text) {
    if (destroying_)
        return;
    if (messageHandler_)
        return messageHandler_(kind, text);
    MessageBox box(kind, text, this);
    box.exec();
}

void COstmereDlg::setProgressRange(uint32_t steps) {
    relay_.setRange(steps);
}

void COstmereDlg::resetProgress() {
    relay_.reset();
}

void COstmereDlg::stepProgress() {
    relay_.step();
    publishProgress();
    throwIfCancelled();
}

void COstmereDlg::trace(const std::u16string& line) {
    std::cout << utf16ToUtf8(line) << '\n';
}
