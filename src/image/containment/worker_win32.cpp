// Workers on Windows: this same program, started with arguments of its own,
// in a job object (killed with the output process, no child processes, its
// memory limited), with a restricted token at low integrity where Windows
// offers one. The job arrives on its standard input; its messages leave on
// its standard output, a pipe the output process reads with a time limit; a
// disk the output process opened for it is its standard error handle.
#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <string>
#include <vector>

#include "image/containment/channel.h"
#include "image/containment/worker.h"
#include "image/search/device_win32.h"
#include "image/search/worker_search.h"
#include "text/utf16.h"

namespace quenthar::image {
namespace {

// The argument that makes this program a worker; no command line a user
// types starts with it.
constexpr wchar_t kWorkerArgument[] = L"--image-worker-7c1d";

std::wstring Wide(const std::string& utf8) {
  std::wstring wide;
  AppendUtf16(utf8, wide);
  return wide;
}

struct Handle {
  HANDLE h = nullptr;
  Handle() = default;
  explicit Handle(HANDLE handle) : h(handle == INVALID_HANDLE_VALUE ? nullptr : handle) {}
  ~Handle() {
    if (h != nullptr) CloseHandle(h);
  }
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  Handle(Handle&& other) noexcept : h(other.h) { other.h = nullptr; }
  Handle& operator=(Handle&& other) noexcept {
    std::swap(h, other.h);
    return *this;
  }
};

Handle OpenForReading(const std::string& path, DWORD& error) {
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  Handle h(CreateFileW(Wide(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                       &inherit, OPEN_EXISTING, 0, nullptr));
  error = h.h == nullptr ? GetLastError() : 0;
  return h;
}

// A token without privileges at low integrity, or none where Windows does
// not offer one (the worker then runs with the user's token, still in its
// job object).
Handle RestrictedToken() {
  HANDLE own = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(),
                        TOKEN_DUPLICATE | TOKEN_QUERY | TOKEN_ASSIGN_PRIMARY | TOKEN_ADJUST_DEFAULT,
                        &own)) {
    return {};
  }
  const Handle self(own);
  HANDLE restricted = nullptr;
  if (!CreateRestrictedToken(self.h, DISABLE_MAX_PRIVILEGE, 0, nullptr, 0, nullptr, 0, nullptr,
                             &restricted)) {
    return {};
  }
  Handle token(restricted);
  SID_IDENTIFIER_AUTHORITY label = SECURITY_MANDATORY_LABEL_AUTHORITY;
  PSID low = nullptr;
  if (!AllocateAndInitializeSid(&label, 1, SECURITY_MANDATORY_LOW_RID, 0, 0, 0, 0, 0, 0, 0, &low)) {
    return {};
  }
  TOKEN_MANDATORY_LABEL level{};
  level.Label.Attributes = SE_GROUP_INTEGRITY;
  level.Label.Sid = low;
  const BOOL set =
      SetTokenInformation(token.h, TokenIntegrityLevel, &level, sizeof level + GetLengthSid(low));
  FreeSid(low);
  return set ? std::move(token) : Handle();
}

// The job object: the worker dies with it (and so with the output process),
// starts no process of its own, commits no more than the limit, and reaches
// no other process through the desktop. (Its low integrity keeps it from
// opening the processes of a user's ordinary programs.)
Handle MakeJob(const SearchOptions& limits) {
  Handle job(CreateJobObjectW(nullptr, nullptr));
  if (job.h == nullptr) return job;
  JOBOBJECT_EXTENDED_LIMIT_INFORMATION info{};
  info.BasicLimitInformation.LimitFlags =
      JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE | JOB_OBJECT_LIMIT_ACTIVE_PROCESS |
      JOB_OBJECT_LIMIT_DIE_ON_UNHANDLED_EXCEPTION | JOB_OBJECT_LIMIT_PROCESS_MEMORY;
  info.BasicLimitInformation.ActiveProcessLimit = 1;
  info.ProcessMemoryLimit = static_cast<SIZE_T>(limits.memory_limit_mib << 20);
  SetInformationJobObject(job.h, JobObjectExtendedLimitInformation, &info, sizeof info);
  // Nothing of the desktop: no other process's windows (their messages
  // reach those processes), no clipboard, no system settings, no log-off.
  JOBOBJECT_BASIC_UI_RESTRICTIONS ui{};
  ui.UIRestrictionsClass = JOB_OBJECT_UILIMIT_HANDLES | JOB_OBJECT_UILIMIT_READCLIPBOARD |
                           JOB_OBJECT_UILIMIT_WRITECLIPBOARD | JOB_OBJECT_UILIMIT_SYSTEMPARAMETERS |
                           JOB_OBJECT_UILIMIT_DISPLAYSETTINGS | JOB_OBJECT_UILIMIT_GLOBALATOMS |
                           JOB_OBJECT_UILIMIT_DESKTOP | JOB_OBJECT_UILIMIT_EXITWINDOWS;
  SetInformationJobObject(job.h, JobObjectBasicUIRestrictions, &ui, sizeof ui);
  return job;
}

bool WriteAll(HANDLE h, const std::uint8_t* p, std::size_t n) {
  while (n != 0) {
    DWORD wrote = 0;
    if (!WriteFile(h, p, static_cast<DWORD>(std::min<std::size_t>(n, 1 << 20)), &wrote, nullptr) ||
        wrote == 0) {
      return false;
    }
    p += wrote;
    n -= wrote;
  }
  return true;
}

LONG WINAPI EndOnCrash(EXCEPTION_POINTERS* e) {
  // The exception's code is the worker's exit code; no debugger, no dialog.
  TerminateProcess(GetCurrentProcess(), e->ExceptionRecord->ExceptionCode);
  return EXCEPTION_EXECUTE_HANDLER;
}

}  // namespace

