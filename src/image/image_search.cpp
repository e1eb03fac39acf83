#include "image/image_search.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdio>
#include <set>

#include "image/sha256.h"
#include "log/records.h"

namespace quenthar::image {
namespace {

// More volumes than any table holds, and more of their text than they
// take: what a worker lists is kept until the image is done.
constexpr std::size_t kMaxVolumes = 1u << 14;
constexpr std::size_t kMaxListingText = 1u << 20;

// A volume the listing names: to be searched, or with its problem.
struct ListedVolume {
  VolumePlace place;
  std::optional<std::string> problem;  // not searched, for this reason
  bool failed = false;
};

// The listing worker's messages, checked in the order they must come.
class Listing {
 public:
  explicit Listing(const std::string& name) : name_(name) {}

  Verdict Take(const Message& m) {
    MessageReader r(m.body, m.size);
    switch (m.kind) {
      case MessageKind::kImageNotOpened:
        if (opened_ || not_opened_) return Verdict::kBroken;
        not_opened_ = true;
        return r.U8(why_) && why_ <= kCannotOpen && r.Text(error_, kMaxProblem) && r.Done()
                   ? Verdict::kLast
                   : Verdict::kBroken;
      case MessageKind::kImageOpened:
        if (opened_ || not_opened_) return Verdict::kBroken;
        opened_ = true;
        return r.U64(size_) && r.Done() ? Verdict::kMore : Verdict::kBroken;
      case MessageKind::kImageIncomplete:
        if (!opened_ || incomplete_ || !volumes_.empty() || !r.Done()) return Verdict::kBroken;
        incomplete_ = true;
        return Verdict::kMore;
      case MessageKind::kVolumeToSearch:
      case MessageKind::kVolumeUnsearched: return TakeVolume(m.kind, r);
      case MessageKind::kVolumesListed:
        return opened_ && r.Done() ? Verdict::kLast : Verdict::kBroken;
      default: return Verdict::kBroken;
    }
  }

  [[nodiscard]] bool NotOpened() const { return not_opened_; }
  [[nodiscard]] bool OutOfMemory() const { return not_opened_ && why_ == kOutOfMemory; }
  /// Why the worker could not open the image that this process could.
  [[nodiscard]] std::optional<std::string> CannotOpen() const {
    if (!not_opened_ || why_ != kCannotOpen) return std::nullopt;
    return "Can't open the image: " + error_;
  }
  [[nodiscard]] bool Incomplete() const { return incomplete_; }
  [[nodiscard]] const std::vector<ListedVolume>& Volumes() const { return volumes_; }

 private:
  Verdict TakeVolume(MessageKind kind, MessageReader& r) {
    if (!opened_ || volumes_.size() == kMaxVolumes) return Verdict::kBroken;
    ListedVolume v;
    v.place.image = name_;
    if (!r.U64(v.place.partition_offset) || !r.OptionalText(v.place.partition, kMaxName)) {
      return Verdict::kBroken;
    }
    if (kind == MessageKind::kVolumeUnsearched) {
      std::string problem;
      if (!r.Text(problem, kMaxProblem) || problem.empty() || !r.Flag(v.failed)) {
        return Verdict::kBroken;
      }
      v.problem = std::move(problem);
    } else if ((v.place.partition_offset != 0 && v.place.partition_offset >= size_) ||
               !to_search_.insert(v.place.partition_offset).second) {
      // A volume to search lies inside the image, and is searched once.
      return Verdict::kBroken;
    }
    text_ += v.place.partition.value_or("").size() + v.problem.value_or("").size();
    if (!r.Done() || text_ > kMaxListingText) return Verdict::kBroken;
    volumes_.push_back(std::move(v));
    return Verdict::kMore;
  }

  const std::string& name_;
  bool opened_ = false;
  bool not_opened_ = false;
  std::uint8_t why_ = kLibraryRefused;
  bool incomplete_ = false;
  std::string error_;
  std::uint64_t size_ = 0;
  std::vector<ListedVolume> volumes_;
  std::set<std::uint64_t> to_search_;
  std::size_t text_ = 0;
};

// A volume worker's messages, checked in the order they must come; each log
// goes on to the events as soon as it holds together.
class VolumeSearch {
 public:
  VolumeSearch(VolumePlace place, const SearchEvents& events) : events_(events) {
    record_.volume = std::move(place);
  }

