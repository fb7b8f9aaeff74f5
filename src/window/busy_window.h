#pragma once

#include <QWidget>

#include "session/busy_progress.h"
#include "store/program_state.h"
#include "window/qt_clock.h"

class QLabel;
class QProgressBar;

namespace vantory {

// The small window shown while a long operation runs. It reads the progress counters and
// the busy flag of the program state at every tick of its timer, animates its caption, and
// closes (and deletes) itself at the first tick that finds the program no longer busy.
// It has no owner and stays out of the task bar.
//
// Once a large file is in hand, a line beneath the progress line says how much of it is done
// ("12 MiB of 40 MiB") for the rest of the window's life; while the operation has that one
// file, the bar follows its bytes.
class BusyWindow : public QWidget {
    Q_OBJECT

  public:
    static constexpr const char* kCaption = "Program is busy...";
    static constexpr const char* kNotice =
        "Be patient.  The file operations can be quite lengthy and memory-intensive.  Large "
        "files can take many minutes to complete.";

    explicit BusyWindow(const ProgramState& state);

    static constexpr const char* kClosingNote = "Vantory closes once this is done.";

    // One tick of Timer1: caption animation, progress line, and the close once not busy.
    void Timer1_Timer();

    // Says, on a line of its own beneath the progress bar, that the main window closes once
    // the command ends: the user asked for it to close while it was busy.
    void showClosingNote();

  private:
    // Places the lines that show beneath the progress line and fits the window to them.
    void arrange();

    const ProgramState& state_;
    QLabel* lblBusy_;
    QLabel* lblStatus_;
    QLabel* lblBytes_;
    QLabel* lblClosing_;
    QProgressBar* progressBar_;
    QtTimer Timer1_;
    BusyProgress progress_;
};

}  // namespace vantory
