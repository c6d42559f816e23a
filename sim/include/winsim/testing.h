#pragma once
// Test-only controls of the simulated host: fault injection and inspection. Production code
// never includes this header.

#include <winsim/types.h>

#include <cstdint>
#include <string>
#include <string_view>

namespace winsim {

enum class FaultKind {
    // The call fails. `value` is the last error for calls that report through GetLastError, and
    // the returned status for calls that return one (NTSTATUS, HRESULT, NET_API_STATUS, the
    // DWORD result of the ACL calls).
    fail,
    // The call succeeds but hands back the odd result that some callers must still check: a
    // null handle, zero bytes transferred, a zero size, ERROR_NOT_ALL_ASSIGNED. Each call that
    // supports a quirk documents which one in sim/README.md.
    quirk,
    // The process stops in the call and stays there until it is killed: a test that must end a
    // process at an exact point (after its first grant, in its release) waits for the call log
    // line "<role> <function> paused" and then kills it. `value` is not used. Any call that
    // takes a fault can pause.
    pause,
};

struct Fault {
    std::string function;
    std::uint64_t nth_call = 1;  // 1 = the next call of `function` after arming
    std::uint32_t value = 0;
    FaultKind kind = FaultKind::fail;
};

// Arms one fault in this process. Faults can also be armed for a whole process through the
// environment variable WINSIM_FAULTS ("Function:nth:value[:quirk|:pause],..."), which the simulated
// host reads at the first simulated call and then removes so that children do not inherit it.
// `function` may name a role ("role/Function": armed by the first descendant whose first
// argument is `role`, passed on to every child until then) and the kind of object
// ("Function@Process": only calls on that kind of object). WINSIM_CALL_LOG=<path> makes every
// process append "<role> <function>[@kind]" for each call that can take a fault.
// The call that took a fault is logged with " fault" after it.
void inject_fault(Fault fault);
void inject_fault(std::string_view function, std::uint32_t value, std::uint64_t nth_call = 1,
                  FaultKind kind = FaultKind::fail);
// The same, with the calls of `fault.function` counted only after the `anchor_nth` call of
// `anchor` ("Function[@kind]"): a call that follows a loop of varying length is hit by its place
// after a call that happens once. In WINSIM_FAULTS: "...:nth:value[:quirk]:after=Anchor#n".
void inject_fault_after(Fault fault, std::string_view anchor, std::uint64_t anchor_nth = 1);
void clear_faults();
// Faults armed but not yet hit.
std::size_t pending_fault_count();

// Handles open in this process's table (standard handles included once created).
std::size_t open_handle_count();
// LocalAlloc blocks (including those the simulated host allocates for the caller, such as
// CommandLineToArgvW's) not yet released with LocalFree.
std::size_t outstanding_local_allocations();

// The directory of the simulated machine this process uses.
std::string machine_directory();

// ---------------------------------------------------------------- identities
// Tokens travel as JSON text in the form documented in sim/src/token.h:
//   {"user": "S-1-5-21-...-1001", "groups": [{"sid": "S-1-1-0", "attributes": 7}, ...],
//    "privileges": [{"name": "SeChangeNotifyPrivilege", "attributes": 3}, ...],
//    "restricting_sids": [...], "elevated": false, "write_restricted": false,
//    "limited_user": false, "default_dacl": null or [{"type": 0, "flags": 0,
//    "mask": 268435456, "sid": "..."}], "primary": true, "impersonation_level": 0}
// A process runs as the token in its environment variable WINSIM_TOKEN (kTokenVariable);
// without one it is the machine's interactive administrator, elevated. To start a child as
// another identity, put the JSON of its token into the child's WINSIM_TOKEN.
inline constexpr const char* kTokenVariable = "WINSIM_TOKEN";

// The token of a fresh sign-in of the local account `name` (a new logon session); "" when the
// machine has no such account. An administrator's token is filtered unless `elevated`.
std::string account_token_json(std::string_view name, bool elevated = false);
// The interactive administrator's token, elevated or filtered (Administrators deny-only,
// standard-user privileges).
std::string administrator_token_json(bool elevated);
// Whether processes started from a shell run elevated (the machine's default: true).
void set_interactive_elevation(bool elevated);

// From now on this process runs as the token: OpenProcessToken and the access checks see it.
void set_process_token_json(std::string_view token_json);
// A handle to a new token object with this state, in this process's handle table.
HANDLE create_token_handle(std::string_view token_json);

// The machine's account store ("accounts.json" in the machine directory) as JSON text.
std::string accounts_json();
// A local group or user of that name, made when missing; returns its SID text.
std::string ensure_local_group(std::string_view name);
std::string ensure_local_user(std::string_view name, std::string_view password);
// Adds a member (by SID text) to a local group, or removes it.
void add_local_group_member(std::string_view group, std::string_view member_sid);
void remove_local_group_member(std::string_view group, std::string_view member_sid);

// What an administrator, or Windows, can do to a local account outside the program: change its
// password, disable it (or enable it again), lock it out as the account lockout policy does after
// failed sign-ins (or unlock it), set its USER_INFO_1 flags outright, deny it interactive sign-in
// (SeDenyInteractiveLogonRight), delete it with its group memberships (an account made again
// under the name gets a new SID).
void set_local_user_password(std::string_view name, std::string_view password);
void set_local_user_disabled(std::string_view name, bool disabled);
void set_local_user_locked_out(std::string_view name, bool locked_out);
void set_local_user_flags(std::string_view name, DWORD flags);
void deny_interactive_logon(std::string_view name);
void delete_local_user(std::string_view name);
// Gives the local group with this SID another name, as a localised Windows names its built-in
// groups ("Benutzer" for S-1-5-32-545).
void rename_local_group(std::string_view sid, std::string_view name);
// Moves the machine's Windows folder (default C:\Windows); the next GetSystemDirectoryW puts
// the cmd.exe stand-in into its System32.
void set_windows_directory(std::string_view windows_path);

// The simulated host's access check, as the objects it guards apply it: whether the token
// (JSON) is granted all of `desired` by the DACL (JSON: null for none, or a list of
// {"type", "flags", "mask", "sid"} entries); `write_rights` are the object type's write rights,
// which alone a write-restricted token's restricting SIDs are checked for.
bool evaluate_access(std::string_view token_json, std::string_view dacl_json, DWORD desired,
                     DWORD write_rights);

}  // namespace winsim

