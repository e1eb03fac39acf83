#include "image/containment/image_search.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdio>
#include <map>
#include <set>
#include <utility>

#include "image/containment/sha256.h"
#include "log/loaded_log.h"

namespace quenthar::image {
namespace {

// More volumes than any table holds, and more of their text than they
// take: what a worker lists is kept until the image is done.
constexpr std::size_t kMaxVolumes = 1u << 14;
constexpr std::size_t kMaxListingText = 1u << 20;

// A volume the listing names: to be searched, or with its problem.
struct ListedVolume {
  VolumeChain chain;
  VolumePlace place;
  std::optional<std::string> problem;  // not searched, for this reason
  bool failed = false;
  NotSearched kind = NotSearched::kNo;
};

// The volumes of an image, as its workers list them: the listing worker's,
// and those found inside a volume, right after it. Each is listed once; the
// listing has its caps.
class Volumes {
 public:
  explicit Volumes(const std::string& image) : image_(image) {}

  /// Takes a listed volume, at `at` in the order of search; false when it
  /// cannot be one. A volume found inside another takes its partition.
  bool Add(VolumeListedMessage m, std::size_t at, std::uint64_t image_size,
           const ListedVolume* parent = nullptr) {
    // A volume to search lies inside the image, and is searched once.
    if (!m.problem && ((m.chain.offset != 0 && m.chain.offset >= image_size) ||
                       !to_search_.insert(m.chain).second)) {
      return false;
    }
    text_ += m.partition.value_or("").size() + m.problem.value_or("").size();
    if (list_.size() == kMaxVolumes || text_ > kMaxListingText) return false;
    ListedVolume v{std::move(m.chain), {}, std::move(m.problem), m.failed, m.kind};
    v.place.image = image_;
    v.place.partition_offset = v.chain.offset;
    if (parent != nullptr) {
      v.place.partition = parent->place.partition;
    } else {
      v.place.partition = std::move(m.partition);
    }
    for (const VolumeLayer& layer : v.chain.layers) {
      if (layer.kind == LayerKind::kStore) v.place.store = layer.index;
    }
    // A store's creation, from a FILETIME (100 ns since 1601) to seconds
    // since 1970.
    if (v.place.store && m.created) {
      v.place.store_created =
          Moment{static_cast<std::int64_t>(*m.created / 10000000) - 11644473600LL};
    }
    list_.insert(list_.begin() + static_cast<std::ptrdiff_t>(at), std::move(v));
    return true;
  }

  [[nodiscard]] std::size_t Size() const { return list_.size(); }
  [[nodiscard]] const ListedVolume& operator[](std::size_t i) const { return list_[i]; }

 private:
  struct ChainOrder {
    bool operator()(const VolumeChain& a, const VolumeChain& b) const {
      const auto key = [](const VolumeChain& c) {
        std::vector<std::uint64_t> k{c.offset};
        for (const VolumeLayer& l : c.layers) {
          k.push_back(static_cast<std::uint64_t>(l.kind));
          k.push_back(l.index);
        }
        return k;
      };
      return key(a) < key(b);
    }
  };
  const std::string& image_;
  std::vector<ListedVolume> list_;
  std::set<VolumeChain, ChainOrder> to_search_;
  std::size_t text_ = 0;
};

// The listing worker's messages before its volumes are searched, checked in
// the order they must come.
class Listing {
 public:
  explicit Listing(Volumes& volumes) : volumes_(volumes) {}

