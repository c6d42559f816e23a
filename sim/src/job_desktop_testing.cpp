// Test inspection of the machine's jobs and desktops.

#include <winsim/testing.h>

#include "job_registry.h"
#include "machine.h"

namespace winsim {

std::string jobs_json() {
    return jobs_document();
}

std::string desktops_json() {
    return read_machine_state("desktops.json").dump();
}

}  // namespace winsim
