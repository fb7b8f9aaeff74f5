#pragma once

#include <QObject>
#include <functional>
#include <string>
#include <vector>

namespace vantory {

// Files dragged from a file manager onto a widget: while `accepting` says yes, a drop of local
// files hands their paths to `dropped` as one selection. The paths are handed over once the
// drop has been answered, so the file manager is not kept waiting for the hide.
class FileDropFilter : public QObject {
  public:
    FileDropFilter(std::function<bool()> accepting,
                   std::function<void(const std::vector<std::string>&)> dropped, QObject* parent)
        : QObject(parent), accepting_(std::move(accepting)), dropped_(std::move(dropped)) {}

    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    std::function<bool()> accepting_;
    std::function<void(const std::vector<std::string>&)> dropped_;
};

// Keyboard and mouse input to any of the program's windows, told to `input`.
class InputWatch : public QObject {
  public:
    InputWatch(std::function<void()> input, QObject* parent)
        : QObject(parent), input_(std::move(input)) {}

    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    std::function<void()> input_;
};

}  // namespace vantory
