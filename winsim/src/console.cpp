// Consoles of the simulated Win32: screen buffers, input queues, Ctrl-C events.
#include "internal.h"

namespace winsim {

struct Console {};

namespace detail {

std::shared_ptr<Console> NewConsoleLocked() {
    return std::make_shared<Console>();
}

void AttachConsoleLocked(Process& process, std::shared_ptr<Console> console) {
    process.console = std::move(console);
}

}  // namespace detail
}  // namespace winsim
