#include "support/failure_catalogue.h"

#include <regex>
#include <vector>

namespace quarvel::testing {
namespace {

// Message endings: the Windows error of an os_failure, an I/O failure's system text, an
// HRESULT message (with or without a text in front of it).
#define WINDOWS_ERROR " Windows error [0-9]+\\."
#define IO(context) context ": .* \\(os error [0-9]+\\)"
#define HRESULT_TEXT "(.+ \\(0x[0-9A-F]{8}\\)|0x[0-9A-F]{8})"

constexpr CatalogueEntry kEntries[] = {
    // Status file.
    {"invalid_request", 64, "Status file has no parent directory\\."},
    {"io_error", 74, IO("Could not create status directory")},
    {"io_error", 74, IO("Could not write status file")},
    {"io_error", 74, IO("Could not publish status file")},
    {"io_error", 74, IO("Could not replace status file")},
    {"status_serialization_failed", 70, ".+"},
    // Policy and worker request.
    {"io_error", 74, IO("Could not read policy"), true},
    {"invalid_request", 64, "Invalid policy JSON: .+", true},
    {"invalid_request", 64, "Unsupported policy version: [0-9]+\\."},
    {"invalid_request", 64, "Policy field [a-z_]+ must be an absolute path\\."},
    {"invalid_request", 64, "Unsupported worker protocol version: [0-9]+\\."},
    {"invalid_request", 64, "Worker request has no command\\."},
    {"invalid_request", 64, "Worker request has no security identifiers\\."},
    // Setup state files.
    {"invalid_request", 64, "Protection settings directory must be an absolute path\\."},
    {"setup_required", 78, "Windows command protection has not been set up\\."},
    {"setup_required", 78, "Protection settings are invalid: .+"},
    {"setup_required", 78, "Windows command protection setup must be refreshed\\."},
    {"setup_required", 78,
     "Windows command protection accounts have changed and setup must be refreshed\\."},
    {"settings_serialization_failed", 70, ".+"},
    {"io_error", 74, IO("Could not write protection settings")},
    {"io_error", 74, IO("Could not replace protection settings")},
    {"io_error", 74, IO("Could not publish protection settings")},
    // Setup operation.
    {"token_open_failed", 70, "Could not open process identity\\." WINDOWS_ERROR},
    {"elevation_check_failed", 70, "Could not verify setup authorization\\." WINDOWS_ERROR},
    {"administrator_required", 70,
     "Windows command protection setup requires administrator approval\\."},
    {"io_error", 74, IO("Could not create protection settings directory")},
    {"io_error", 74, IO("Could not inspect protection settings directory")},
    {"reparse_path_rejected", 70, "Protection settings directory cannot be a symbolic link\\."},
    {"owner_lookup_failed", 70, "Could not size current account information\\." WINDOWS_ERROR},
    {"owner_lookup_failed", 70, "Could not read current account information\\." WINDOWS_ERROR},
    {"invalid_request", 64, "Owner SID must name a user account\\."},
    {"account_lookup_failed", 70, "Could not resolve owner account\\." WINDOWS_ERROR},
    {"system_clock_failed", 70, "second time provided was later than self"},
    // Protected accounts and group.
    {"group_setup_failed", 70, "Could not create protected account group: [0-9]+\\."},
    {"random_generation_failed", 70,
     "Could not generate protected account credential: -?[0-9]+\\."},
    {"account_setup_failed", 70, "Could not create protected account [A-Za-z]+: [0-9]+\\."},
    {"account_setup_failed", 70, "Could not update protected account [A-Za-z]+: [0-9]+\\."},
    {"account_group_failed", 70, "Could not add [A-Za-z]+ to protected account group: [0-9]+\\."},
    {"account_lookup_failed", 70, "Could not resolve built-in account group\\." WINDOWS_ERROR},
    // Credential protection.
    {"credential_protection_failed", 70, "Could not protect account credential\\." WINDOWS_ERROR},
    {"setup_required", 78, "Protected account credential is invalid\\."},
    {"credential_unprotect_failed", 70,
     "Could not unlock protected account credential\\." WINDOWS_ERROR},
    {"credential_decode_failed", 70, ".+"},
    // Account sign-in and profile.
    {"account_logon_failed", 70, "Could not sign in to protected command account\\." WINDOWS_ERROR},
    {"account_logon_failed", 70, "Could not open account token\\." WINDOWS_ERROR},
    {"account_verification_failed", 70,
     "Could not verify protected account (privileges|membership|identity)\\." WINDOWS_ERROR},
    // The groups Windows reports fall short of their own count: no call failed, so there is no
    // Windows error to add.
    {"account_verification_failed", 70, "Could not verify protected account privileges\\."},
    {"account_verification_failed", 70, "Protected command account has unsafe group membership\\."},
    {"system_command_unavailable", 70,
     "Windows system command is unavailable\\.(" WINDOWS_ERROR ")?"},
    {"profile_initialization_failed", 70,
     "Windows could not finish command protection setup\\.(" WINDOWS_ERROR ")?"},
    // Offline network rule.
    {"firewall_unavailable", 70, HRESULT_TEXT},
    {"firewall_rule_failed", 70, HRESULT_TEXT},
    {"firewall_rule_verify_failed", 70, HRESULT_TEXT},
    {"setup_required", 78, "Windows protection setup must refresh its network rule\\."},
    {"firewall_disabled", 78,
     "Windows Firewall is not enforcing the network rule for commands without network "
     "access\\."},
    // Run operation.
    {"invalid_request", 64, "Policy (cwd|runtime_dir) must be an existing directory\\."},
    {"invalid_request", 64, "(Writable|Readable) location does not exist: .+\\."},
    {"capability_sid_failed", 70, ".+"},
    {"io_error", 74, IO("Could not resolve (readable|writable) location .+")},
    {"io_error", 74, IO("Could not forward command (error )?output")},
    {"io_error", 74, IO("Could not create command temporary directory")},
    {"io_error", 74, IO("Could not resolve runtime directory")},
    {"io_error", 74, IO("Could not record workspace grants")},
    {"invalid_request", 64, "Policy runtime_dir must be separate from the workspace\\."},
    // Worker launch and supervision.
    {"io_error", 74, IO("Could not locate native helper")},
    {"worker_start_failed", 70,
     "Could not (create suspended|open) protected command worker( thread)?\\." WINDOWS_ERROR},
    {"job_create_failed", 70, "Could not create process job\\." WINDOWS_ERROR},
    {"job_configuration_failed", 70, "Could not secure process job\\." WINDOWS_ERROR},
    {"job_assignment_failed", 70,
     "Could not attach suspended process to its secured job\\." WINDOWS_ERROR},
    {"worker_resume_failed", 70,
     "Could not resume protected command worker after job assignment\\." WINDOWS_ERROR},
    {"worker_exit_failed", 70,
     "Could not (read protected command worker result|wait for protected command "
     "worker)\\." WINDOWS_ERROR},
    {"worker_exit_failed", 70, "Protected command worker exited with code [0-9]+\\."},
    {"worker_exit_failed", 70,
     "Protected command worker did not exit after reporting completion\\."},
    // Pipe channel and framing.
    {"ipc_acl_failed", 70,
     "Could not create protected communication access rules\\." WINDOWS_ERROR},
    {"ipc_create_failed", 70, "Could not create protected communication channel\\." WINDOWS_ERROR},
    {"worker_start_failed", 70, "Protected command worker exited before connecting\\."},
    {"ipc_connect_failed", 70, "Timed out waiting for protected command worker\\."},
    {"ipc_connect_failed", 70, "Could not connect protected command worker: [0-9]+\\."},
    {"ipc_connect_failed", 70,
     "Could not switch protected communication channel to blocking mode\\." WINDOWS_ERROR},
    {"ipc_connect_failed", 70, "Could not open protected communication channel: [0-9]+\\."},
    {"ipc_connect_failed", 70,
     "Timed out waiting for protected communication channel\\." WINDOWS_ERROR},
    {"ipc_connect_failed", 70, "Could not connect protected communication channel\\."},
    {"ipc_closed", 70, "Protected communication channel closed: 109\\."},
    {"ipc_read_failed", 70, "Protected communication channel closed: [0-9]+\\."},
    {"ipc_serialization_failed", 70, ".+"},
    {"invalid_request", 64, "Protected command message is too large\\."},
    {"invalid_request", 64, "Protected command message length is invalid\\."},
    {"invalid_request", 64, "Invalid protected command message: .+"},
    {"ipc_write_failed", 70,
     "Could not (write|flush) protected communication channel\\." WINDOWS_ERROR},
    {"ipc_write_failed", 70, "Protected communication channel accepted no data\\."},
    {"ipc_lock_failed", 70, "Protected communication lock failed\\."},
    // Worker operation.
    {"command_environment_failed", 70,
     "Could not set protected command temporary directory\\." WINDOWS_ERROR},
    {"worker_identity_failed", 70,
     "Could not (inspect protected command worker identity|inspect worker identity|size worker "
     "identity|read worker identity|verify protected command worker membership)\\." WINDOWS_ERROR},
    {"worker_identity_failed", 70,
     "Protected command worker (started under an unexpected account|is not in its required "
     "account group)\\."},
    {"stdio_pipe_failed", 70, "Protected std(out|err) was already consumed\\."},
    {"output_forward_failed", 70, "Protected command output worker stopped unexpectedly\\."},
    // Restricted command identity.
    {"token_open_failed", 70, "Could not open (protected )?account identity\\." WINDOWS_ERROR},
    {"token_logon_sid_failed", 70,
     "Could not (size|read) protected logon identity\\." WINDOWS_ERROR},
    {"token_logon_sid_failed", 70, "Protected logon identity is (invalid|unavailable)\\."},
    {"token_restriction_failed", 70,
     "Could not create restricted (command )?identity\\." WINDOWS_ERROR},
    {"token_restriction_failed", 70, "Windows did not mark the command identity as restricted\\."},
    {"token_privilege_failed", 70,
     "Could not (resolve|apply) protected command privileges\\." WINDOWS_ERROR},
    {"token_privilege_failed", 70, "Required protected command privileges are unavailable\\."},
    {"token_default_access_failed", 70, "Could not prepare protected object access: [0-9]+\\."},
    {"token_default_access_failed", 70, "Could not apply protected object access\\." WINDOWS_ERROR},
    // Private desktop.
    {"window_station_name_failed", 70,
     "Could not (access the current command window station|read the current command window "
     "station name)\\." WINDOWS_ERROR},
    {"window_station_name_failed", 70, "invalid utf-16: lone surrogate found"},
    {"window_station_name_failed", 70, "Current command window station name is invalid\\."},
    {"user_object_acl_failed", 70, "Could not prepare private command access: [0-9]+\\."},
    {"user_object_acl_failed", 70,
     "Could not (initialize|apply) private command access\\." WINDOWS_ERROR},
    {"desktop_create_failed", 70, "Could not create private command desktop\\." WINDOWS_ERROR},
    // Command process launch.
    {"stdio_pipe_failed", 70,
     "Could not (create protected command output channel|open command output channel|secure "
     "protected command output handle)\\." WINDOWS_ERROR},
    {"process_create_failed", 70,
     "Could not (create suspended protected command|open protected command "
     "process|open protected command thread)\\." WINDOWS_ERROR},
    {"process_resume_failed", 70,
     "Could not resume protected command after job assignment\\." WINDOWS_ERROR},
    {"process_wait_failed", 70, "Could not wait for protected command\\." WINDOWS_ERROR},
    {"process_status_failed", 70, "Could not read protected command result\\." WINDOWS_ERROR},
    {"invalid_request", 64, "Command is empty\\."},
    // Security identifiers and random values.
    {"random_generation_failed", 70, "Could not generate secure random value: -?[0-9]+\\."},
    {"invalid_sid", 70, "Could not parse security identifier\\." WINDOWS_ERROR},
    {"sid_copy_failed", 70, "Could not (read|copy) security identifier\\." WINDOWS_ERROR},
    {"sid_conversion_failed", 70, "Could not format security identifier\\." WINDOWS_ERROR},
    // Path access rules.
    {"account_lookup_failed", 70,
     "Could not (size|resolve) account security identifier\\." WINDOWS_ERROR},
    {"io_error", 74, IO("Could not inspect (protected path|command runtime directory)")},
    {"reparse_path_rejected", 70, "Protected path cannot be a symbolic link: .+\\."},
    {"reparse_path_rejected", 70, "Protected path changed after it was resolved: .+\\."},
    {"reparse_path_rejected", 70, "Command runtime directory cannot be a symbolic link\\."},
    {"acl_read_failed", 70, "Could not read access rules for .+: [0-9]+\\."},
    {"acl_update_failed", 70, "Could not (prepare|apply) access rules for .+: [0-9]+\\."},
    {"state_acl_failed", 70,
     "Could not (prepare protected directory access|protect directory access): [0-9]+\\."},
    {"runtime_acl_failed", 70,
     "Could not (prepare protected directory access|protect directory access): [0-9]+\\."},
    {"acl_lock_failed", 70, "Could not open command protection access lock\\." WINDOWS_ERROR},
    {"acl_lock_failed", 70, "Could not acquire command protection access lock\\."},
    // Beyond the tables: the entry's own reading of its command line, and the runner's check
    // that the client at the other end of its pipe is the worker it started.
    {"command_line_unavailable", 70, "Could not read the process command line\\." WINDOWS_ERROR,
     true},
    {"worker_start_failed", 70, "Could not identify protected command worker\\." WINDOWS_ERROR},
    {"worker_start_failed", 70, "Protected communication channel was opened by another process\\."},
};

#undef WINDOWS_ERROR
#undef IO
#undef HRESULT_TEXT

struct CompiledEntry {
    CatalogueEntry entry;
    std::regex message;
};

const std::vector<CompiledEntry>& compiled() {
    static const std::vector<CompiledEntry> entries = [] {
        std::vector<CompiledEntry> all;
        for (const auto& entry : kEntries)
            all.push_back({entry, std::regex(entry.message.begin(), entry.message.end())});
        return all;
    }();
    return entries;
}

}  // namespace

std::optional<CatalogueEntry> catalogued_failure(std::string_view code, std::string_view message) {
    for (const auto& [entry, pattern] : compiled())
        if (entry.code == code && std::regex_match(message.begin(), message.end(), pattern))
            return entry;
    return std::nullopt;
}

bool is_status_publication_failure(std::string_view code, std::string_view message) {
    static const std::regex publication(
        "(Could not (create status directory|write status file|publish status file|replace "
        "status file): .*|Status file has no parent directory\\.)");
    return (code == "io_error" || code == "invalid_request") &&
           std::regex_match(message.begin(), message.end(), publication);
}

}  // namespace quarvel::testing