  Verdict Take(const Message& m) {
    switch (m.kind) {
      case MessageKind::kImageNotOpened: {
        if (opened_ || not_opened_) return Verdict::kBroken;
        not_opened_ = DecodeAs<ImageNotOpenedMessage>(m);
        return not_opened_ ? Verdict::kLast : Verdict::kBroken;
      }
      case MessageKind::kImageOpened: {
        const std::optional<ImageOpenedMessage> opened = DecodeAs<ImageOpenedMessage>(m);
        if (opened_ || not_opened_ || !opened) return Verdict::kBroken;
        opened_ = true;
        size_ = opened->size;
        format_ = opened->format;
        return Verdict::kMore;
      }
      case MessageKind::kImageIncomplete:
        if (!opened_ || incomplete_ || volumes_.Size() != 0 ||
            !DecodeAs<ImageIncompleteMessage>(m)) {
          return Verdict::kBroken;
        }
        incomplete_ = true;
        return Verdict::kMore;
      case MessageKind::kVolumeListed: {
        std::optional<VolumeListedMessage> v = DecodeAs<VolumeListedMessage>(m);
        // The listing's own volumes are partitions, inside no other volume.
        if (!opened_ || !v || !v->chain.layers.empty()) return Verdict::kBroken;
        return volumes_.Add(std::move(*v), volumes_.Size(), size_) ? Verdict::kMore
                                                                   : Verdict::kBroken;
      }
      case MessageKind::kListingDone:
        return opened_ && DecodeAs<ListingDoneMessage>(m) ? Verdict::kLast : Verdict::kBroken;
      case MessageKind::kBackingFile:
        if (opened_ || not_opened_ || backing_file_) return Verdict::kBroken;
        backing_file_ = DecodeAs<BackingFileMessage>(m);
        return backing_file_ ? Verdict::kLast : Verdict::kBroken;
      default: return Verdict::kBroken;
    }
  }

  [[nodiscard]] const std::optional<ImageNotOpenedMessage>& NotOpened() const {
    return not_opened_;
  }
  /// The backing file the image asks for, when it asked for one.
  [[nodiscard]] const std::optional<BackingFileMessage>& BackingFile() const {
    return backing_file_;
  }
  [[nodiscard]] bool Incomplete() const { return incomplete_; }
  [[nodiscard]] std::uint64_t ImageSize() const { return size_; }
  [[nodiscard]] const std::string& Format() const { return format_; }

 private:
  Volumes& volumes_;
  bool opened_ = false;
  std::optional<ImageNotOpenedMessage> not_opened_;
  std::optional<BackingFileMessage> backing_file_;
  bool incomplete_ = false;
  std::uint64_t size_ = 0;
  std::string format_;
};

// A found log's bytes as a report loads them: after its header, as many as a
// file of the same bytes would load.
std::vector<std::uint8_t> LoadedBytes(const std::vector<std::uint8_t>& file, const LogForm& form,
                                      const LogHeader& header) {
  const auto begin =
      file.begin() + form.header_offset + static_cast<std::ptrdiff_t>(LogHeader::kSize);
  return {begin, begin + static_cast<std::ptrdiff_t>(LoadedCapacity(form, header))};
}

// What the checks of one image's volumes share: where records go, the keys
// and what they are called, the secrets the current worker was given, and
// the logs reported so far, by the volume they lie in (a store's copy of the
// same bytes is reported once in full).
struct SearchContext {
  const SearchEvents& events;
  const std::vector<KeySecret>& keys;
  std::set<std::uint32_t> given;
  // Of each volume (its chain without a store), each whole log's digest:
  // the source of its first copy, and the store it was found in (0: live).
  std::map<std::string,
           std::map<std::array<std::uint8_t, 32>, std::pair<std::string, std::uint32_t>>>
      copies;
};

// The volume a chain lies in, shadow-copy stores left out.
std::string VolumeKey(const VolumeChain& chain) {
  std::string key = std::to_string(chain.offset);
  for (const VolumeLayer& layer : chain.layers) {
    if (layer.kind == LayerKind::kBitLocker) key += "/" + std::to_string(layer.index);
  }
  return key;
}

// One volume worker's messages, checked in the order they must come; each
// log goes on to the events as soon as it holds together.
class VolumeCheck {
 public:
  VolumeCheck(const ListedVolume& volume, SearchContext& context)
      : chain_(volume.chain), context_(context) {
    record_.volume = volume.place;
    // A volume inside an unlocked one: opened by the secret its chain names.
    for (const VolumeLayer& layer : chain_.layers) {
      if (layer.kind == LayerKind::kBitLocker && layer.index < context_.keys.size()) {
        Unlocked(layer.index);
      }
    }
  }

