// Test inspection of the machine's jobs and desktops.

#include <winsim/testing.h>

#include "machine/machine.h"
#include "processes/job_registry.h"

namespace winsim {

std::string jobs_json() {
    return jobs_document();
}

std::string desktops_json() {
    return read_machine_state("desktops.json").dump();
}

std::string input_desktop() {
    return read_machine_state("input_desktop.json").value("input", std::string());
}

}  // namespace winsim