  Verdict Take(const Message& m) {
    MessageReader r(m.body, m.size);
    switch (m.kind) {
      case MessageKind::kFileSystem: {
        std::string name;
        if (record_.volume.file_system || logs_ != 0 || !r.Text(name, kMaxName) || name.empty() ||
            !r.Done()) {
          return Verdict::kBroken;
        }
        record_.volume.file_system = std::move(name);
        return Verdict::kMore;
      }
      case MessageKind::kLog: return TakeLog(r);
      case MessageKind::kVolumeSearched: {
        VolumeRecord& v = record_;
        if (!r.U64(v.files) || !r.U64(v.candidates) || !r.U64(v.logs) ||
            !r.OptionalText(v.problem, kMaxProblem) || !r.Flag(v.failed) || !r.Done()) {
          return Verdict::kBroken;
        }
        // Every log was a candidate, and every candidate a file.
        if (v.logs != logs_ || v.candidates < v.logs || v.files < v.candidates ||
            (v.problem && v.problem->empty())) {
          return Verdict::kBroken;
        }
        return Verdict::kLast;
      }
      default: return Verdict::kBroken;
    }
  }

  /// The volume record: what the worker sent, or, when it failed, the logs
  /// it had handed over and why it failed.
  VolumeRecord Finish(std::optional<std::string> failure) {
    if (failure) {
      record_.files = record_.candidates = record_.logs = logs_;
      record_.problem = std::move(failure);
      record_.failed = true;
      record_.search_failed = true;
    }
    return std::move(record_);
  }

 private:
  Verdict TakeLog(MessageReader& r) {
    FoundLog found;
    LogLocation& l = found.location;
    std::vector<std::uint8_t> bytes;
    if (!r.Text(l.path, kMaxPath) || !r.U64(l.address) || !r.Flag(l.allocated) || !r.U64(l.size) ||
        !r.Bytes(bytes) || !r.Done()) {
      return Verdict::kBroken;
    }
    // Logs come in address order, each once, under a path from the root.
    const std::optional<LogForm> form = FormOfLength(static_cast<std::int64_t>(l.size));
    if (!form || l.path.empty() || l.path.front() != '/' ||
        (logs_ != 0 && l.address <= last_address_)) {
      return Verdict::kBroken;
    }
    found.read_whole = bytes.size() == l.size;
    if (found.read_whole) {
      found.bytes = std::move(bytes);
    } else if (bytes.size() == LogHeader::kSize) {
      found.bytes.assign(static_cast<std::size_t>(l.size), 0);
      std::copy(bytes.begin(), bytes.end(), found.bytes.begin() + form->header_offset);
    } else {
      return Verdict::kBroken;
    }
    if (!HasLogSignature(LogHeader::Decode(found.bytes.data() + form->header_offset))) {
      return Verdict::kBroken;
    }
    if (found.read_whole) l.sha256 = Sha256(found.bytes);
    l.volume = record_.volume;
    last_address_ = l.address;
    ++logs_;
    events_.log(found);
    return Verdict::kMore;
  }

  const SearchEvents& events_;
  VolumeRecord record_;
  std::uint64_t logs_ = 0;
  std::uint64_t last_address_ = 0;
};

// An image whose search as a whole ran out of time.
std::string ImageTimeText(const WorkerLimits& limits) {
  return "The search of this image took longer than " + std::to_string(limits.image_time_limit_s) +
         " s";
}

// Why a worker did not finish, as its volume's or its image's problem.
std::string FailureText(const WorkerOutcome& o, const char* what, const WorkerLimits& limits) {
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

// A sentence as the second half of another.
std::string Lowered(std::string text) {
  if (!text.empty()) text[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(text[0])));
  return text;
}

// One image's search, across the workers it takes: the first lists the
// volumes and searches them in order; when one fails, the volume it was at
// is reported and another worker searches the volumes after it.
class ImageSearch {
 public:
  ImageSearch(const std::string& name, const SearchEvents& events, SearchResult& result)
      : listing_(name), events_(events), result_(result) {}

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
    const Verdict v = current_->Take(m);
    if (v != Verdict::kLast) return v;
    Report(current_->Finish(std::nullopt));
    return Advance();
  }

