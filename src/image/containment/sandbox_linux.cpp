#include <fcntl.h>
#include <linux/capability.h>
#include <linux/fs.h>
#include <linux/futex.h>
#include <linux/landlock.h>
#include <seccomp.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <utility>

#include "image/containment/sandbox.h"

namespace quenthar::image {
namespace {

// Landlock's rights to files, by the first ABI version that has them; the
// later truncate right is not in every kernel's headers.
constexpr std::uint64_t kTruncate = 1ULL << 14;
constexpr std::uint64_t kFileRightsOfAbi[] = {0, (1ULL << 13) - 1, (1ULL << 14) - 1,
                                              (1ULL << 14) - 1 + kTruncate};
constexpr std::uint64_t kReadFile = LANDLOCK_ACCESS_FS_READ_FILE;

// The ruleset's attributes as later kernels take them (the installed headers
// may stop at the first field): from ABI 6 on, `scoped` keeps signals, and
// connections to abstract sockets, inside the process's own domain.
struct RulesetAttr {
  std::uint64_t handled_access_fs;
  std::uint64_t handled_access_net;
  std::uint64_t scoped;
};
constexpr long kScopeAbi = 6;
constexpr std::uint64_t kScopeAbstractSocket = 1U << 0;
constexpr std::uint64_t kScopeSignal = 1U << 1;

struct Descriptor {
  int fd;
  explicit Descriptor(int f) : fd(f) {}
  ~Descriptor() {
    if (fd >= 0) close(fd);
  }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
};

}  // namespace

// Best effort: a kernel without Landlock, or an environment that refuses it,
// leaves only the filter.
long RestrictWithLandlock(const SandboxPolicy& policy) {
  const long abi =
      syscall(SYS_landlock_create_ruleset, nullptr, 0, LANDLOCK_CREATE_RULESET_VERSION);
  if (abi < 1) return 0;
  RulesetAttr attr{kFileRightsOfAbi[abi < 3 ? abi : 3], 0, 0};
  std::size_t attr_size = sizeof attr.handled_access_fs;
  if (abi >= kScopeAbi) {
    attr.scoped = kScopeSignal | kScopeAbstractSocket;
    attr_size = sizeof attr;
  }
  const Descriptor ruleset(
      static_cast<int>(syscall(SYS_landlock_create_ruleset, &attr, attr_size, 0)));
  if (ruleset.fd < 0) return 0;
  for (const std::string& path : policy.readable) {
    // The file a path names, through any symbolic links: the rule holds
    // for the file, whichever name opens it.
    const Descriptor at(open(path.c_str(), O_PATH | O_CLOEXEC));
    struct stat st {};
    if (at.fd < 0 || fstat(at.fd, &st) != 0 || S_ISDIR(st.st_mode)) continue;
    landlock_path_beneath_attr rule{};
    rule.allowed_access = kReadFile;
    rule.parent_fd = at.fd;
    syscall(SYS_landlock_add_rule, ruleset.fd, LANDLOCK_RULE_PATH_BENEATH, &rule, 0);
  }
  return syscall(SYS_landlock_restrict_self, ruleset.fd, 0) == 0 ? abi : 0;
}

namespace {

bool SetCapabilities(std::uint32_t effective, std::uint32_t permitted) {
  __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
  __user_cap_data_struct data[2] = {{effective, permitted, 0}, {0, 0, 0}};
  return syscall(SYS_capset, &header, data) == 0;
}

constexpr std::uint32_t Bit(int capability) { return 1U << capability; }

// Gives up every capability (those a root user holds included): none can be
// regained, none passes to a program. Only reading files the process does
// not own may stay, where one of `files` cannot be opened without it.
bool DropCapabilities(const std::vector<std::string>& files) {
  prctl(PR_CAP_AMBIENT, PR_CAP_AMBIENT_CLEAR_ALL, 0, 0, 0);
  __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
  __user_cap_data_struct data[2]{};
  if (syscall(SYS_capget, &header, data) != 0) return false;
  if (data[0].permitted == 0 && data[1].permitted == 0) return true;  // an ordinary user
  for (int capability = 0; capability <= CAP_LAST_CAP; ++capability) {
    prctl(PR_CAPBSET_DROP, capability, 0, 0, 0);  // while it may (CAP_SETPCAP)
  }
  const std::uint32_t read_search = data[0].permitted & Bit(CAP_DAC_READ_SEARCH);
  bool needed = false;
  if (read_search != 0) {
    // Tried without reading others' files: the permitted set keeps it until
    // this is known.
    if (!SetCapabilities(0, data[0].permitted)) return false;
    for (const std::string& file : files) {
      const int fd = open(file.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
      if (fd < 0 && (errno == EACCES || errno == EPERM)) needed = true;
      if (fd >= 0) close(fd);
    }
  }
  const std::uint32_t kept = needed ? read_search : 0;
  return SetCapabilities(kept, kept);
}

struct FilterReleaser {
  void operator()(void* ctx) const { seccomp_release(ctx); }
};

// What reading an image takes of the statically linked libraries (and of the
// sanitizers' runtime in that build): reading and seeking, asking about
// files, memory, locks, the clock, and ending, by a signal too.
constexpr int kAllowed[] = {
    SCMP_SYS(read),           SCMP_SYS(readv),        SCMP_SYS(pread64),      SCMP_SYS(preadv),
    SCMP_SYS(lseek),          SCMP_SYS(close),        SCMP_SYS(fstat),        SCMP_SYS(newfstatat),
    SCMP_SYS(statx),          SCMP_SYS(access),       SCMP_SYS(faccessat),    SCMP_SYS(faccessat2),
    SCMP_SYS(getcwd),         SCMP_SYS(brk),          SCMP_SYS(munmap),       SCMP_SYS(mremap),
    SCMP_SYS(madvise),        SCMP_SYS(sysinfo),      SCMP_SYS(getpid),       SCMP_SYS(gettid),
    SCMP_SYS(rt_sigprocmask), SCMP_SYS(rt_sigaction), SCMP_SYS(rt_sigreturn), SCMP_SYS(sched_yield),
    SCMP_SYS(clock_gettime),  SCMP_SYS(gettimeofday), SCMP_SYS(getrandom),    SCMP_SYS(exit),
    SCMP_SYS(exit_group),     SCMP_SYS(sigaltstack),
};

// Argument n of the call equals `value`, or, masked, equals `value`. (The
// library's own macros are C compound literals.)
scmp_arg_cmp Equal(unsigned n, scmp_datum_t value) { return {n, SCMP_CMP_EQ, value, 0}; }
scmp_arg_cmp Masked(unsigned n, scmp_datum_t mask, scmp_datum_t value) {
  return {n, SCMP_CMP_MASKED_EQ, mask, value};
}

// Adds a rule; a system call this architecture lacks (a pseudo number) is
// no failure.
int Allow(void* ctx, int call, unsigned count = 0, const scmp_arg_cmp* args = nullptr) {
  const int rc = seccomp_rule_add_array(ctx, SCMP_ACT_ALLOW, call, count, args);
  return rc < 0 && call < 0 ? 0 : rc;
}

int Refuse(void* ctx, int call, unsigned count = 0, const scmp_arg_cmp* args = nullptr) {
  const int rc = seccomp_rule_add_array(ctx, SCMP_ACT_ERRNO(EACCES), call, count, args);
  return rc < 0 && call < 0 ? 0 : rc;
}

// fcntl for what the libraries do with their own descriptors. Locks, and
// O_ASYNC through F_SETFL, are refused; anything that makes a descriptor
// signal a process (F_SETOWN, F_SETOWN_EX, F_SETSIG), leases and
// notifications kill.
int AllowFcntl(void* ctx) {
  int rc = 0;
  for (const int command : {F_GETFD, F_SETFD, F_GETFL, F_DUPFD_CLOEXEC}) {
    const scmp_arg_cmp is[] = {Equal(1, static_cast<scmp_datum_t>(command))};
    if (rc >= 0) rc = Allow(ctx, SCMP_SYS(fcntl), 1, is);
  }
  const scmp_arg_cmp set_flags[] = {Equal(1, F_SETFL), Masked(2, O_ASYNC, 0)};
  if (rc >= 0) rc = Allow(ctx, SCMP_SYS(fcntl), 2, set_flags);
  const scmp_arg_cmp set_async[] = {Equal(1, F_SETFL), Masked(2, O_ASYNC, O_ASYNC)};
  if (rc >= 0) rc = Refuse(ctx, SCMP_SYS(fcntl), 2, set_async);
  for (const int command : {F_GETLK, F_SETLK, F_SETLKW, F_OFD_GETLK, F_OFD_SETLK, F_OFD_SETLKW}) {
    const scmp_arg_cmp is[] = {Equal(1, static_cast<scmp_datum_t>(command))};
    if (rc >= 0) rc = Refuse(ctx, SCMP_SYS(fcntl), 1, is);
  }
  return rc;
}

int InstallFilter(const SandboxPolicy& policy) {
  const std::unique_ptr<void, FilterReleaser> ctx(seccomp_init(SCMP_ACT_KILL_PROCESS));
  if (ctx == nullptr) return -ENOSYS;  // the library found no filter it can make here
  void* c = ctx.get();
  for (const int call : kAllowed) {
    if (const int rc = Allow(c, call); rc < 0) return rc;
  }
  const auto channel = static_cast<scmp_datum_t>(policy.channel);
  const scmp_arg_cmp to_channel[] = {Equal(0, channel)};
  // Files are opened to be read, never created, emptied or written.
  constexpr auto kWriting = static_cast<scmp_datum_t>(O_ACCMODE | O_CREAT | O_TRUNC | O_APPEND |
                                                      (O_TMPFILE & ~O_DIRECTORY));
  const scmp_arg_cmp reading[] = {Masked(2, kWriting, 0)};
  const scmp_arg_cmp reading_open[] = {Masked(1, kWriting, 0)};
  // Memory, but no code: nothing new is ever made executable.
  const scmp_arg_cmp no_exec[] = {Masked(2, PROT_EXEC, 0)};
  const scmp_arg_cmp own_process[] = {Equal(0, static_cast<scmp_datum_t>(getpid()))};
  int rc = 0;
  for (const int call : {SCMP_SYS(write), SCMP_SYS(writev)}) {
    if (rc >= 0) rc = Allow(c, call, 1, to_channel);
  }
#if QUENTHAR_SANITIZED
  // The sanitizers' reports, and their test of whether memory can be read:
  // a write of it to a pipe of their own.
  const scmp_arg_cmp to_stderr[] = {Equal(0, STDERR_FILENO)};
  if (rc >= 0) rc = Allow(c, SCMP_SYS(write), 1, to_stderr);
  const scmp_arg_cmp past_stderr[] = {{0, SCMP_CMP_GT, STDERR_FILENO, 0}};
  if (rc >= 0) rc = Allow(c, SCMP_SYS(write), 1, past_stderr);
  if (rc >= 0) rc = Allow(c, SCMP_SYS(pipe2));
  if (rc >= 0) rc = Allow(c, SCMP_SYS(pipe));
#endif
  if (rc >= 0) rc = Allow(c, SCMP_SYS(openat), 1, reading);
  if (rc >= 0) rc = Allow(c, SCMP_SYS(open), 1, reading_open);
  // An open for writing is refused, not punished: a library probes images
  // read-write first (AFFLIB's VMDK reader) and reads them read-only when
  // that fails, as it would on read-only evidence.
  for (const auto& [mask, value] : {std::pair<int, int>{O_ACCMODE, O_WRONLY},
                                    {O_ACCMODE, O_RDWR},
                                    {O_CREAT, O_CREAT},
                                    {O_TRUNC, O_TRUNC}}) {
    const auto m = static_cast<scmp_datum_t>(mask);
    const auto v = static_cast<scmp_datum_t>(value);
    const scmp_arg_cmp at[] = {Masked(2, m, v)};
    const scmp_arg_cmp plain[] = {Masked(1, m, v)};
    if (rc >= 0) rc = Refuse(c, SCMP_SYS(openat), 1, at);
    if (rc >= 0) rc = Refuse(c, SCMP_SYS(open), 1, plain);
  }
  if (rc >= 0) rc = Allow(c, SCMP_SYS(mmap), 1, no_exec);
  if (rc >= 0) rc = Allow(c, SCMP_SYS(mprotect), 1, no_exec);
  if (rc >= 0) rc = Allow(c, SCMP_SYS(tgkill), 1, own_process);
  // Futexes of its own memory only: a shared one could wake another process.
  const scmp_arg_cmp private_futex[] = {Masked(1, FUTEX_PRIVATE_FLAG, FUTEX_PRIVATE_FLAG)};
  if (rc >= 0) rc = Allow(c, SCMP_SYS(futex), 1, private_futex);
  if (rc >= 0) rc = AllowFcntl(c);
  // A block device's size and sector size.
  for (const scmp_datum_t request : {scmp_datum_t{BLKGETSIZE64}, scmp_datum_t{BLKGETSIZE},
                                     scmp_datum_t{BLKSSZGET}, scmp_datum_t{BLKPBSZGET}}) {
    const scmp_arg_cmp asking[] = {Equal(1, request)};
    if (rc >= 0) rc = Allow(c, SCMP_SYS(ioctl), 1, asking);
  }
  return rc < 0 ? rc : seccomp_load(c);
}

}  // namespace

std::optional<std::string> EnterSandbox(const SandboxPolicy& policy) {
  if (prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0) {
    return std::string("no_new_privs: ") + std::strerror(errno);
  }
  if (!DropCapabilities(policy.readable)) {
    return std::string("capabilities: ") + std::strerror(errno);
  }
  RestrictWithLandlock(policy);
  if (const int rc = InstallFilter(policy); rc < 0) {
    return std::string("seccomp: ") + std::strerror(-rc);
  }
  return std::nullopt;
}

}  // namespace quenthar::image
