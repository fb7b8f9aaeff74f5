#pragma once

#include <QLabel>
#include <QPushButton>
#include <QTabBar>

class QTextLayout;

namespace vantory {

// The words of a caption (mnemonic marks taking no room) spread greedily over lines no
// wider than `width`, joined by '\n'. A word wider than `width` gets a line of its own.
QString wrapCaption(const QString& caption, const QFontMetrics& metrics, int width);
// The caption's width as drawn, without its mnemonic marks.
int captionWidth(const QString& caption, const QFontMetrics& metrics);

// A push button whose caption wraps onto several lines, word by word, inside a fixed
// rectangle. text() stays the caption as given, mnemonic and all.
class WrappedButton : public QPushButton {
    Q_OBJECT

  public:
    using QPushButton::QPushButton;

    // The caption as drawn: the words of text() spread over lines that fit the width.
    QString wrappedText() const;
    // True when every line of the drawn caption fits inside the button's contents.
    bool textFits() const;

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    QRect contentsArea() const;
};

// A row of tabs that share a fixed total width equally; a caption too long for its tab
// wraps onto a second line. tabText() stays the caption as given.
class WrappedTabBar : public QTabBar {
    Q_OBJECT

  public:
    explicit WrappedTabBar(int totalWidth, QWidget* parent = nullptr);

    // The caption of tab `index` as drawn.
    QString wrappedText(int index) const;
    bool textFits(int index) const;

  protected:
    QSize tabSizeHint(int index) const override;
    QSize minimumTabSizeHint(int index) const override { return tabSizeHint(index); }
    void paintEvent(QPaintEvent* event) override;

  private:
    int textWidth() const;

    int totalWidth_;
};

// A small help text that wraps inside its rectangle. Words break at spaces, and a word
// wider than the label breaks where it must (long folder paths). A long run of spaces,
// meant to push what follows onto a line of its own, is drawn as a line break. text()
// stays the text as given.
class HelpLabel : public QLabel {
    Q_OBJECT

  public:
    explicit HelpLabel(const QString& text, QWidget* parent = nullptr);

    QString displayedText() const;
    // The height the wrapped text needs at the label's width.
    int neededHeight() const;
    bool textFits() const { return neededHeight() <= height(); }

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    // Lays the displayed text out at the label's width; returns the height it takes.
    qreal layOut(QTextLayout& layout) const;
};

}  // namespace vantory