  [[nodiscard]] bool Listed() const { return listed_; }

  /// When the image's time is up: reports the volume being searched and
  /// every one after it, those to search as not searched for `why`.
  void GiveUp(const std::string& why) {
    if (!current_) return;
    Report(current_->Finish(why + "; this volume was not searched whole"));
    current_.reset();
    const std::vector<ListedVolume>& volumes = listing_.Volumes();
    for (++next_; next_ < volumes.size(); ++next_) {
      VolumeRecord record;
      record.volume = volumes[next_].place;
      record.problem = volumes[next_].problem.value_or("Not searched: " + Lowered(why));
      record.failed = volumes[next_].failed || !volumes[next_].problem;
      record.search_failed = !volumes[next_].problem;
      Report(record);
    }
  }
  [[nodiscard]] const Listing& ListingSeen() const { return listing_; }

  /// After a worker failed: reports the volume it was at, and returns the
  /// offsets of the volumes still to search (none: the search is over).
  std::vector<std::uint64_t> AfterFailure(std::string failure) {
    if (!current_) return {};
    Report(current_->Finish(std::move(failure)));
    std::vector<std::uint64_t> left;
    if (Advance() == Verdict::kLast) return left;
    const std::vector<ListedVolume>& volumes = listing_.Volumes();
    for (std::size_t i = next_; i < volumes.size(); ++i) {
      if (!volumes[i].problem) left.push_back(volumes[i].place.partition_offset);
    }
    return left;
  }

 private:
  void Report(const VolumeRecord& record) {
    result_.failed = result_.failed || record.failed;
    result_.logs += record.logs;
    events_.volume(record);
  }

  // Reports the volumes not to be searched that come next, and begins the
  // next one to search: a step, or the last when none is left.
  Verdict Advance() {
    if (current_) ++next_;
    current_.reset();
    const std::vector<ListedVolume>& volumes = listing_.Volumes();
    for (; next_ < volumes.size() && volumes[next_].problem; ++next_) {
      VolumeRecord record;
      record.volume = volumes[next_].place;
      record.problem = volumes[next_].problem;
      record.failed = volumes[next_].failed;
      Report(record);
    }
    if (next_ == volumes.size()) return Verdict::kLast;
    current_.emplace(volumes[next_].place, events_);
    return Verdict::kStep;
  }

  Listing listing_;
  const SearchEvents& events_;
  SearchResult& result_;
  bool listed_ = false;
  std::size_t next_ = 0;  // the volume being searched, or the next to report
  std::optional<VolumeSearch> current_;
};

}  // namespace

SearchResult SearchImage(const std::string& name, const std::string& path,
                         const WorkerLimits& limits, const SearchEvents& events) {
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

  ImageSearch search(name, events, result);
  const auto take = [&search](const Message& m) { return search.Take(m); };
  WorkerJob job{path, true, {}};
  Duration image_left = std::chrono::seconds(limits.image_time_limit_s);
  WorkerOutcome outcome = RunWorker(limits, job, image_left, take);
  const Listing& listing = search.ListingSeen();
  if (!search.Listed()) {
    const std::optional<std::string> cannot_open = listing.CannotOpen();
    if (outcome.end == WorkerEnd::kFinished && !listing.OutOfMemory() && !cannot_open) {
      return result;  // no image
    }
    result.opened = true;
    result.failed = true;
    result.failure = cannot_open           ? *cannot_open
                     : listing.OutOfMemory() ? "The search of this image ran out of memory "
                                               "(--memory-limit " +
                                                   std::to_string(limits.memory_limit_mib) + " MiB)"
                                             : FailureText(outcome, "image", limits);
    return result;
  }
  result.opened = true;
  while (outcome.end != WorkerEnd::kFinished) {
    if (outcome.end == WorkerEnd::kImageTimedOut) {
      search.GiveUp(ImageTimeText(limits));
      break;
    }
    job.list = false;
    job.offsets = search.AfterFailure(FailureText(outcome, "volume", limits));
    if (job.offsets.empty()) break;
    outcome = RunWorker(limits, job, image_left, take);
  }
  return result;
}

}  // namespace quenthar::image
