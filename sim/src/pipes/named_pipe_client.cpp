#include "pipes/named_pipe_client.h"

#include <winsim/kernel.h>
#include <winsim/pipes.h>
#include <winsim/security_descriptor.h>

#include <cerrno>

#include "machine/fd_object.h"
#include "pipes/named_pipe_registry.h"
#include "pipes/named_pipe_server.h"
#include "security/access_check.h"
#include "security/security_descriptor.h"

namespace winsim {
namespace {

constexpr DWORD kOpenExisting = 3;
constexpr DWORD kFileFlagOverlapped = 0x40000000;

class NamedPipeClient : public NamedPipeEnd {
  public:
    NamedPipeClient(int fd, FileLock claim, bool can_read, bool can_write)
        : NamedPipeEnd(can_read, can_write, false), claim_(std::move(claim)) {
        attach(fd);
    }

  private:
    FileLock claim_;  // this client holds the instance until its handle closes
};

HANDLE failed(DWORD error) {
    SetLastError(error);
    return INVALID_HANDLE_VALUE;
}

}  // namespace

bool is_named_pipe_name(std::u16string_view name) {
    return pipe_key(name).has_value();
}

HANDLE open_named_pipe_client(std::u16string_view name, DWORD desired_access,
                              DWORD creation_disposition, DWORD flags_and_attributes) {
    const auto key = pipe_key(name);
    if (!key)
        return failed(ERROR_FILE_NOT_FOUND);
    if (creation_disposition != kOpenExisting)
        return failed(ERROR_INVALID_PARAMETER);
    if ((flags_and_attributes & kFileFlagOverlapped) != 0)
        return failed(ERROR_NOT_SUPPORTED);

    const PipeLocation location(*key);
    const auto record = location.exists() ? location.read_record() : std::nullopt;
    if (!record)
        return failed(ERROR_FILE_NOT_FOUND);
    const DWORD wanted = map_generic_rights(desired_access, kFileGenericMapping);
    if (!access_granted(process_token_object()->snapshot(), record->dacl, wanted,
                        restricted_write_rights(kFileGenericMapping)))
        return failed(ERROR_ACCESS_DENIED);

    auto claim = FileLock::try_acquire(location.claim_path());
    if (!claim || !location.listening())
        return failed(ERROR_PIPE_BUSY);
    const int fd = connect_to_pipe_socket(location.socket_name());
    if (fd < 0) {
        // The listener went away between the checks: taken by another client, or closed.
        return failed(location.exists() ? ERROR_PIPE_BUSY : ERROR_FILE_NOT_FOUND);
    }
    const bool can_read = (wanted & FILE_READ_DATA) != 0;
    const bool can_write = (wanted & (FILE_WRITE_DATA | FILE_APPEND_DATA)) != 0;
    return insert_handle(
        std::make_shared<NamedPipeClient>(fd, std::move(*claim), can_read, can_write));
}

}  // namespace winsim