  /// Takes a message; a volume found inside this one goes to `found`.
  Verdict Take(const Message& m, const std::function<bool(VolumeListedMessage)>& found) {
    switch (m.kind) {
      case MessageKind::kEncryption: {
        const std::optional<EncryptionMessage> e = DecodeAs<EncryptionMessage>(m);
        // Once, before anything of the volume's; by a secret the worker was given.
        if (!e || record_.encryption || record_.volume.file_system || logs_ != 0 ||
            (e->opened_by && !context_.given.contains(*e->opened_by))) {
          return Verdict::kBroken;
        }
        record_.encryption = "bitlocker";
        if (e->opened_by) {
          // What lies inside it lies inside the unlocked volume.
          chain_.layers.push_back({LayerKind::kBitLocker, *e->opened_by});
          Unlocked(*e->opened_by);
        }
        return Verdict::kMore;
      }
      case MessageKind::kFileSystem: {
        std::optional<FileSystemMessage> fs = DecodeAs<FileSystemMessage>(m);
        if (!fs || record_.volume.file_system || logs_ != 0) return Verdict::kBroken;
        record_.volume.file_system = std::move(fs->type);
        return Verdict::kMore;
      }
      case MessageKind::kLogFound: {
        std::optional<LogFoundMessage> log = DecodeAs<LogFoundMessage>(m);
        return log && TakeLog(std::move(*log)) ? Verdict::kMore : Verdict::kBroken;
      }
      case MessageKind::kProgress: {
        const std::optional<ProgressMessage> p = DecodeAs<ProgressMessage>(m);
        if (!p || !record_.volume.file_system) return Verdict::kBroken;
        if (context_.events.progress) context_.events.progress(p->files);
        return Verdict::kMore;
      }
      case MessageKind::kVolumeListed: {
        std::optional<VolumeListedMessage> inside = DecodeAs<VolumeListedMessage>(m);
        // One layer deeper than this volume, in it.
        if (!inside || inside->chain.offset != chain_.offset ||
            inside->chain.layers.size() != chain_.layers.size() + 1 ||
            !std::equal(chain_.layers.begin(), chain_.layers.end(), inside->chain.layers.begin())) {
          return Verdict::kBroken;
        }
        const VolumeLayer& added = inside->chain.layers.back();
        // A store lies in a file system; an unlocked volume is this one.
        if (added.kind == LayerKind::kBitLocker || !record_.volume.file_system) {
          return Verdict::kBroken;
        }
        return found(std::move(*inside)) ? Verdict::kMore : Verdict::kBroken;
      }
      case MessageKind::kVolumeSearched: {
        const std::optional<VolumeSearchedMessage> seen = DecodeAs<VolumeSearchedMessage>(m);
        // Every log was a candidate, and every candidate a file.
        if (!seen || seen->logs != logs_ || seen->candidates < seen->logs ||
            seen->files < seen->candidates) {
          return Verdict::kBroken;
        }
        record_.files = seen->files;
        record_.candidates = seen->candidates;
        record_.logs = seen->logs;
        record_.problem = seen->problem;
        record_.failed = seen->failed;
        record_.not_searched = seen->kind;
        return Verdict::kLast;
      }
      default: return Verdict::kBroken;
    }
  }

  /// The volume record: what the worker sent, or, when it failed, the logs
  /// it had handed over and why it failed.
  VolumeRecord Finish(std::optional<std::string> failure, NotSearched kind) {
    if (failure) {
      record_.files = record_.candidates = record_.logs = logs_;
      record_.problem = std::move(failure);
      record_.failed = true;
      record_.search_failed = true;
      record_.not_searched = kind;
    }
    return std::move(record_);
  }

 private:
  void Unlocked(std::uint32_t secret) {
    record_.encryption = "bitlocker";
    record_.unlocked_with = context_.keys[secret].label;
  }

