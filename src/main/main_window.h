#pragma once

#include <QMainWindow>

#include "store/program_state.h"

namespace vantory {

inline constexpr const char* kProductName = "Corvantis Vantory";
inline constexpr int kVersionMajor = 1;
inline constexpr int kVersionMinor = 0;

// The working window, opened after a right password.
class MainWindow : public QMainWindow {
    Q_OBJECT

public:
    MainWindow(ProgramState& state, UiServices& ui, QWidget* parent = nullptr);

private:
    ProgramState& state_;
    UiServices& ui_;
};

}  // namespace vantory
