// What the window gives the engine as soon as its library is linked into a program, before
// main runs: its message box and its operator. Linked as an object of its own into every
// program that links the window (a static library would drop a file nobody calls), so that
// a program, a test or a window made elsewhere gets the boxes without a set-up call.
#include "Functions_Core.h"
#include "Functions_Dialogs.h"

#include <QApplication>

namespace {

std::unique_ptr<cOperator> pWindow_Operator()
{
    return std::make_unique<cWindow_Operator>(QApplication::activeWindow());
}

const bool bHooks_Installed = [] {
    vInstall_Message_Box(iMessageBox_Window);
    vInstall_Operator_Maker(pWindow_Operator);
    return true;
}();

} // namespace
