// Running a piece of code on the thread that owns a widget and waiting until it has run.
#pragma once

#include <QMetaObject>
#include <QObject>
#include <QThread>
#include <utility>

template <typename F> void runOnGuiThread(QObject* owner, F&& fn) {
    if (QThread::currentThread() == owner->thread())
        fn();
    else
        QMetaObject::invokeMethod(owner, std::forward<F>(fn), Qt::BlockingQueuedConnection);
}