Access CheckImage(const std::string& path) {
  if (!IsDevicePath(path)) {
    const DWORD attributes = GetFileAttributesW(Wide(path).c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
      return Access::kUnopenable;
    }
  }
  DWORD error = 0;
  if (OpenForReading(path, error).h != nullptr) return Access::kSearchable;
  return IsDevicePath(path) && error == ERROR_ACCESS_DENIED ? Access::kNeedsAdministrator
                                                            : Access::kUnopenable;
}

void WorkerChannel::SendFrame(const std::vector<std::uint8_t>& frame) const {
  // NOLINTNEXTLINE(performance-no-int-to-ptr): the handle as the job passed it
  if (!WriteAll(reinterpret_cast<HANDLE>(handle_), frame.data(), frame.size())) ExitProcess(1);
}

WorkerOutcome RunWorker(const SearchOptions& limits, const JobMessage& job, Duration& image_left,
                        const OnMessage& on_message) {
  WorkerOutcome failed{WorkerEnd::kExited, -1, {}};  // not const: returned, it moves
  // The device is opened here, where the rights are: a worker at low
  // integrity could not open it.
  Handle device;
  if (IsDevicePath(job.image)) {
    DWORD error = 0;
    device = OpenForReading(job.image, error);
    if (device.h == nullptr) return failed;
  }

  // Its messages: a named pipe this side reads with a time limit.
  static unsigned counter = 0;
  const std::wstring name = L"\\\\.\\pipe\\quenthar-" + std::to_wstring(GetCurrentProcessId()) +
                            L"-" + std::to_wstring(++counter) + L"-" +
                            std::to_wstring(GetTickCount64());
  Handle reader(CreateNamedPipeW(
      name.c_str(), PIPE_ACCESS_INBOUND | FILE_FLAG_OVERLAPPED | FILE_FLAG_FIRST_PIPE_INSTANCE,
      PIPE_TYPE_BYTE | PIPE_WAIT | PIPE_REJECT_REMOTE_CLIENTS, 1, 0, 1 << 16, 0, nullptr));
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  Handle writer(CreateFileW(name.c_str(), GENERIC_WRITE, 0, &inherit, OPEN_EXISTING, 0, nullptr));
  // Its job: an anonymous pipe it reads to the end.
  HANDLE job_read = nullptr;
  HANDLE job_write = nullptr;
  if (reader.h == nullptr || writer.h == nullptr ||
      !CreatePipe(&job_read, &job_write, &inherit, 0)) {
    return failed;
  }
  Handle job_in(job_read);
  Handle job_out(job_write);
  SetHandleInformation(job_out.h, HANDLE_FLAG_INHERIT, 0);

  // Only these handles reach the worker.
  std::vector<HANDLE> inherited{job_in.h, writer.h};
  if (device.h != nullptr) inherited.push_back(device.h);
  SIZE_T size = 0;
  InitializeProcThreadAttributeList(nullptr, 1, 0, &size);
  std::vector<std::uint8_t> attributes(size);
  auto* list = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(attributes.data());
  if (!InitializeProcThreadAttributeList(list, 1, 0, &size) ||
      !UpdateProcThreadAttribute(list, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, inherited.data(),
                                 inherited.size() * sizeof(HANDLE), nullptr, nullptr)) {
    return failed;
  }
  STARTUPINFOEXW startup{};
  startup.StartupInfo.cb = sizeof startup;
  startup.StartupInfo.dwFlags = STARTF_USESTDHANDLES;
  startup.StartupInfo.hStdInput = job_in.h;
  startup.StartupInfo.hStdOutput = writer.h;
  startup.StartupInfo.hStdError = device.h;
  startup.lpAttributeList = list;

  wchar_t self[MAX_PATH * 4];
  const DWORD length = GetModuleFileNameW(nullptr, self, static_cast<DWORD>(std::size(self)));
  if (length == 0 || length == std::size(self)) return failed;
  std::wstring command = L"\"" + std::wstring(self, length) + L"\" " + kWorkerArgument;
  const Handle token = limits.sandbox ? RestrictedToken() : Handle();
  const DWORD flags = CREATE_SUSPENDED | EXTENDED_STARTUPINFO_PRESENT | CREATE_NO_WINDOW;
  PROCESS_INFORMATION process{};
  BOOL started = FALSE;
  if (token.h != nullptr) {
    started = CreateProcessAsUserW(token.h, self, command.data(), nullptr, nullptr, TRUE, flags,
                                   nullptr, nullptr, &startup.StartupInfo, &process);
  }
  if (!started) {
    started = CreateProcessW(self, command.data(), nullptr, nullptr, TRUE, flags, nullptr, nullptr,
                             &startup.StartupInfo, &process);
  }
  DeleteProcThreadAttributeList(list);
  if (!started) return failed;
  const Handle worker(process.hProcess);
  const Handle thread(process.hThread);
  const Handle job_object = MakeJob(limits);
  if (job_object.h != nullptr) AssignProcessToJobObject(job_object.h, worker.h);
  ResumeThread(thread.h);
  writer = Handle();  // the worker's end only: its exit ends the pipe
  job_in = Handle();
  const SecretBytes job_bytes(Frame(job));  // it holds the job's secrets
  WriteAll(job_out.h, job_bytes.Bytes().data(), job_bytes.Bytes().size());
  job_out = Handle();

  using Clock = std::chrono::steady_clock;
  MessageStream stream(on_message);
  Handle event(CreateEventW(nullptr, TRUE, FALSE, nullptr));
  ConnectNamedPipe(reader.h, nullptr);  // the worker's end is open already
  const std::optional<Duration> left = ReadMessages(
      stream, std::chrono::seconds(limits.time_limit_s), image_left,
      [&reader, &event](std::uint8_t* into, std::size_t n, Duration wait) -> long {
        OVERLAPPED overlapped{};
        overlapped.hEvent = event.h;
        ResetEvent(event.h);
        DWORD got = 0;
        if (!ReadFile(reader.h, into, static_cast<DWORD>(n), nullptr, &overlapped) &&
            GetLastError() != ERROR_IO_PENDING) {
          return 0;  // the worker closed its end: it is done, or gone
        }
        const auto ms = std::chrono::ceil<std::chrono::milliseconds>(wait).count();
        if (WaitForSingleObject(event.h, static_cast<DWORD>(std::min<long long>(ms, 0x7FFFFFFF))) !=
            WAIT_OBJECT_0) {
          CancelIo(reader.h);
          GetOverlappedResult(reader.h, &overlapped, &got, TRUE);
          return got != 0 ? static_cast<long>(got) : -1;
        }
        if (!GetOverlappedResult(reader.h, &overlapped, &got, FALSE) || got == 0) return 0;
        return static_cast<long>(got);
      });

  const auto end = [&worker, &job_object] {
    TerminateProcess(worker.h, 1);
    if (job_object.h != nullptr) TerminateJobObject(job_object.h, 1);
    WaitForSingleObject(worker.h, INFINITE);
  };
  if (!left) {
    end();
    return {WorkerEnd::kIncoherent, 0, {}};
  }
  const auto ms = std::chrono::ceil<std::chrono::milliseconds>(std::min(*left, image_left)).count();
  const auto reaping = Clock::now();
  const bool exited =
      WaitForSingleObject(worker.h, static_cast<DWORD>(std::max<long long>(ms, 0))) ==
      WAIT_OBJECT_0;
  image_left -= Clock::now() - reaping;
  if (!exited) {
    end();
    return {OutOfTime(*left, image_left), 0, {}};
  }
  DWORD code = 0;
  GetExitCodeProcess(worker.h, &code);
  // An exception's code: an NTSTATUS of the error class.
  if ((code & 0xC0000000U) == 0xC0000000U)
    return {WorkerEnd::kException, static_cast<int>(code), {}};
  if (code != 0) return {WorkerEnd::kExited, static_cast<int>(code), {}};
  return stream.CleanEnd();
}

