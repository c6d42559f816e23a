#include "cli/dispatch.h"

#include "cli/console.h"
#include "status/probe_operation.h"
#include "windows/setup/setup_operation.h"
#include "windows/process/worker_operation.h"
#include "windows/runner/run_operation.h"

namespace quarvel::cli {
namespace {

std::int32_t show_usage() {
    (void)write_standard_output(std::string(kUsageText) + "\n");
    return exit_code::success;
}

struct Operations {
    std::int32_t operator()(const Help&) const { return show_usage(); }
    std::int32_t operator()(const Probe& probe) const {
        return probe_operation(probe.state_dir, probe.status_file);
    }
    std::int32_t operator()(const Setup& setup) const {
        return report_setup(run_setup(setup.state_dir, setup.owner_sid), setup.status_file);
    }
    std::int32_t operator()(const Run& run) const {
        return run_operation(run.state_dir, run.policy, run.command);
    }
    std::int32_t operator()(const Worker& worker) const { return run_worker(worker.pipe); }
};

}  // namespace

std::int32_t dispatch(const Command& command) {
    return std::visit(Operations{}, command);
}

std::int32_t run_program(std::span<const WideString> arguments) {
    const auto command = parse_command_line(arguments);
    if (!command) {
        print_error_line(command.error());
        return command.error().exit_code;
    }
    return dispatch(*command);
}

}  // namespace quarvel::cli
