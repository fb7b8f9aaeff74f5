#include "window/event_watchers.h"

#include <QDropEvent>
#include <QMimeData>
#include <QUrl>

#include "window/qt_ui_services.h"

namespace vantory {

namespace {

std::vector<std::string> LocalFiles(const QMimeData* data) {
    std::vector<std::string> paths;
    if (data == nullptr) {
        return paths;
    }
    for (const QUrl& url : data->urls()) {
        if (url.isLocalFile()) {
            paths.push_back(pathFromQString(url.toLocalFile()));
        }
    }
    return paths;
}

}  // namespace

bool FileDropFilter::eventFilter(QObject* watched, QEvent* event) {
    switch (event->type()) {
        case QEvent::DragEnter:
        case QEvent::DragMove: {
            auto* drag = static_cast<QDragMoveEvent*>(event);
            if (accepting_() && !LocalFiles(drag->mimeData()).empty()) {
                drag->setDropAction(Qt::CopyAction);  // the file manager keeps its file
                drag->accept();
            } else {
                drag->ignore();
            }
            return true;
        }
        case QEvent::Drop: {
            auto* drop = static_cast<QDropEvent*>(event);
            std::vector<std::string> paths = LocalFiles(drop->mimeData());
            if (!accepting_() || paths.empty()) {
                drop->ignore();
                return true;
            }
            drop->setDropAction(Qt::CopyAction);
            drop->accept();
            QMetaObject::invokeMethod(
                this, [this, paths = std::move(paths)] { dropped_(paths); }, Qt::QueuedConnection);
            return true;
        }
        default:
            return QObject::eventFilter(watched, event);
    }
}

bool InputWatch::eventFilter(QObject* watched, QEvent* event) {
    switch (event->type()) {
        case QEvent::KeyPress:
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonDblClick:
        case QEvent::MouseMove:
        case QEvent::Wheel:
        case QEvent::TouchBegin:
        case QEvent::TouchUpdate:
        case QEvent::TabletPress:
            // Only what comes from the window system: Qt makes up moves of its own.
            if (event->spontaneous()) {
                input_();
            }
            break;
        default:
            break;
    }
    return QObject::eventFilter(watched, event);
}

}  // namespace vantory
