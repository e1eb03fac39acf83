#include "image/image_search.h"

#include <libewf.h>
#include <openssl/evp.h>
#include <sys/stat.h>
#include <tsk/libtsk.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <limits>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string_view>

#include "log/records.h"
#include "log/utf16.h"

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

// An error that tells of a failed read: the image is damaged or incomplete,
// which must never pass for a volume without a file system.
bool IsReadFailure(const Error& e) {
  if (e.number == TSK_ERR_IMG_READ || e.number == TSK_ERR_IMG_READ_OFF ||
      e.number == TSK_ERR_FS_READ || e.number == TSK_ERR_VS_READ) {
    return true;
  }
  std::string lower = e.text;
  std::transform(lower.begin(), lower.end(), lower.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  constexpr std::string_view kSigns[] = {"unable to read", "error reading", "read error",
                                         "missing chunk",  "_read",         "read_"};
  return std::ranges::any_of(
      kSigns, [&lower](std::string_view sign) { return lower.find(sign) != std::string::npos; });
}

bool IsLogLength(TSK_OFF_T size) {
  return size == kSystemLog.file_size || size == kBootPartitionLog.file_size;
}

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

std::array<std::uint8_t, 32> Sha256(const std::vector<std::uint8_t>& bytes) {
  std::array<std::uint8_t, 32> digest{};
  unsigned int length = 0;
  EVP_Digest(bytes.data(), bytes.size(), digest.data(), &length, EVP_sha256(), nullptr);
  return digest;
}

// Reads n bytes at offset; false unless all of them were read.
bool ReadAt(TSK_FS_FILE* file, TSK_OFF_T offset, std::uint8_t* into, std::size_t n) {
  const ssize_t got =
      tsk_fs_file_read(file, offset, reinterpret_cast<char*>(into), n, TSK_FS_FILE_READ_FLAG_NONE);
  return got >= 0 && static_cast<std::size_t>(got) == n;
}

enum class Verdict { kNotALog, kLog, kUnreadable };

// A log: a header whose third field is 65,536 and whose Ver is 1 to 255. The
// header is read into `raw`.
Verdict CheckHeader(TSK_FS_FILE* file, const LogForm& form,
                    std::array<std::uint8_t, LogHeader::kSize>& raw) {
  if (!ReadAt(file, form.header_offset, raw.data(), raw.size())) return Verdict::kUnreadable;
  const LogHeader h = LogHeader::Decode(raw.data());
  return h.reserved == 65536 && h.ver >= 1 && h.ver <= 255 ? Verdict::kLog : Verdict::kNotALog;
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
void ExplainUnopened(const Error& error, VolumeRecord& volume) {
  if (!IsReadFailure(error)) {
    switch (error.number) {
      case TSK_ERR_FS_ENCRYPTED: volume.problem = "Encrypted volume"; return;
      case TSK_ERR_FS_POSSIBLY_ENCRYPTED: volume.problem = "Possibly encrypted volume"; return;
      case TSK_ERR_FS_UNKTYPE: volume.problem = "No file system found"; return;
      default: break;
    }
  }
  volume.problem = error.text;
  volume.failed = true;
}

class Search {
 public:
  Search(TSK_IMG_INFO* img, const SearchEvents& events, SearchResult& result)
      : img_(img), events_(events), result_(result) {}

  // Searches the file system of one volume, or says why it could not.
  void Volume(VolumePlace place, FileSystem fs, const Error& open_error) {
    VolumeRecord volume;
    volume.volume = std::move(place);
    if (fs == nullptr) {
      ExplainUnopened(open_error, volume);
    } else {
      volume.volume.file_system = tsk_fs_type_toname(fs->ftype);
      Walk walk;
      tsk_error_reset();
      const bool walked = WalkFileSystem(fs.get(), walk);
      // A walk may end early on a damaged image and still say it succeeded;
      // other errors it leaves behind are of single entries.
      const Error error = LastError();
      if (!walked || IsReadFailure(error)) {
        volume.problem = error.text;
        volume.failed = true;
      }
      volume.files = walk.files;
      volume.candidates = walk.candidates.size();
      for (const auto& [address, candidate] : walk.candidates) {
        if (Examine(fs.get(), volume, address, candidate)) ++volume.logs;
      }
    }
    result_.failed = result_.failed || volume.failed;
    result_.logs += volume.logs;
    events_.volume(volume);
  }

  // Searches a volume at a byte offset of the image.
  void VolumeAt(VolumePlace place) {
    Error error;
    FileSystem fs = OpenFileSystem(img_, static_cast<TSK_OFF_T>(place.partition_offset), error);
    Volume(std::move(place), std::move(fs), error);
  }

  // A volume the search cannot open, for a reason of its own.
  void Unsearched(VolumePlace place, std::string problem) {
    VolumeRecord volume;
    volume.volume = std::move(place);
    volume.problem = std::move(problem);
    volume.failed = true;
    result_.failed = true;
    events_.volume(volume);
  }

 private:
  // Reports the candidate when it is a log; true when it was one.
  bool Examine(TSK_FS_INFO* fs, VolumeRecord& volume, TSK_INUM_T address,
               const Candidate& candidate) {
    const File file(tsk_fs_file_open_meta(fs, nullptr, address));
    if (file == nullptr || file->meta == nullptr) {
      if (candidate.allocated) Unreadable(volume);
      return false;
    }
    const std::optional<LogForm> form = FormOfLength(file->meta->size);
    if (!form) return false;
    std::array<std::uint8_t, LogHeader::kSize> header{};
    switch (CheckHeader(file.get(), *form, header)) {
      case Verdict::kNotALog: return false;
      // A deleted file's clusters may be gone: then it is no log that can be told.
      case Verdict::kUnreadable:
        if (candidate.allocated) Unreadable(volume);
        return false;
      case Verdict::kLog: break;
    }
    FoundLog found;
    found.location.volume = volume.volume;
    found.location.path = candidate.path.empty() ? NtfsPath(fs, *file->meta) : candidate.path;
    found.location.address = address;
    found.location.allocated = candidate.allocated;
    found.location.size = static_cast<std::uint64_t>(form->file_size);
    found.bytes.resize(static_cast<std::size_t>(form->file_size));
    found.read_whole = ReadAt(file.get(), 0, found.bytes.data(), found.bytes.size());
    if (found.read_whole) {
      found.location.sha256 = Sha256(found.bytes);
    } else {
      // What was read of it is not to be trusted, but its header was.
      std::fill(found.bytes.begin(), found.bytes.end(), 0);
      std::copy(header.begin(), header.end(), found.bytes.begin() + form->header_offset);
      volume.failed = true;
    }
    events_.log(found);
    return true;
  }

  // An allocated file of a log's length that cannot be read may be a log.
  static void Unreadable(VolumeRecord& volume) {
    if (!volume.problem) volume.problem = "A file of a log's length cannot be read";
    volume.failed = true;
  }

  TSK_IMG_INFO* img_;
  const SearchEvents& events_;
  SearchResult& result_;
};

// The partition table of the image, as detection finds it, or none.
VolumeSystem OpenVolumeSystem(TSK_IMG_INFO* img, std::vector<std::string>& errors) {
  tsk_error_reset();
  if (TSK_VS_INFO* vs = tsk_vs_open(img, 0, TSK_VS_TYPE_DETECT)) return VolumeSystem(vs);
  const Error error = LastError();
  if (IsReadFailure(error)) errors.push_back(error.text);
  return nullptr;
}

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
      // whole table for it. Read as if the image were long enough, the table
      // gives its partitions, and each is checked against the real end.
      const TSK_OFF_T size = img->size;
      img->size = std::numeric_limits<TSK_OFF_T>::max() / 2;
      tsk_error_reset();
      TSK_VS_INFO* vs = tsk_vs_open(img, 0, type);
      img->size = size;
      if (vs != nullptr) return VolumeSystem(vs);
    }
    if (error.number != TSK_ERR_VS_MAGIC && error.number != TSK_ERR_VS_UNKTYPE) {
      errors.push_back(error.text);
    }
  }
  return nullptr;
}