// ---------------------------------------------------------------- jobs and desktops
namespace winsim {

// The machine's jobs as JSON text: {"jobs": {"<id>": {"kill_on_close": bool, "owner": pid,
// "members": [{"pid": n, "start": clock ticks}, ...]}, ...}, "next": n}. A job is listed while
// a handle to it is open.
// Each job also lists its "holders" (pid and start, like "members"): the processes with a handle
// to it; the job ends when the last of them lets go or ends, however it ends.
std::string jobs_json();

// The machine's desktops as JSON text: {"WinSta0\\<name>": {"dacl": null or [{"type": 0,
// "flags": 0, "mask": n, "sid": "S-1-..."}, ...], "owner": "S-1-...", "creator": pid}, ...}. A
// desktop is listed while its creator's handle is open (the Default desktop never is).
std::string desktops_json();
// The desktop that the last successful SwitchDesktop made the input desktop, as
// "<station>\<name>"; "" when no process switched.
std::string input_desktop();

// Every console window that process creation opened on the machine, in order, as JSON text:
// [{"process_id": n, "command_line": "...", "shown": bool, "show_window": n}, ...]. A process
// started with a console of its own has one (CreateProcessWithLogonW always gives its child one);
// "shown" is false only for STARTF_USESHOWWINDOW with SW_HIDE.
std::string console_windows_json();

}  // namespace winsim

