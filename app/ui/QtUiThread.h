#pragma once

#include <QObject>
#include <functional>

#include "app/engine/UiThread.h"

// The user-interface thread of the Qt application: tasks posted from any thread run in the
// event loop of the thread that made this object.
class CQtUiThread final : public QObject, public IUiThread {
public:
    void Post(std::function<void()> task) override {
        QMetaObject::invokeMethod(this, std::move(task), Qt::QueuedConnection);
    }
};
