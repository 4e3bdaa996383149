// The main window: a tab page per operation and the About page, the status frame, and the
// progress sink through which a running operation reports back. Each operation runs on its
// own worker thread; the sink records the progress and the window shows it once per frame.
#pragma once

#include "OstmereEngine.h"
#include "enginecalls.h"
#include "messagebox.h"
#include "progressrelay.h"
#include "runending.h"

#include <QWidget>
#include <array>
#include <atomic>
#include <functional>
#include <memory>
#include <thread>

#include <QPointer>
#include <QTimer>

class QLabel;
class QProgressBar;
class QPushButton;
class QTabWidget;
class PageBase;
class CDlgCrPatch;
class CDlgCrVaultPatch;
class CDlgCrValut;
class CDlgApply;
class CDlgPatchInfo;
class CDlgFinger;
class CDlgHelp;

class COstmereDlg : public QWidget, public CProgressSink, public CTraceSink {
    Q_OBJECT
  public:
    static constexpr uint32_t workBufferSize = 2 * 1024 * 1024;
    static constexpr int aboutTab = 6;

    explicit COstmereDlg(EngineCalls calls = EngineCalls::engine(), QWidget* parent = nullptr);
    ~COstmereDlg();

    // Starts the operation on a worker unless one is running.
    void startWorker(int operation);
    bool isRunning() const { return worker_.joinable(); }
    // Opens an XML report in the desktop's viewer; nothing happens when that fails.
    void viewReport(const QString& path);

    // Replace the message box (OK button) and the report viewer, for example by recorders.
    using MessageHandler = std::function<void(MessageKind, const QString&)>;
    void setMessageHandler(MessageHandler handler);
    void setReportViewer(std::function<void(const QString&)> viewer);

    uint32_t getBufferSize() override { return workBufferSize; }
    uint8_t* getBuffer() override { return buffer_.get(); }
    void setStatus(const std::u16string& text) override;
    void setDetail(const std::u16string& text) override;
    void showMessage(const std::u16string& text) override;
    void setProgressRange(uint32_t steps) override;
    void resetProgress() override;
    void stepProgress() override;
    void trace(const std::u16string& line) override;

    // Wide enough for all tabs; the minimum stays narrower (the tab bar then scrolls).
    QSize sizeHint() const override;

    QTabWidget* tabs;
    QLabel* statusLine;
    QLabel* detailLine;
    QProgressBar* progress;
    QPushButton* cancelButton;
    CDlgCrPatch* crPatchPage;
    CDlgCrVaultPatch* crVaultPatchPage;
    CDlgCrValut* crVaultPage;
    CDlgApply* applyPage;
    CDlgPatchInfo* patchInfoPage;
    CDlgFinger* fingerPage;
    CDlgHelp* helpPage;

  signals:
    void statusShown(const QString& text); // each new status line, on the window's thread
    void operationFinished();              // the worker has ended and been joined

  protected:
    void closeEvent(QCloseEvent* event) override;

  private:
    void createPages();
    void loadHistories();
    void onTabChanged(int index);
    void runOperation(int operation);                        // worker thread
    RunEnding runJob(PageBase* page, std::u16string& error); // worker thread
    void endRun(PageBase* page, RunEnding ending, const QString& elapsed, bool removedOutput,
                const QString& output);
    void finishWorker();
    void showProgress();
    void publishProgress();
    void showBox(MessageKind kind, const QString& text);
    void lockTabs(bool locked);
    void throwIfCancelled();
    void showStatus(const QString& text);
    template <typename F> void onGui(F&& fn);

    std::unique_ptr<uint8_t[]> buffer_;
    std::array<PageBase*, 6> pages_{}; // by operation number
    EngineCalls calls_;
    MessageHandler messageHandler_;
    std::function<void(const QString&)> reportViewer_;
    std::atomic<bool> cancel_{false};
    std::atomic<bool> workerDone_{false};
    std::thread worker_;
    ProgressRelay relay_;
    QTimer frameTimer_;             // shows the relay's state while a run is going
    QPointer<QWidget> focusBefore_; // where the keyboard was when the run started
    bool unverified_ = false;       // worker only: the engine said the check after Apply failed
    bool closePending_ = false;
    bool destroying_ = false;
};