  bool TakeLog(LogFoundMessage m) {
    // Logs come in address order, each once, under a path from the root.
    const std::optional<LogForm> form = FormOfLength(static_cast<std::int64_t>(m.size));
    if (!form || m.path.empty() || m.path.front() != '/' ||
        (logs_ != 0 && m.address <= last_address_)) {
      return false;
    }
    // The whole file, or its header alone.
    const bool whole = m.bytes.size() == m.size;
    if (!whole && m.bytes.size() != LogHeader::kSize) return false;
    FoundLog found;
    found.form = *form;
    found.header = LogHeader::Decode(m.bytes.data() + (whole ? form->header_offset : 0));
    if (!HasLogSignature(found.header)) return false;
    LogLocation& l = found.location;
    l.volume = record_.volume;
    l.path = std::move(m.path);
    l.address = m.address;
    l.allocated = m.allocated;
    l.size = m.size;
    l.times = m.times;
    if (whole) {
      l.sha256 = Sha256(m.bytes);
      if (!SameAsBefore(l)) found.loaded = LoadedBytes(m.bytes, *form, found.header);
    }
    last_address_ = l.address;
    ++logs_;
    context_.events.log(found);
    return true;
  }

  // Whether a store's log repeats a whole copy found before in the same
  // volume, live or in an earlier store: it then says which.
  bool SameAsBefore(LogLocation& l) {
    if (!l.sha256) return false;
    const std::uint32_t store = l.volume.store.value_or(0);
    auto& seen = context_.copies[VolumeKey(chain_)];
    const auto [first, added] = seen.try_emplace(*l.sha256, l.Source(), store);
    if (added || first->second.second >= store) return false;
    l.same_as = first->second.first;
    return true;
  }

  VolumeChain chain_;
  SearchContext& context_;
  VolumeRecord record_;
  std::uint64_t logs_ = 0;
  std::uint64_t last_address_ = 0;
};

// An image whose search as a whole ran out of time.
std::string ImageTimeText(const SearchOptions& limits) {
  return "The search of this image took longer than " + std::to_string(limits.image_time_limit_s) +
         " s";
}

// Why a worker did not finish, as its volume's or its image's problem.
std::string FailureText(const WorkerOutcome& o, const char* what, const SearchOptions& limits) {
  std::string search = std::string("The search of this ") + what;
  switch (o.end) {
    case WorkerEnd::kFinished: break;
    case WorkerEnd::kCrashed: return search + " crashed (signal " + std::to_string(o.code) + ")";
    case WorkerEnd::kException: {
      char code[16];
      std::snprintf(code, sizeof code, "0x%08X", static_cast<unsigned>(o.code));
      return search + " crashed (exception " + code + ")";
    }
    case WorkerEnd::kExited: return search + " failed (exit status " + std::to_string(o.code) + ")";
    case WorkerEnd::kTimedOut:
      return search + " took longer than " + std::to_string(limits.time_limit_s) + " s";
    case WorkerEnd::kImageTimedOut: return ImageTimeText(limits);
    case WorkerEnd::kSandboxStop:
      return search + " was stopped by the sandbox (a forbidden system call)";
    case WorkerEnd::kSandboxRefused:
      return search + " cannot be sandboxed here (" + o.text +
             "); --no-sandbox searches without the sandbox";
    case WorkerEnd::kIncoherent: return search + " sent data that does not hold together";
  }
  return search;
}

// The kind of a worker's failure.
NotSearched KindOf(const WorkerOutcome& o) {
  return o.end == WorkerEnd::kTimedOut || o.end == WorkerEnd::kImageTimedOut
             ? NotSearched::kTimedOut
             : NotSearched::kCrashed;
}

// A sentence as the second half of another.
std::string Lowered(std::string text) {
  if (!text.empty()) text[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(text[0])));
  return text;
}

// One image's search, across the workers it takes: the first lists the
// volumes and searches them in order; when one fails, the volume it was at
// is reported and another worker searches the volumes after it.
class ImageCheck {
 public:
  ImageCheck(const std::string& name, const SearchEvents& events,
             const std::vector<KeySecret>& keys, SearchResult& result)
      : volumes_(name), listing_(volumes_), context_{events, keys, {}, {}}, result_(result) {}

  /// The secrets the next worker is given.
  void Given(const std::vector<Secret>& secrets) {
    context_.given.clear();
    for (const Secret& s : secrets) context_.given.insert(s.number);
  }

