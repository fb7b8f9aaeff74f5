#include "window/form_widgets.h"

#include <QCheckBox>
#include <QSpinBox>

#include "session/captions.h"
#include "store/preferences.h"
#include "window/qt_ui_services.h"
#include "window/wrapped_text.h"

namespace vantory {

namespace {

QRect ToQRect(const main_form::Rect& r) {
    return QRect(r.left, r.top, r.width, r.height);
}

// Check boxes get the room their caption needs: as wide as the caption, centred on the
// rectangle's middle where it has room to grow, and at least as tall as the box.
void FitCheckBox(QCheckBox* box, QRect area, bool centred) {
    const QSize wanted = box->sizeHint();
    QRect rect = area;
    if (wanted.width() > rect.width()) {
        rect.setWidth(wanted.width());
        if (centred) {
            rect.moveLeft(area.center().x() - wanted.width() / 2);
        }
    }
    if (wanted.height() > rect.height()) {
        rect.setTop(area.center().y() - wanted.height() / 2);
        rect.setHeight(wanted.height());
    }
    box->setGeometry(rect);
}

}  // namespace

QWidget* BuildFormControl(const main_form::Control& control, QWidget* page,
                          const ProgramState& state) {
    using main_form::Kind;
    const QString caption = toQString(main_form::Caption(control, state));
    const QRect area = ToQRect(main_form::PageRect(control));
    QWidget* widget = nullptr;
    switch (control.kind) {
        case Kind::kButton: {
            auto* button = new WrappedButton(caption, page);
            // A focused button takes Enter itself; elsewhere Enter presses Run Selected File.
            button->setAutoDefault(true);
            widget = button;
            break;
        }
        case Kind::kHelpLabel: {
            auto* label = new HelpLabel(caption, page);
            QFont small = page->font();
            small.setPointSizeF(main_form::kHelpPointSize);
            label->setFont(small);
            widget = label;
            break;
        }
        case Kind::kCheckBox: {
            auto* box = new QCheckBox(caption, page);
            box->setObjectName(QString::fromLatin1(control.name));
            FitCheckBox(box, area, control.centred);
            return box;
        }
        case Kind::kMinutes: {
            auto* minutes = new QSpinBox(page);
            minutes->setRange(0, kMaxIdleLockMinutes);
            minutes->setSuffix(QString::fromLatin1(main_form::kIdleLockSuffix));
            minutes->setSpecialValueText(QString::fromLatin1(main_form::kIdleLockNever));
            minutes->setAccessibleName(QString::fromLatin1(kIdleLockHelp));
            // Typing "15" is one change, made when the user leaves the box or presses Enter.
            minutes->setKeyboardTracking(false);
            widget = minutes;
            break;
        }
    }
    widget->setObjectName(QString::fromLatin1(control.name));
    widget->setGeometry(area);
    return widget;
}

TabStrip::TabStrip(int width, QWidget* parent) : QTabWidget(parent) {
    setTabBar(new WrappedTabBar(width - 4, this));
}

}  // namespace vantory