// ---------------------------------------------------------------- COM, firewall, clock
namespace winsim {

// COM objects the simulated host handed out (firewall objects, error objects) and not yet
// released for the last time, and BSTRs not yet freed.
std::size_t live_com_objects();
std::size_t outstanding_bstrs();
// Safe arrays (SafeArrayCreateVector, and those the firewall objects hand out in a VARIANT) not
// yet destroyed.
std::size_t outstanding_safe_arrays();
// How many successful CoInitializeEx calls of the calling thread are not yet balanced.
unsigned com_initialization_depth();
// Calls on firewall objects (AddRef and Release included) made, since the process started,
// from a thread outside any apartment: an object used or released after CoUninitialize.
std::size_t com_calls_outside_apartment();
// The next failure of that COM method ("INetFwRules::Add"), injected or not, also leaves an
// error object with this description (UTF-8) for its thread, as SetErrorInfo does.
void describe_next_failure_of(std::string_view method, std::string_view description);

// The machine's firewall rules as JSON text, in the form documented in sim/src/firewall_store.h:
// [{"id": 1, "name": "...", "direction": 2, "action": 0, "enabled": true,
//   "local_user_authorized_list": "O:LSD:(A;;CC;;;S-1-5-...)", ...}, ...]
std::string firewall_rules_json();
// Changes the first rule of that name: the members of `changes_json` (a JSON object) replace
// the rule's; throws std::invalid_argument when there is no such rule.
void change_firewall_rule(std::string_view name, std::string_view changes_json);
// Adds a rule: the properties of a new rule object, with the members of `properties_json`.
void add_firewall_rule(std::string_view properties_json);
// Removes every rule of that name.
void remove_firewall_rules(std::string_view name);

// The firewall's own settings as JSON text: {"current_profiles": 4, "enabled_profiles": 7,
// "local_policy_modify_state": 0}: the NET_FW_PROFILE_TYPE2 bits of the profiles of the networks
// the machine is on, the bits of the profiles whose firewall is on, and what
// INetFwPolicy2::get_LocalPolicyModifyState answers (NET_FW_MODIFY_STATE).
std::string firewall_policy_json();
// The members of `changes_json` (a JSON object) replace the settings'.
void change_firewall_policy(std::string_view changes_json);

// From now on every process of the machine reads this time (100-nanosecond intervals since
// 1601-01-01 UTC) from GetSystemTimeAsFileTime; use_host_clock goes back to the real time.
void set_system_clock(std::uint64_t filetime);
void use_host_clock();

}  // namespace winsim
// ---------------------------------------------------------------- file security and reparse points
namespace winsim {

// The process's role, as faults and the call log name it: its first argument after the program
// name ("setup", "run", "__worker", ...); empty for a process started without one.
const std::string& process_role();

// How many objects the last SetNamedSecurityInfoW of this process visited: the object and,
// for a new DACL on a directory, every descendant it propagated to (the cost of a grant on a
// large tree). 0 before the first.
std::uint64_t last_security_write_visits();

// Test-only reparse points, made at the Windows path `link` (which must not exist):
// a directory junction (IO_REPARSE_TAG_MOUNT_POINT) or a symbolic link
// (IO_REPARSE_TAG_SYMLINK) to the Windows path `target`. ERROR_SUCCESS or the Windows error.
DWORD make_directory_junction(std::u16string_view link, std::u16string_view target);
DWORD make_symbolic_link(std::u16string_view link, std::u16string_view target);
// Makes an existing file or directory a reparse point with `tag`, one whose filter is present
// so that it opens as itself (a tag without the name-surrogate bit 0x20000000, such as
// 0x80000013, a deduplicated file).
DWORD set_reparse_tag(std::u16string_view path, DWORD tag);

}  // namespace winsim

namespace winsim {
// The token this process runs as, in the JSON form above (to restore it after
// set_process_token_json).
std::string process_token_json();
}  // namespace winsim