std::optional<int> RunAsWorker(int argc, const wchar_t* const* argv) {
  if (argc != 2 || std::wcscmp(argv[1], kWorkerArgument) != 0) return std::nullopt;
  SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX | SEM_NOOPENFILEERRORBOX);
  SetUnhandledExceptionFilter(EndOnCrash);
  // The job, one frame, whole, from standard input.
  std::vector<std::uint8_t> bytes;
  std::vector<std::uint8_t> chunk(1 << 16);
  const HANDLE in = GetStdHandle(STD_INPUT_HANDLE);
  for (DWORD got = 0;
       ReadFile(in, chunk.data(), static_cast<DWORD>(chunk.size()), &got, nullptr) && got != 0;) {
    bytes.insert(bytes.end(), chunk.data(), chunk.data() + got);
    if (bytes.size() > kMaxFrame + 4) return 1;
  }
  CloseHandle(in);
  const SecretBytes read(std::move(bytes));  // it holds the job's secrets
  FrameBuffer frames;
  frames.Append(read.Bytes().data(), read.Bytes().size());
  bool broken = false;
  const std::optional<Message> m = frames.Next(broken);
  const std::optional<JobMessage> job = m ? DecodeAs<JobMessage>(*m) : std::nullopt;
  if (!job || !frames.Empty()) return 1;
  WorkerChannel out(reinterpret_cast<std::intptr_t>(GetStdHandle(STD_OUTPUT_HANDLE)));
  if (!IsDevicePath(job->image)) {
    RunJob(*job, out, nullptr);
    return 0;
  }
  const std::optional<ByteSource> device = OpenDevice(GetStdHandle(STD_ERROR_HANDLE));
  if (!device) {
    out.Send(ImageNotOpenedMessage{NotOpened::kCannotOpen, "the disk's size cannot be had"});
    return 0;
  }
  RunJob(*job, out, &*device);
  return 0;
}

}  // namespace quenthar::image