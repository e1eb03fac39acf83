#include "image/tsk_search.h"

#include <libewf.h>
#include <tsk/libtsk.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cstring>
#include <limits>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "log/records.h"
#include "text/utf16.h"

// The library's own allocation of an image, which an image of the caller's
// own must come from (not in its public headers).
extern "C" {
void* tsk_img_malloc(size_t);
void tsk_img_free(void*);
}

namespace quenthar::image {
namespace {

struct ImageCloser {
  void operator()(TSK_IMG_INFO* p) const { tsk_img_close(p); }
};
struct VolumeSystemCloser {
  void operator()(TSK_VS_INFO* p) const { tsk_vs_close(p); }
};
struct FileSystemCloser {
  void operator()(TSK_FS_INFO* p) const { tsk_fs_close(p); }
};
struct FileCloser {
  void operator()(TSK_FS_FILE* p) const { tsk_fs_file_close(p); }
};
using ImageHandle = std::unique_ptr<TSK_IMG_INFO, ImageCloser>;
using VolumeSystem = std::unique_ptr<TSK_VS_INFO, VolumeSystemCloser>;
using FileSystem = std::unique_ptr<TSK_FS_INFO, FileSystemCloser>;
using File = std::unique_ptr<TSK_FS_FILE, FileCloser>;

// The library's error, as it words it, and its number.
struct Error {
  std::string text;
  std::uint32_t number = 0;
};

Error LastError() {
  const char* text = tsk_error_get();
  std::string s = ValidUtf8(text != nullptr ? text : "unknown error");
  while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back())) != 0) s.pop_back();
  return {s, tsk_error_get_errno()};
}

bool IsLetter(char c) { return std::isalpha(static_cast<unsigned char>(c)) != 0; }

