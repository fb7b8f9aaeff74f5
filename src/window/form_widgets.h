#pragma once

#include <QTabWidget>

#include "session/main_form.h"
#include "store/program_state.h"

namespace vantory {

// The widget of one control of the main form on its tab page: a wrapping button or help
// label, a check box or the idle-lock minutes, named, captioned and placed as the table says.
QWidget* BuildFormControl(const main_form::Control& control, QWidget* page,
                          const ProgramState& state);

// The tab strip, with its captions wrapped into tabs of equal width.
class TabStrip : public QTabWidget {
  public:
    TabStrip(int width, QWidget* parent);
};

}  // namespace vantory
