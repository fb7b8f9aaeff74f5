#include "window/wrapped_text.h"

#include <QPainter>
#include <QRegularExpression>
#include <QStyleOptionButton>
#include <QStyleOptionTab>
#include <QStylePainter>
#include <QTextLayout>
#include <QTextOption>

#include <algorithm>
#include <cmath>

namespace vantory {

namespace {

QString withoutMnemonic(QString text) {
    // "&&" is a literal ampersand; a single '&' marks the mnemonic and takes no room.
    static const QRegularExpression marker(QStringLiteral("&(.)"));
    return text.replace(marker, QStringLiteral("\\1"));
}

QTextOption helpTextOption(Qt::Alignment alignment) {
    QTextOption option(alignment);
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    return option;
}

// Runs of this many spaces or more stand for a line break in a help text.
constexpr int kSpacesForBreak = 8;

}  // namespace

QString wrapCaption(const QString& caption, const QFontMetrics& metrics, int width) {
    const QStringList words = caption.split(QLatin1Char(' '), Qt::SkipEmptyParts);
    QStringList lines;
    QString line;
    for (const QString& word : words) {
        const QString candidate = line.isEmpty() ? word : line + QLatin1Char(' ') + word;
        if (line.isEmpty() || captionWidth(candidate, metrics) <= width) {
            line = candidate;
        } else {
            lines << line;
            line = word;
        }
    }
    if (!line.isEmpty()) {
        lines << line;
    }
    return lines.join(QLatin1Char('\n'));
}

int captionWidth(const QString& caption, const QFontMetrics& metrics) {
    return metrics.horizontalAdvance(withoutMnemonic(caption));
}

QRect WrappedButton::contentsArea() const {
    QStyleOptionButton option;
    initStyleOption(&option);
    return style()->subElementRect(QStyle::SE_PushButtonContents, &option, this);
}

QString WrappedButton::wrappedText() const {
    return wrapCaption(text(), fontMetrics(), contentsArea().width());
}

bool WrappedButton::textFits() const {
    const QFontMetrics metrics = fontMetrics();
    const QRect area = contentsArea();
    const QStringList lines = wrappedText().split(QLatin1Char('\n'));
    for (const QString& line : lines) {
        if (captionWidth(line, metrics) > area.width()) {
            return false;
        }
    }
    return static_cast<int>(lines.size()) * metrics.lineSpacing() <= area.height();
}

void WrappedButton::paintEvent(QPaintEvent*) {
    QStylePainter painter(this);
    QStyleOptionButton option;
    initStyleOption(&option);
    option.text = wrappedText();
    painter.drawControl(QStyle::CE_PushButton, option);
}

WrappedTabBar::WrappedTabBar(int totalWidth, QWidget* parent)
    : QTabBar(parent), totalWidth_(totalWidth) {
    setUsesScrollButtons(false);
    setElideMode(Qt::ElideNone);
    setExpanding(false);
}

int WrappedTabBar::textWidth() const {
    QStyleOptionTab option;
    const int space = style()->pixelMetric(QStyle::PM_TabBarTabHSpace, &option, this);
    return std::max(1, totalWidth_ / std::max(1, count()) - space);
}

QString WrappedTabBar::wrappedText(int index) const {
    return wrapCaption(tabText(index), fontMetrics(), textWidth());
}

bool WrappedTabBar::textFits(int index) const {
    const QStringList lines = wrappedText(index).split(QLatin1Char('\n'));
    for (const QString& line : lines) {
        if (captionWidth(line, fontMetrics()) > textWidth()) {
            return false;
        }
    }
    return tabRect(index).height() >= static_cast<int>(lines.size()) * fontMetrics().height();
}

QSize WrappedTabBar::tabSizeHint(int index) const {
    // Every tab as tall as the tallest caption needs, so the row stays even.
    int lines = 1;
    for (int i = 0; i < count(); ++i) {
        lines = std::max(lines, static_cast<int>(wrappedText(i).count(QLatin1Char('\n'))) + 1);
    }
    QStyleOptionTab option;
    initStyleOption(&option, index);
    const int space = style()->pixelMetric(QStyle::PM_TabBarTabVSpace, &option, this);
    const int n = std::max(1, count());
    const int width = totalWidth_ / n + (index < totalWidth_ % n ? 1 : 0);
    return QSize(width, lines * fontMetrics().height() + space);
}

void WrappedTabBar::paintEvent(QPaintEvent*) {
    QStylePainter painter(this);
    // The current tab last, so that it overlaps its neighbours.
    for (int pass = 0; pass < 2; ++pass) {
        for (int i = 0; i < count(); ++i) {
            if ((i == currentIndex()) != (pass == 1)) {
                continue;
            }
            QStyleOptionTab option;
            initStyleOption(&option, i);
            option.text = wrappedText(i);
            painter.drawControl(QStyle::CE_TabBarTab, option);
        }
    }
}

HelpLabel::HelpLabel(const QString& text, QWidget* parent) : QLabel(text, parent) {
    setTextFormat(Qt::PlainText);  // the folder it names is shown as it is
    setAlignment(Qt::AlignLeft | Qt::AlignTop);
    setWordWrap(true);
}

QString HelpLabel::displayedText() const {
    static const QRegularExpression longRun(QStringLiteral(" {%1,}").arg(kSpacesForBreak));
    return text().replace(longRun, QString(QChar::LineSeparator));
}

qreal HelpLabel::layOut(QTextLayout& layout) const {
    layout.setFont(font());
    layout.setText(displayedText());
    layout.setTextOption(helpTextOption(alignment()));
    const qreal width = contentsRect().width();
    qreal height = 0;
    layout.beginLayout();
    for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
        line.setLineWidth(width);
        line.setPosition(QPointF(0, height));
        height += line.height();
    }
    layout.endLayout();
    return height;
}

int HelpLabel::neededHeight() const {
    QTextLayout layout(QString(), font(), this);
    return static_cast<int>(std::ceil(layOut(layout))) + (height() - contentsRect().height());
}

void HelpLabel::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setPen(
        palette().color(isEnabled() ? QPalette::Active : QPalette::Disabled, foregroundRole()));
    QTextLayout layout(QString(), font(), this);
    layOut(layout);
    layout.draw(&painter, contentsRect().topLeft());
}

}  // namespace vantory
