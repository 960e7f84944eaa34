// Hooks between the parts of the simulation; not for product code or tests.
#pragma once

namespace winsim::detail {
void ResetRegistry();
void ResetEventLog();
}  // namespace winsim::detail
