#include "main/recovery.h"

#include "main/change_password.h"
#include "main/run_command.h"
#include "platform/platform.h"
#include "store/move_journal.h"

namespace vantory {

void FinishInterruptedMoves(CommandContext& context) {
    const auto outcome =
        CompleteInterruptedMoves(context.state, context.catalogue, platform::movePath, context.ui);
    if (!outcome || outcome->status.ok()) {
        return;
    }
    context.ui.messageBox(
        "Vantory could not finish moving its stored files after it was interrupted (" +
            outcome->status.message() + "). The record of the moves is kept in " +
            JournalPath(context.state) +
            " and Vantory tries again at its next start; no file has been removed.",
        UiServices::kExclamation, "Interrupted operation");
}

void RecoverInterruptedWork(CommandContext& context) {
    FinishInterruptedMoves(context);
    FinishInterruptedPasswordChange(context);
    RecoverTemporaryFiles(context);
}

}  // namespace vantory