// An error that tells of a failed read: the image is damaged or incomplete,
// which must never pass for a volume without a file system. The library's
// numbers say so where it sets them; the image libraries below it word their
// read errors in the text only ("tsk_img_read: ...", "unable to read ..."),
// so the word "read" counts there when it stands as a word or a part of a
// function's name, never inside another word ("thread", "ready").
bool IsReadFailure(const Error& e) {
  if (e.number == TSK_ERR_IMG_READ || e.number == TSK_ERR_IMG_READ_OFF ||
      e.number == TSK_ERR_FS_READ || e.number == TSK_ERR_VS_READ) {
    return true;
  }
  std::string lower = e.text;
  std::transform(lower.begin(), lower.end(), lower.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  if (lower.find("missing chunk") != std::string::npos) return true;
  for (std::size_t at = lower.find("read"); at != std::string::npos;
       at = lower.find("read", at + 1)) {
    const bool starts = at == 0 || !IsLetter(lower[at - 1]);
    const std::size_t after = at + 4;
    const bool ends =
        after == lower.size() || !IsLetter(lower[after]) || lower.compare(after, 3, "ing") == 0;
    if (starts && ends) return true;
  }
  return false;
}

bool IsLogLength(TSK_OFF_T size) { return FormOfLength(size).has_value(); }

// A file of either length, as a search finds it.
struct Candidate {
  std::string path;  // empty where the metadata walk builds it afterwards
  bool allocated;
};

struct Walk {
  std::uint64_t files = 0;
  std::map<TSK_INUM_T, Candidate> candidates;  // in metadata-address order, each once
};

// NTFS: every metadata entry, allocated or not. Paths come afterwards from the
// candidates' parent references, which costs far less than a directory walk.
TSK_WALK_RET_ENUM OnMetadata(TSK_FS_FILE* file, void* context) {
  auto& walk = *static_cast<Walk*>(context);
  ++walk.files;
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
  ++walk.files;
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

// Why a volume without a file system the library opens was not searched, and
// whether that is a failure.
struct Unopened {
  std::string problem;
  bool failed = false;
};

Unopened ExplainUnopened(const Error& error) {
  if (!IsReadFailure(error)) {
    switch (error.number) {
      case TSK_ERR_FS_ENCRYPTED: return {"Encrypted volume"};
      case TSK_ERR_FS_POSSIBLY_ENCRYPTED: return {"Possibly encrypted volume"};
      case TSK_ERR_FS_UNKTYPE: return {"No file system found"};
      default: break;
    }
  }
  return {error.text, true};
}

void SendUnsearched(WorkerChannel& out, std::uint64_t offset,
                    const std::optional<std::string>& partition, const Unopened& why) {
  MessageWriter m(MessageKind::kVolumeUnsearched);
  out.Send(m.U64(offset)
               .OptionalText(partition)
               .Text(FitText(why.problem, kMaxProblem))
               .U8(why.failed ? 1 : 0));
}

void SendToSearch(WorkerChannel& out, std::uint64_t offset,
                  const std::optional<std::string>& partition) {
  MessageWriter m(MessageKind::kVolumeToSearch);
  out.Send(m.U64(offset).OptionalText(partition));
}

// What the search of one volume saw, sent as its last message.
struct VolumeSeen {
  std::uint64_t files = 0;
  std::uint64_t candidates = 0;
  std::uint64_t logs = 0;
  std::optional<std::string> problem;
  bool failed = false;

  // An allocated file of a log's length that cannot be read may be a log.
  void Unreadable() {
    if (!problem) problem = "A file of a log's length cannot be read";
    failed = true;
  }

  void Send(WorkerChannel& out) const {
    MessageWriter m(MessageKind::kVolumeSearched);
    std::optional<std::string> fitted;
    if (problem) fitted = FitText(*problem, kMaxProblem);
    out.Send(m.U64(files).U64(candidates).U64(logs).OptionalText(fitted).U8(failed ? 1 : 0));
  }
};

// Sends the candidate when it is a log; true when it was one.
bool Examine(TSK_FS_INFO* fs, TSK_INUM_T address, const Candidate& candidate, VolumeSeen& seen,
             WorkerChannel& out) {
  const File file(tsk_fs_file_open_meta(fs, nullptr, address));
  if (file == nullptr || file->meta == nullptr) {
    if (candidate.allocated) seen.Unreadable();
    return false;
  }
  const std::optional<LogForm> form = FormOfLength(file->meta->size);
  if (!form) return false;
  std::array<std::uint8_t, LogHeader::kSize> header{};
  switch (CheckHeader(file.get(), *form, header)) {
    case HeaderVerdict::kNotALog: return false;
    // A deleted file's clusters may be gone: then it is no log that can be told.
    case HeaderVerdict::kUnreadable:
      if (candidate.allocated) seen.Unreadable();
      return false;
    case HeaderVerdict::kLog: break;
  }
  std::vector<std::uint8_t> bytes(static_cast<std::size_t>(form->file_size));
  const bool whole = ReadAt(file.get(), 0, bytes.data(), bytes.size());
  MessageWriter m(MessageKind::kLog);
  m.Text(FitPath(candidate.path.empty() ? NtfsPath(fs, *file->meta) : candidate.path, kMaxPath))
      .U64(address)
      .U8(candidate.allocated ? 1 : 0)
      .U64(static_cast<std::uint64_t>(form->file_size));
  // What was read of a file not read whole is not to be trusted, but its
  // header was.
  if (whole) {
    m.Bytes(bytes.data(), bytes.size());
  } else {
    m.Bytes(header.data(), header.size());
    seen.failed = true;
  }
  out.Send(m);
  return true;
}

// The partition table of the image, as detection finds it, or none.
VolumeSystem OpenVolumeSystem(TSK_IMG_INFO* img, std::vector<std::string>& errors) {
  tsk_error_reset();
  if (TSK_VS_INFO* vs = tsk_vs_open(img, 0, TSK_VS_TYPE_DETECT)) return VolumeSystem(vs);
  const Error error = LastError();
  if (IsReadFailure(error)) errors.push_back(error.text);
  return nullptr;
}

// Sets the image's size for as long as it lives, then puts the real one back.
class ImageSizeOverride {
 public:
  ImageSizeOverride(TSK_IMG_INFO* img, TSK_OFF_T size) : img_(img), size_(img->size) {
    img->size = size;
  }
  ~ImageSizeOverride() { img_->size = size_; }
  ImageSizeOverride(const ImageSizeOverride&) = delete;
  ImageSizeOverride& operator=(const ImageSizeOverride&) = delete;

 private:
  TSK_IMG_INFO* img_;
  TSK_OFF_T size_;
};

// A DOS or GPT partition table asked for by its kind: detection turns a table
// down without a word when one of its partitions lies past the image's end.
// Collects the errors of tables that are there but cannot be read.
VolumeSystem OpenVolumeSystemOfKind(TSK_IMG_INFO* img, std::vector<std::string>& errors) {
  for (const TSK_VS_TYPE_ENUM type : {TSK_VS_TYPE_DOS, TSK_VS_TYPE_GPT}) {
    tsk_error_reset();
    if (TSK_VS_INFO* vs = tsk_vs_open(img, 0, type)) return VolumeSystem(vs);
    const Error error = LastError();
    if (error.number == TSK_ERR_VS_BLK_NUM) {
      // A partition lies past the image's end, and the library refuses the
      // whole table for it: its table readers check each partition against
      // the image's `size` field, and read only the table itself. Read as if
      // the image were long enough, the table gives its partitions, and each
      // is checked against the real end.
      const ImageSizeOverride longer(img, std::numeric_limits<TSK_OFF_T>::max() / 2);
      tsk_error_reset();
      if (TSK_VS_INFO* vs = tsk_vs_open(img, 0, type)) return VolumeSystem(vs);
    }
    if (error.number != TSK_ERR_VS_MAGIC && error.number != TSK_ERR_VS_UNKTYPE) {
      errors.push_back(error.text);
    }
  }
  return nullptr;
}

// A volume the listing sends to be searched, with its file system when the
// listing had to open it to tell.
struct Planned {
  std::uint64_t offset;
  FileSystem fs;
};

void SendPartitions(const TSK_IMG_INFO* img, const TSK_VS_INFO* vs, WorkerChannel& out,
                    std::vector<Planned>& planned) {
  const auto image_size = static_cast<std::uint64_t>(img->size);
  // The partition searched at each offset, by its number in the listing: a
  // file system is opened by its offset, so a table that repeats one costs
  // one search.
  std::map<std::uint64_t, std::string> searched;
  std::size_t number = 0;
  for (TSK_PNUM_T i = 0; i < vs->part_count; ++i) {
    const TSK_VS_PART_INFO* part = tsk_vs_part_get(vs, i);
    if (part == nullptr || (part->flags & TSK_VS_PART_FLAG_ALLOC) == 0) continue;
    ++number;
    // A table's numbers are the image's: a product past 64 bits lies past its end.
    std::uint64_t start = 0;
    std::uint64_t offset = 0;
    std::uint64_t length = 0;
    const bool beyond =
        __builtin_mul_overflow(std::uint64_t{part->start}, vs->block_size, &start) ||
        __builtin_add_overflow(start, static_cast<std::uint64_t>(vs->offset), &offset);
    const bool too_long = __builtin_mul_overflow(std::uint64_t{part->len}, vs->block_size, &length);
    std::optional<std::string> partition;
    if (part->desc != nullptr && part->desc[0] != '\0') {
      partition = FitText(ValidUtf8(part->desc), kMaxName);
    }
    const auto repeated = searched.find(offset);
    if (beyond || offset >= image_size) {
      SendUnsearched(out, offset, partition, {"Partition starts past the end of the image", true});
    } else if (too_long || length > image_size - offset) {
      SendUnsearched(out, offset, partition, {"Partition ends past the end of the image", true});
    } else if (repeated != searched.end()) {
      SendUnsearched(out, offset, partition, {"Same start as " + repeated->second + ", searched once"});
    } else {
      std::string name = "partition " + std::to_string(number);
      if (partition) name += " (" + *partition + ")";
      searched.emplace(offset, FitText(name, kMaxName));
      SendToSearch(out, offset, partition);
      planned.push_back({offset, nullptr});
    }
  }
}

struct EwfHandleCloser {
  void operator()(libewf_handle_t* h) const {
    libewf_handle_close(h, nullptr);
    libewf_handle_free(&h, nullptr);
  }
};

// An E01 set whose segments are not all there (or are damaged) still opens,
// and reads of what is missing may give zeros without an error: asks the EWF
// library itself, through its narrow or its wide calls.
template <typename Char, typename Glob, typename Open, typename Free>
bool EwfCheck(const Char* path, std::size_t length, Glob glob, Open open, Free release) {
  Char** names = nullptr;
  int count = 0;
  if (glob(path, length, LIBEWF_FORMAT_UNKNOWN, &names, &count, nullptr) != 1) return true;
  libewf_handle_t* raw = nullptr;
  bool incomplete = true;
  if (libewf_handle_initialize(&raw, nullptr) == 1) {
    const std::unique_ptr<libewf_handle_t, EwfHandleCloser> handle(raw);
    incomplete = open(raw, names, count, LIBEWF_OPEN_READ, nullptr) != 1 ||
                 libewf_handle_segment_files_corrupted(raw, nullptr) != 0;
  }
  release(names, count, nullptr);
  return incomplete;
}

#if defined(_WIN32)
// The narrow names are the ANSI code page's there: the wide calls take every name.
bool EwfSetIncomplete(const char* path) {
  std::wstring wide;
  AppendUtf16(path, wide);
  return EwfCheck(wide.c_str(), wide.size(), libewf_glob_wide, libewf_handle_open_wide,
                  libewf_glob_wide_free);
}
#else
bool EwfSetIncomplete(const char* path) {
  return EwfCheck(path, std::strlen(path), libewf_glob, libewf_handle_open, libewf_glob_free);
}
#endif

// A device the output process opened for this worker, read through the
// library's interface for images of the caller's own.
struct DeviceImage {
  TSK_IMG_INFO img;  // first: the library takes a DeviceImage for its own
  std::intptr_t device;
};

ssize_t ReadDeviceImage(TSK_IMG_INFO* img, TSK_OFF_T offset, char* into, size_t n) {
  const auto* d = reinterpret_cast<DeviceImage*>(img);
  if (offset < 0 || static_cast<std::uint64_t>(offset) >= static_cast<std::uint64_t>(img->size)) {
    return -1;
  }
  const std::uint64_t left = static_cast<std::uint64_t>(img->size - offset);
  const std::size_t length = n < left ? n : static_cast<std::size_t>(left);
  if (!ReadDevice(d->device, static_cast<std::uint64_t>(offset),
                  reinterpret_cast<std::uint8_t*>(into), length)) {
    tsk_error_reset();
    tsk_error_set_errno(TSK_ERR_IMG_READ);
    tsk_error_set_errstr("the device cannot be read at %lld", static_cast<long long>(offset));
    return -1;
  }
  return static_cast<ssize_t>(length);
}

void CloseDeviceImage(TSK_IMG_INFO* img) { tsk_img_free(img); }
void DeviceImageStat(TSK_IMG_INFO* /*img*/, FILE* /*out*/) {}

ImageHandle OpenDevice(std::intptr_t device) {
  std::uint64_t size = 0;
  unsigned sector = 0;
  if (!DeviceGeometry(device, size, sector)) {
    tsk_error_reset();
    tsk_error_set_errno(TSK_ERR_IMG_OPEN);
    tsk_error_set_errstr("the device's size cannot be had");
    return nullptr;
  }
  auto* d = static_cast<DeviceImage*>(tsk_img_malloc(sizeof(DeviceImage)));
  if (d == nullptr) return nullptr;
  d->device = device;
  TSK_IMG_INFO* img = tsk_img_open_external(d, static_cast<TSK_OFF_T>(size), sector,
                                            ReadDeviceImage, CloseDeviceImage, DeviceImageStat);
  if (img == nullptr) tsk_img_free(d);
  return ImageHandle(img);
}

// The image, or why it did not open (sent).
ImageHandle OpenImage(const char* path, std::intptr_t device, WorkerChannel* report) {
  tsk_error_reset();
  ImageHandle img(device != 0 ? OpenDevice(device)
                              : ImageHandle(tsk_img_open_utf8_sing(path, TSK_IMG_TYPE_DETECT, 0)));
  if (img == nullptr && report != nullptr) {
    const Error error = LastError();
    MessageWriter m(MessageKind::kImageNotOpened);
    report->Send(m.U8(error.number == TSK_ERR_AUX_MALLOC ? kOutOfMemory : kLibraryRefused)
                     .Text(FitText(error.text, kMaxProblem)));
  }
  return img;
}

// Sends the image's volumes, and returns those to search.
std::vector<Planned> ListVolumes(TSK_IMG_INFO* img, const char* path, WorkerChannel& out) {
  {
    MessageWriter m(MessageKind::kImageOpened);
    out.Send(m.U64(static_cast<std::uint64_t>(img->size)));
  }
  if (img->itype == TSK_IMG_TYPE_EWF_EWF && EwfSetIncomplete(path)) {
    MessageWriter m(MessageKind::kImageIncomplete);
    out.Send(m);
  }
  std::vector<Planned> planned;
  MessageWriter listed(MessageKind::kVolumesListed);
  std::vector<std::string> table_errors;
  VolumeSystem vs = OpenVolumeSystem(img, table_errors);
  if (vs == nullptr && table_errors.empty()) {
    // No table: one file system over the whole image, when there is one.
    Error error;
    FileSystem fs = OpenFileSystem(img, 0, error);
    if (fs != nullptr || IsReadFailure(error)) {
      SendToSearch(out, 0, std::nullopt);
      planned.push_back({0, std::move(fs)});
      out.Send(listed);
      return planned;
    }
    vs = OpenVolumeSystemOfKind(img, table_errors);
    if (vs == nullptr && table_errors.empty()) {
      SendUnsearched(out, 0, std::nullopt, ExplainUnopened(error));
      out.Send(listed);
      return planned;
    }
  }
  if (vs == nullptr) {
    std::string problem;
    for (const std::string& e : table_errors) problem += (problem.empty() ? "" : "; ") + e;
    SendUnsearched(out, 0, std::nullopt, {problem, true});
  } else {
    SendPartitions(img, vs.get(), out, planned);
  }
  out.Send(listed);
  return planned;
}

// Searches the file system at `offset` (`fs`, when it is open already) and
// sends its logs and what the search saw.
void SearchVolume(TSK_IMG_INFO* img, std::uint64_t offset, FileSystem fs, WorkerChannel& out) {
  VolumeSeen seen;
  if (img == nullptr) {
    seen.problem = LastError().text;
    seen.failed = true;
    return seen.Send(out);
  }
  if (fs == nullptr) {
    Error error;
    fs = OpenFileSystem(img, static_cast<TSK_OFF_T>(offset), error);
    if (fs == nullptr) {
      const Unopened why = ExplainUnopened(error);
      seen.problem = why.problem;
      seen.failed = why.failed;
      return seen.Send(out);
    }
  }
  {
    MessageWriter m(MessageKind::kFileSystem);
    out.Send(m.Text(tsk_fs_type_toname(fs->ftype)));
  }
  Walk walk;
  tsk_error_reset();
  const bool walked = WalkFileSystem(fs.get(), walk);
  // A walk may end early on a damaged image and still say it succeeded;
  // other errors it leaves behind are of single entries.
  const Error walk_error = LastError();
  if (!walked || IsReadFailure(walk_error)) {
    seen.problem = walk_error.text;
    seen.failed = true;
  }
  seen.files = walk.files;
  seen.candidates = walk.candidates.size();
  for (const auto& [address, candidate] : walk.candidates) {
    if (Examine(fs.get(), address, candidate, seen, out)) ++seen.logs;
  }
  seen.Send(out);
}

}  // namespace

void SearchImage(const char* path, std::intptr_t device, WorkerChannel& out) {
  const ImageHandle img = OpenImage(path, device, &out);
  if (img == nullptr) return;
  for (Planned& volume : ListVolumes(img.get(), path, out)) {
    SearchVolume(img.get(), volume.offset, std::move(volume.fs), out);
  }
}

void SearchVolumes(const char* path, std::intptr_t device,
                   const std::vector<std::uint64_t>& offsets, WorkerChannel& out) {
  const ImageHandle img = OpenImage(path, device, nullptr);
  for (const std::uint64_t offset : offsets) SearchVolume(img.get(), offset, nullptr, out);
}

}  // namespace quenthar::image