  Verdict Take(const Message& m) {
    if (!listed_) {
      const Verdict v = listing_.Take(m);
      if (v != Verdict::kLast || listing_.NotOpened()) return v;
      listed_ = true;
      result_.incomplete = listing_.Incomplete();
      result_.failed = result_.incomplete;
      return Advance();
    }
    if (!current_) return Verdict::kBroken;
    const Verdict v = current_->Take(m, [this](VolumeListedMessage inside) {
      return volumes_.Add(std::move(inside), next_ + ++inside_, listing_.ImageSize(),
                          &volumes_[next_]);
    });
    if (v != Verdict::kLast) return v;
    Report(current_->Finish(std::nullopt, NotSearched::kNo));
    return Advance();
  }

  [[nodiscard]] bool Listed() const { return listed_; }
  [[nodiscard]] bool Searching() const { return current_.has_value(); }
  [[nodiscard]] const Listing& ListingSeen() const { return listing_; }

  /// After a worker failed: reports the volume it was at, and returns the
  /// volumes still to search (none: the search is over).
  std::vector<VolumeChain> AfterFailure(std::string failure, NotSearched kind) {
    if (!current_) return {};
    Report(current_->Finish(std::move(failure), kind));
    std::vector<VolumeChain> left;
    if (Advance() == Verdict::kLast) return left;
    for (std::size_t i = next_; i < volumes_.Size(); ++i) {
      if (!volumes_[i].problem) left.push_back(volumes_[i].chain);
    }
    return left;
  }

  /// When the image's time is up: reports the volume being searched and
  /// every one after it, those to search as not searched for `why`.
  void GiveUp(const std::string& why) {
    if (!current_) return;
    Report(current_->Finish(why + "; this volume was not searched whole", NotSearched::kTimedOut));
    current_.reset();
    for (++next_; next_ < volumes_.Size(); ++next_) {
      const ListedVolume& v = volumes_[next_];
      VolumeRecord record;
      record.volume = v.place;
      record.problem = v.problem.value_or("Not searched: " + Lowered(why));
      record.failed = v.failed || !v.problem;
      record.search_failed = !v.problem;
      record.not_searched = v.problem ? v.kind : NotSearched::kTimedOut;
      Report(record);
    }
  }

 private:
  void Report(const VolumeRecord& record) {
    result_.failed = result_.failed || record.failed;
    result_.logs += record.logs;
    context_.events.volume(record);
  }

  // Reports the volumes not to be searched that come next, and begins the
  // next one to search: a step, or the last when none is left.
  Verdict Advance() {
    if (current_) ++next_;
    current_.reset();
    inside_ = 0;
    for (; next_ < volumes_.Size() && volumes_[next_].problem; ++next_) {
      const ListedVolume& v = volumes_[next_];
      VolumeRecord record;
      record.volume = v.place;
      record.problem = v.problem;
      record.failed = v.failed;
      record.not_searched = v.kind;
      Report(record);
    }
    if (next_ == volumes_.Size()) return Verdict::kLast;
    current_.emplace(volumes_[next_], context_);
    if (context_.events.volume_begun) context_.events.volume_begun(volumes_[next_].place);
    return Verdict::kStep;
  }

  Volumes volumes_;
  Listing listing_;
  SearchContext context_;
  SearchResult& result_;
  bool listed_ = false;
  std::size_t next_ = 0;    // the volume being searched, or the next to report
  std::size_t inside_ = 0;  // the volumes found inside it so far
  std::optional<VolumeCheck> current_;
};

// The secrets a job needs: each volume inside an unlocked one, the one that
// opened it; any other, every one (it may be locked).
std::vector<Secret> SecretsFor(const JobMessage& job, const std::vector<KeySecret>& keys) {
  bool all = job.list;
  std::set<std::uint32_t> needed;
  for (const VolumeChain& chain : job.volumes) {
    const auto bitlocker =
        std::find_if(chain.layers.begin(), chain.layers.end(),
                     [](const VolumeLayer& l) { return l.kind == LayerKind::kBitLocker; });
    if (bitlocker == chain.layers.end()) {
      all = true;
    } else {
      needed.insert(bitlocker->index);
    }
  }
  std::vector<Secret> secrets;
  for (const KeySecret& k : keys) {
    if (all || needed.contains(k.secret.number)) secrets.push_back(k.secret);
  }
  return secrets;
}

// Why a backing file the image names cannot be given to a worker: it must be
// a regular file beside the image, named without a folder.
std::optional<std::string> RefusedBackingFile(const std::string& image, const std::string& name) {
  const std::string said = "The image's backing file " + name;
  if (name == "." || name == ".." || name.find_first_of("/\\") != std::string::npos) {
    return said + " is not a file beside it";
  }
#if defined(_WIN32)
  const std::size_t slash = image.find_last_of("/\\");
#else
  const std::size_t slash = image.rfind('/');
#endif
  const std::string path = (slash == std::string::npos ? "" : image.substr(0, slash + 1)) + name;
  if (CheckImage(path) != Access::kSearchable) return said + " is missing";
  return std::nullopt;
}

}  // namespace

