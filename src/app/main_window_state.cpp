#include "app/main_window_state.h"

namespace torvane {

MainWindowState& MainWindowState::Instance()
{
    static MainWindowState state;
    return state;
}

}  // namespace torvane