void SearchPartitions(TSK_IMG_INFO* img, const TSK_VS_INFO* vs, const std::string& name,
                      Search& search) {
  const auto image_size = static_cast<std::uint64_t>(img->size);
  for (TSK_PNUM_T i = 0; i < vs->part_count; ++i) {
    const TSK_VS_PART_INFO* part = tsk_vs_part_get(vs, i);
    if (part == nullptr || (part->flags & TSK_VS_PART_FLAG_ALLOC) == 0) continue;
    VolumePlace place;
    place.image = name;
    place.partition_offset =
        static_cast<std::uint64_t>(vs->offset) + std::uint64_t{part->start} * vs->block_size;
    if (part->desc != nullptr && part->desc[0] != '\0') place.partition = ValidUtf8(part->desc);
    const std::uint64_t end = place.partition_offset + std::uint64_t{part->len} * vs->block_size;
    if (place.partition_offset >= image_size) {
      search.Unsearched(std::move(place), "Partition starts past the end of the image");
    } else if (end > image_size) {
      search.Unsearched(std::move(place), "Partition ends past the end of the image");
    } else {
      search.VolumeAt(std::move(place));
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
// library itself.
bool EwfSetIncomplete(const char* path) {
  char** names = nullptr;
  int count = 0;
  if (libewf_glob(path, std::strlen(path), LIBEWF_FORMAT_UNKNOWN, &names, &count, nullptr) != 1) {
    return true;
  }
  libewf_handle_t* raw = nullptr;
  bool incomplete = true;
  if (libewf_handle_initialize(&raw, nullptr) == 1) {
    const std::unique_ptr<libewf_handle_t, EwfHandleCloser> handle(raw);
    incomplete = libewf_handle_open(raw, names, count, LIBEWF_OPEN_READ, nullptr) != 1 ||
                 libewf_handle_segment_files_corrupted(raw, nullptr) != 0;
  }
  libewf_glob_free(names, count, nullptr);
  return incomplete;
}

}  // namespace

SearchResult SearchImage(const std::string& name, const char* path, const SearchEvents& events) {
  SearchResult result;
  // The library would wait forever on a FIFO without a writer.
  struct stat st {};
  if (stat(path, &st) != 0 || !(S_ISREG(st.st_mode) || S_ISBLK(st.st_mode))) return result;
  tsk_error_reset();
  const ImageHandle img(tsk_img_open_utf8_sing(path, TSK_IMG_TYPE_DETECT, 0));
  if (img == nullptr) return result;
  result.opened = true;
  if (img->itype == TSK_IMG_TYPE_EWF_EWF && EwfSetIncomplete(path)) {
    result.incomplete = true;
    result.failed = true;
  }
  Search search(img.get(), events, result);
  VolumePlace whole;
  whole.image = name;

  std::vector<std::string> table_errors;
  VolumeSystem vs = OpenVolumeSystem(img.get(), table_errors);
  if (vs == nullptr && table_errors.empty()) {
    // No table: one file system over the whole image, when there is one.
    Error error;
    FileSystem fs = OpenFileSystem(img.get(), 0, error);
    if (fs != nullptr || IsReadFailure(error)) {
      search.Volume(std::move(whole), std::move(fs), error);
      return result;
    }
    vs = OpenVolumeSystemOfKind(img.get(), table_errors);
    if (vs == nullptr && table_errors.empty()) {
      search.Volume(std::move(whole), nullptr, error);
      return result;
    }
  }
  if (vs == nullptr) {
    std::string problem;
    for (const std::string& e : table_errors) problem += (problem.empty() ? "" : "; ") + e;
    search.Unsearched(std::move(whole), problem);
    return result;
  }
  SearchPartitions(img.get(), vs.get(), name, search);
  return result;
}

}  // namespace quenthar::image
