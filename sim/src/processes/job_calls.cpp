// kernel32 job objects of the simulated host.

#include <winsim/jobs.h>
#include <winsim/kernel.h>
#include <winsim/process.h>

#include "machine/faults.h"
#include "machine/object.h"
#include "processes/job_holder_watch.h"
#include "processes/job_registry.h"
#include "processes/process_object.h"

namespace winsim {
namespace {

// This process's hold on a job: the last of its handles to the job going away releases it
// (the job ends when no process holds it any more).
class JobObject : public KernelObject {
  public:
    explicit JobObject(std::uint64_t id) : id_(id) {}
    ~JobObject() override {
        release_job(id_);
        drop_job_watch();
    }
    JobObject(const JobObject&) = delete;
    JobObject& operator=(const JobObject&) = delete;
    const char* type_name() const override { return "Job"; }
    std::uint64_t id() const { return id_; }

  private:
    std::uint64_t id_;
};

}  // namespace
}  // namespace winsim

HANDLE CreateJobObjectW(LPSECURITY_ATTRIBUTES, LPCWSTR name) {
    if (auto fault = winsim::take_fault("CreateJobObjectW")) {
        SetLastError(fault->kind == winsim::FaultKind::fail ? fault->value : ERROR_SUCCESS);
        return nullptr;
    }
    if (name != nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    // Watched before it holds the job: however this process ends from now on, the job is
    // released for it.
    winsim::hold_job_watch();
    const std::uint64_t id = winsim::create_job_record();
    if (id == 0) {
        // The machine's state could not be locked (the last error says why): no job holds the
        // watch taken for it.
        winsim::drop_job_watch();
        return nullptr;
    }
    return winsim::insert_handle(std::make_shared<winsim::JobObject>(id));
}

BOOL SetInformationJobObject(HANDLE job, JOBOBJECTINFOCLASS information_class, LPVOID information,
                             DWORD length) {
    WINSIM_FAIL_IF_INJECTED("SetInformationJobObject");
    const auto object = winsim::object_as<winsim::JobObject>(job);
    if (!object)
        return winsim::fail(ERROR_INVALID_HANDLE);
    if (information == nullptr)
        return winsim::fail(ERROR_INVALID_PARAMETER);
    DWORD expected = 0;
    if (information_class == JobObjectBasicLimitInformation)
        expected = sizeof(JOBOBJECT_BASIC_LIMIT_INFORMATION);
    else if (information_class == JobObjectExtendedLimitInformation)
        expected = sizeof(JOBOBJECT_EXTENDED_LIMIT_INFORMATION);
    else
        return winsim::fail(ERROR_INVALID_PARAMETER);
    if (length != expected)
        return winsim::fail(24);  // ERROR_BAD_LENGTH
    const auto& limits = *static_cast<const JOBOBJECT_BASIC_LIMIT_INFORMATION*>(information);
    return winsim::set_job_limits(object->id(), limits.LimitFlags) ? TRUE : FALSE;
}

BOOL AssignProcessToJobObject(HANDLE job, HANDLE process) {
    WINSIM_FAIL_IF_INJECTED("AssignProcessToJobObject");
    const auto job_object = winsim::object_as<winsim::JobObject>(job);
    const auto process_object = winsim::object_as<winsim::ProcessObject>(process);
    if (!job_object || !process_object)
        return winsim::fail(ERROR_INVALID_HANDLE);
    // Windows refuses a process that has ended, and a handle without these rights.
    if (!process_object->grants(PROCESS_SET_QUOTA | PROCESS_TERMINATE) ||
        process_object->process().has_ended() ||
        !winsim::add_job_member(job_object->id(), process_object->process().pid()))
        return winsim::fail(ERROR_ACCESS_DENIED);
    return TRUE;
}
