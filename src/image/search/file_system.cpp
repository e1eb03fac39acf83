#include "image/search/file_system.h"

#include <array>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "log/records.h"
#include "text/utf16.h"

namespace quenthar::image {
namespace {

bool IsLogLength(TSK_OFF_T size) { return FormOfLength(size).has_value(); }

// A file of either length, as a search finds it.
struct Candidate {
  std::string path;  // empty where the metadata walk builds it afterwards
  bool allocated;
};

struct Walk {
  const WorkerChannel& out;
  std::uint64_t files = 0;
  std::map<TSK_INUM_T, Candidate> candidates;  // in metadata-address order, each once

  // Counts a file entry, and now and then says how far the walk has come.
  void Looked() {
    constexpr std::uint64_t kEvery = 4096;
    if (++files % kEvery == 0) out.Send(ProgressMessage{files});
  }
};

// NTFS: every metadata entry, allocated or not. Paths come afterwards from the
// candidates' parent references, which costs far less than a directory walk.
TSK_WALK_RET_ENUM OnMetadata(TSK_FS_FILE* file, void* context) {
  auto& walk = *static_cast<Walk*>(context);
  walk.Looked();
  const TSK_FS_META* meta = file->meta;
  if (meta != nullptr && meta->type == TSK_FS_META_TYPE_REG && IsLogLength(meta->size)) {
    walk.candidates.emplace(meta->addr, Candidate{{}, (meta->flags & TSK_FS_META_FLAG_ALLOC) != 0});
  }
  return TSK_WALK_CONT;
}

// Other file systems: every name in the tree, allocated or not, without the
// orphan pass.
TSK_WALK_RET_ENUM OnName(TSK_FS_FILE* file, const char* parent, void* context) {
  auto& walk = *static_cast<Walk*>(context);
  walk.Looked();
  const TSK_FS_META* meta = file->meta;
  if (meta == nullptr || file->name == nullptr || meta->type != TSK_FS_META_TYPE_REG ||
      !IsLogLength(meta->size)) {
    return TSK_WALK_CONT;
  }
  const bool allocated = (file->name->flags & TSK_FS_NAME_FLAG_ALLOC) != 0 &&
                         (meta->flags & TSK_FS_META_FLAG_ALLOC) != 0;
  const auto known = walk.candidates.find(meta->addr);
  // A second name of the same entry counts once; an allocated name wins.
  if (known != walk.candidates.end() && (known->second.allocated || !allocated)) {
    return TSK_WALK_CONT;
  }
  std::string path = "/";
  path.append(ValidUtf8(parent)).append(ValidUtf8(file->name->name));
  walk.candidates[meta->addr] = Candidate{std::move(path), allocated};
  return TSK_WALK_CONT;
}

// Where the search of a file system looks: the one place that knows the
// strategy per file system type.
bool WalkFileSystem(TSK_FS_INFO* fs, Walk& walk) {
  if (TSK_FS_TYPE_ISNTFS(fs->ftype)) {
    const auto flags =
        static_cast<TSK_FS_META_FLAG_ENUM>(TSK_FS_META_FLAG_ALLOC | TSK_FS_META_FLAG_UNALLOC);
    return tsk_fs_meta_walk(fs, fs->first_inum, fs->last_inum, flags, OnMetadata, &walk) == 0;
  }
  const auto flags = static_cast<TSK_FS_DIR_WALK_FLAG_ENUM>(
      TSK_FS_DIR_WALK_FLAG_ALLOC | TSK_FS_DIR_WALK_FLAG_UNALLOC | TSK_FS_DIR_WALK_FLAG_RECURSE |
      TSK_FS_DIR_WALK_FLAG_NOORPHAN);
  return tsk_fs_dir_walk(fs, fs->root_inum, flags, OnName, &walk) == 0;
}

// Deeper than any real tree: a hostile parent chain ends here.
constexpr int kMaxDepth = 1024;

std::string Orphan(const std::string& name) { return std::string("/$OrphanFiles/").append(name); }

// The NTFS path of an entry from its first name and its parent references. A
// parent is followed while its entry is a directory with the sequence number
// the child's reference expects (allocated or not); a broken chain (reused
// entry, loop, depth) puts the file under /$OrphanFiles, as the library names
// orphans.
std::string NtfsPath(TSK_FS_INFO* fs, const TSK_FS_META& meta) {
  const TSK_FS_META_NAME_LIST* own = meta.name2;
  if (own == nullptr) return Orphan("OrphanFile-" + std::to_string(meta.addr));
  const std::string name = ValidUtf8(own->name);
  std::vector<std::string> parts{name};
  std::set<TSK_INUM_T> seen{meta.addr};
  TSK_INUM_T parent = own->par_inode;
  std::uint32_t parent_seq = own->par_seq;
  for (int depth = 0; parent != fs->root_inum; ++depth) {
    if (depth == kMaxDepth || !seen.insert(parent).second) return Orphan(name);
    const File dir(tsk_fs_file_open_meta(fs, nullptr, parent));
    const TSK_FS_META* m = dir != nullptr ? dir->meta : nullptr;
    if (m == nullptr || m->type != TSK_FS_META_TYPE_DIR || m->seq != parent_seq ||
        m->name2 == nullptr) {
      return Orphan(name);
    }
    parts.push_back(ValidUtf8(m->name2->name));
    parent = m->name2->par_inode;
    parent_seq = m->name2->par_seq;
  }
  std::string path;
  for (auto part = parts.rbegin(); part != parts.rend(); ++part) path.append("/").append(*part);
  return path;
}

// Reads n bytes at offset; false unless all of them were read.
bool ReadAt(TSK_FS_FILE* file, TSK_OFF_T offset, std::uint8_t* into, std::size_t n) {
  const ssize_t got =
      tsk_fs_file_read(file, offset, reinterpret_cast<char*>(into), n, TSK_FS_FILE_READ_FLAG_NONE);
  return got >= 0 && static_cast<std::size_t>(got) == n;
}

enum class HeaderVerdict { kNotALog, kLog, kUnreadable };

// Reads the header into `raw` and tells whether it is a log's.
HeaderVerdict CheckHeader(TSK_FS_FILE* file, const LogForm& form,
                          std::array<std::uint8_t, LogHeader::kSize>& raw) {
  if (!ReadAt(file, form.header_offset, raw.data(), raw.size())) return HeaderVerdict::kUnreadable;
  return HasLogSignature(LogHeader::Decode(raw.data())) ? HeaderVerdict::kLog
                                                        : HeaderVerdict::kNotALog;
}

// An allocated file of a log's length that cannot be read may be a log.
void Unreadable(VolumeSearchedMessage& seen) {
  if (!seen.problem) seen.problem = "A file of a log's length cannot be read";
  seen.failed = true;
  seen.kind = NotSearched::kDamaged;
}

// A file's times, as its file system keeps them (0: none kept).
FileTimes TimesOf(const TSK_FS_META& meta, bool fat) {
  // FAT keeps local wall-clock times, which the library turns into seconds
  // in the worker's zone, UTC: the wall clock's reading, counted as UTC.
  const auto kept = [fat](time_t t) -> std::optional<Moment> {
    if (t == 0) return std::nullopt;
    return Moment{static_cast<std::int64_t>(t), fat ? Moment::Zone::kUnknown : Moment::Zone::kUtc,
                  0};
  };
  return {kept(meta.crtime), kept(meta.mtime), kept(meta.atime),
          fat ? std::nullopt : kept(meta.ctime)};
}

// Sends the candidate when it is a log; true when it was one.
bool Examine(TSK_FS_INFO* fs, TSK_INUM_T address, const Candidate& candidate,
             VolumeSearchedMessage& seen, const WorkerChannel& out) {
  const File file(tsk_fs_file_open_meta(fs, nullptr, address));
  if (file == nullptr || file->meta == nullptr) {
    if (candidate.allocated) Unreadable(seen);
    return false;
  }
  const std::optional<LogForm> form = FormOfLength(file->meta->size);
  if (!form) return false;
  std::array<std::uint8_t, LogHeader::kSize> header{};
  switch (CheckHeader(file.get(), *form, header)) {
    case HeaderVerdict::kNotALog: return false;
    // A deleted file's clusters may be gone: then it is no log that can be told.
    case HeaderVerdict::kUnreadable:
      if (candidate.allocated) Unreadable(seen);
      return false;
    case HeaderVerdict::kLog: break;
  }
  LogFoundMessage log;
  log.path = FitPath(candidate.path.empty() ? NtfsPath(fs, *file->meta) : candidate.path, kMaxPath);
  log.address = address;
  log.allocated = candidate.allocated;
  log.size = static_cast<std::uint64_t>(form->file_size);
  log.times = TimesOf(*file->meta, TSK_FS_TYPE_ISFAT(fs->ftype));
  log.bytes.resize(static_cast<std::size_t>(form->file_size));
  // What was read of a file not read whole is not to be trusted, but its
  // header was.
  if (!ReadAt(file.get(), 0, log.bytes.data(), log.bytes.size())) {
    log.bytes.assign(header.begin(), header.end());
    seen.failed = true;
  }
  out.Send(log);
  return true;
}

}  // namespace

// Opens the file system at `offset`: NTFS, FAT and ext first, whose probes
// read little, then every type the library knows.
FileSystem OpenFileSystem(TSK_IMG_INFO* img, TSK_OFF_T offset, Error& error) {
  for (const TSK_FS_TYPE_ENUM type :
       {TSK_FS_TYPE_NTFS_DETECT, TSK_FS_TYPE_FAT_DETECT, TSK_FS_TYPE_EXT_DETECT}) {
    tsk_error_reset();
    if (TSK_FS_INFO* fs = tsk_fs_open_img(img, offset, type)) return FileSystem(fs);
    error = LastError();
    if (IsReadFailure(error)) return nullptr;
  }
  tsk_error_reset();
  if (TSK_FS_INFO* fs = tsk_fs_open_img(img, offset, TSK_FS_TYPE_DETECT)) return FileSystem(fs);
  error = LastError();
  return nullptr;
}

Unopened ExplainUnopened(const Error& error) {
  if (!IsReadFailure(error)) {
    switch (error.number) {
      // Not searched, so the search is not complete.
      case TSK_ERR_FS_ENCRYPTED: return {"Encrypted volume", true, NotSearched::kEncrypted};
      case TSK_ERR_FS_POSSIBLY_ENCRYPTED:
        return {"Possibly encrypted volume", false, NotSearched::kEncrypted};
      case TSK_ERR_FS_UNKTYPE: return {"No file system found", false, NotSearched::kNoFileSystem};
      default: break;
    }
  }
  return {error.text, true, NotSearched::kDamaged};
}

FileSystemSeen SearchFileSystem(TSK_IMG_INFO* img, std::uint64_t offset, FileSystem fs,
                                const WorkerChannel& out) {
  FileSystemSeen result;
  VolumeSearchedMessage& seen = result.seen;
  const auto finish = [&result] {
    if (result.seen.problem) result.seen.problem = FitText(*result.seen.problem, kMaxProblem);
    return result;
  };
  if (fs == nullptr) {
    Error error;
    fs = OpenFileSystem(img, static_cast<TSK_OFF_T>(offset), error);
    if (fs == nullptr) {
      const Unopened why = ExplainUnopened(error);
      seen.problem = why.problem;
      seen.failed = why.failed;
      seen.kind = why.kind;
      return finish();
    }
  }
  out.Send(FileSystemMessage{tsk_fs_type_toname(fs->ftype)});
  result.ntfs = TSK_FS_TYPE_ISNTFS(fs->ftype);
  Walk walk{out, 0, {}};
  tsk_error_reset();
  const bool walked = WalkFileSystem(fs.get(), walk);
  // A walk may end early on a damaged image and still say it succeeded;
  // other errors it leaves behind are of single entries.
  const Error walk_error = LastError();
  if (!walked || IsReadFailure(walk_error)) {
    seen.problem = walk_error.text;
    seen.failed = true;
    seen.kind = NotSearched::kDamaged;
  }
  seen.files = walk.files;
  seen.candidates = walk.candidates.size();
  for (const auto& [address, candidate] : walk.candidates) {
    if (Examine(fs.get(), address, candidate, seen, out)) ++seen.logs;
  }
  return finish();
}

}  // namespace quenthar::image
