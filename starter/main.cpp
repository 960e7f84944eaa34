// command-starter: the per-command service that starts an rexec command for the remote user.
#include "Reporter.h"
#include "Service.h"

extern const char* const kReporterName = "Orvane Command Starter";

int main() {
    return StarterMain();
}
