// Starting the supervisor itself on the simulated PC.
//
// This is the one place where the sim names the core's WinMain. It is a file
// of its own so that a program linked without the core (the contract checks)
// does not pull it in from the static library and so needs no WinMain.
#include "sim_internal.h"

namespace sim {

int SimPc::StartSupervisor(const std::string& commandLine)
{
    impl_->RequireController("StartSupervisor");
    return impl_->StartProcess(commandLine, [](HINSTANCE instance, LPSTR arguments) {
        return WinMain(instance, NULL, arguments, SW_SHOWNORMAL);
    });
}

} // namespace sim