SearchResult SearchImage(const std::string& name, const std::string& path,
                         const SearchOptions& options, const SearchEvents& events,
                         const WorkerRunner& run) {
  SearchResult result;
  switch (CheckImage(path)) {
    case Access::kSearchable: break;
    case Access::kUnopenable: return result;
    case Access::kNeedsAdministrator:
      result.opened = true;
      result.failed = true;
      result.failure = "Reading a disk needs an administrator";
      return result;
  }

  std::optional<ImageCheck> check;
  const OnMessage take = [&check](const Message& m) { return check->Take(m); };
  JobMessage job{path, true, {}, options.shadow_copies, {}, {}};
  Duration image_left = std::chrono::seconds(options.image_time_limit_s);
  WorkerOutcome outcome;
  const auto failed = [&result](std::string why) {
    result.opened = true;
    result.failed = true;
    result.failure = std::move(why);
    return result;
  };
  // The listing, again with each backing file the image asks for.
  for (;;) {
    result = {};
    check.emplace(name, events, options.keys, result);
    job.secrets = SecretsFor(job, options.keys);
    check->Given(job.secrets);
    outcome = run(options, job, image_left, take);
    const std::optional<BackingFileMessage>& backing = check->ListingSeen().BackingFile();
    if (outcome.end != WorkerEnd::kFinished || !backing) break;
    if (job.backing_files.size() == kMaxBackingFiles) {
      return failed("The image's backing files nest deeper than " +
                    std::to_string(kMaxBackingFiles));
    }
    if (std::optional<std::string> why = RefusedBackingFile(path, backing->name)) {
      return failed(std::move(*why));
    }
    job.backing_files.push_back(backing->name);
  }
  if (!check->Listed()) {
    const std::optional<ImageNotOpenedMessage>& not_opened = check->ListingSeen().NotOpened();
    if (outcome.end != WorkerEnd::kFinished || !not_opened) {
      return failed(FailureText(outcome, "image", options));
    }
    switch (not_opened->why) {
      case NotOpened::kLibraryRefused: return result;  // no image
      case NotOpened::kCannotOpen: return failed("Can't open the image: " + not_opened->error);
      case NotOpened::kDamaged:
        return failed("The image is damaged or incomplete: " + not_opened->error);
      case NotOpened::kOutOfMemory:
        return failed("The search of this image ran out of memory (--memory-limit " +
                      std::to_string(options.memory_limit_mib) + " MiB)");
    }
  }
  result.opened = true;
  result.format = check->ListingSeen().Format();
  result.size = check->ListingSeen().ImageSize();
  while (outcome.end != WorkerEnd::kFinished) {
    if (!check->Searching()) {
      // Every volume is reported: what failed came after the last.
      result.failed = true;
      result.failure = FailureText(outcome, "image", options);
      break;
    }
    if (outcome.end == WorkerEnd::kImageTimedOut) {
      check->GiveUp(ImageTimeText(options));
      break;
    }
    job.list = false;
    job.volumes = check->AfterFailure(FailureText(outcome, "volume", options), KindOf(outcome));
    if (job.volumes.empty()) break;
    job.secrets = SecretsFor(job, options.keys);
    check->Given(job.secrets);
    outcome = run(options, job, image_left, take);
  }
  return result;
}

}  // namespace quenthar::image
