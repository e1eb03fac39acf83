#include "image/containment/messages.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#if !defined(_WIN32)
#include <sys/resource.h>
#endif

#include "image/containment/image_search.h"

// A process's peak memory says something only without the address
// sanitizer's own (g++ tells it by a macro, clang by a feature).
#if !defined(_WIN32) && !defined(__SANITIZE_ADDRESS__)
#if defined(__has_feature)
#if !__has_feature(address_sanitizer)
#define QUENTHAR_PEAK_MEMORY 1
#endif
#else
#define QUENTHAR_PEAK_MEMORY 1
#endif
#endif

namespace quenthar::image {
namespace {

// Each message comes out of its frame as it went in, whatever the pieces the
// frame arrives in.
template <typename M>
void ExpectRoundTrip(const M& message) {
  const std::vector<std::uint8_t> frame = Frame(message);
  for (const std::size_t cut : {std::size_t{0}, std::size_t{3}, frame.size() / 2, frame.size()}) {
    FrameBuffer b;
    bool broken = false;
    b.Append(frame.data(), cut);
    if (cut < frame.size()) {
      EXPECT_FALSE(b.Next(broken).has_value()) << cut;
      b.Append(frame.data() + cut, frame.size() - cut);
    }
    const std::optional<Message> m = b.Next(broken);
    ASSERT_TRUE(m.has_value()) << cut;
    EXPECT_FALSE(broken);
    EXPECT_TRUE(b.Empty());
    const std::optional<M> back = DecodeAs<M>(*m);
    ASSERT_TRUE(back.has_value()) << static_cast<int>(M::kKind);
    EXPECT_TRUE(*back == message) << static_cast<int>(M::kKind);
  }
}

TEST(Messages, EachKindComesBackAsItWent) {
  const VolumeChain nested{1048576, {{LayerKind::kBitLocker, 2}, {LayerKind::kStore, 1}}};
  ExpectRoundTrip(JobMessage{"disk.E01",
                             false,
                             {{0, {}}, nested},
                             false,
                             {{2, SecretKind::kPassword, SecretBytes({'p', 'w'})}},
                             {"base.qcow2"}});
  ExpectRoundTrip(SandboxRefusedMessage{"seccomp: Invalid argument"});
  ExpectRoundTrip(ImageNotOpenedMessage{NotOpened::kCannotOpen, "Permission denied"});
  ExpectRoundTrip(ImageOpenedMessage{0x123456789AULL, "E01"});
  ExpectRoundTrip(ImageIncompleteMessage{});
  ExpectRoundTrip(VolumeListedMessage{nested, "Basic data partition", std::nullopt, false,
                                      NotSearched::kNo, 130305441090000000ULL});
  ExpectRoundTrip(VolumeListedMessage{
      {512, {}}, std::nullopt, "No file system found", true, NotSearched::kNoFileSystem, {}});
  ExpectRoundTrip(BackingFileMessage{"base.qcow2"});
  ExpectRoundTrip(EncryptionMessage{3});
  ExpectRoundTrip(EncryptionMessage{std::nullopt});
  ExpectRoundTrip(ProgressMessage{4096});
  ExpectRoundTrip(ListingDoneMessage{});
  ExpectRoundTrip(FileSystemMessage{"ntfs"});
  ExpectRoundTrip(
      LogFoundMessage{"/EFI/Boot/événements.dat",
                      66,
                      false,
                      65536,
                      {1, 2, 3},
                      {Moment{1}, std::nullopt, Moment{3, Moment::Zone::kUnknown, 0}, Moment{-4}}});
  ExpectRoundTrip(VolumeSearchedMessage{7, 2, 1, "A file of a log's length cannot be read", true,
                                        NotSearched::kDamaged});
}

TEST(FrameBuffer, RefusesAnEmptyFrameAndOneTooLong) {
  for (const std::uint32_t length : {0u, static_cast<std::uint32_t>(kMaxFrame) + 1}) {
    FrameBuffer b;
    const std::uint8_t head[] = {
        static_cast<std::uint8_t>(length), static_cast<std::uint8_t>(length >> 8),
        static_cast<std::uint8_t>(length >> 16), static_cast<std::uint8_t>(length >> 24), 1};
    b.Append(head, sizeof head);
    bool broken = false;
    EXPECT_FALSE(b.Next(broken).has_value());
    EXPECT_TRUE(broken) << length;
  }
}

// Every length is checked against what is there and against its cap; text
// must be UTF-8 without NUL; a failed read fails every read after it.
TEST(MessageReader, RefusesWhatDoesNotHoldTogether) {
  struct Case {
    const char* name;
    std::vector<std::uint8_t> body;
  };
  const Case cases[] = {
      {"a length past the end", {5, 0, 0, 0, 'a', 'b'}},
      {"the largest length, past the end", {0xFF, 0xFF, 0xFF, 0xFF, 'a'}},
      {"a length past the cap", {9, 0, 0, 0, 'a', 'a', 'a', 'a', 'a', 'a', 'a', 'a', 'a'}},
      {"not UTF-8", {2, 0, 0, 0, 0xC3, 0x28}},
      {"a NUL", {2, 0, 0, 0, 'a', 0}},
      {"a cut length", {1, 0}},
  };
  for (const Case& c : cases) {
    MessageReader r(c.body.data(), c.body.size());
    std::string text = "kept";
    EXPECT_FALSE(r.Text(text, 8)) << c.name;
    EXPECT_EQ(text, "kept") << c.name;
    std::uint8_t b = 0;
    EXPECT_FALSE(r.U8(b)) << c.name;
    EXPECT_FALSE(r.Done()) << c.name;
  }
  // A count whose items cannot all be there, and a flag that is no flag.
  const std::uint8_t count[] = {3, 0, 0, 0, 1, 2, 3, 4, 5};
  MessageReader counted(count, sizeof count);
  std::uint32_t n = 0;
  EXPECT_FALSE(counted.Count(n, 100, 4));
  const std::uint8_t flag[] = {2};
  MessageReader r(flag, sizeof flag);
  bool v = false;
  EXPECT_FALSE(r.Flag(v));
  // A message with bytes left over is none.
  std::vector<std::uint8_t> frame = Frame(ImageOpenedMessage{1, "raw"});
  frame.push_back(0);
  frame[0] = static_cast<std::uint8_t>(frame[0] + 1);
  FrameBuffer b;
  b.Append(frame.data(), frame.size());
  bool broken = false;
  const std::optional<Message> m = b.Next(broken);
  ASSERT_TRUE(m.has_value());
  EXPECT_FALSE(DecodeAs<ImageOpenedMessage>(*m).has_value());
}

// A log's bytes: the boot partition's form, its header's signature in place.
std::vector<std::uint8_t> LogBytes() {
  std::vector<std::uint8_t> bytes(65536, 0);
  const std::uint8_t header[16] = {3, 0, 0, 0, 0x10, 0, 0, 0, 0, 0, 1, 0, 0x10, 0, 0, 0};
  std::copy(std::begin(header), std::end(header), bytes.begin());
  return bytes;
}

using Frames = std::vector<std::vector<std::uint8_t>>;
// A worker's frames, one at a time, until there is none.
using Script = std::function<std::optional<std::vector<std::uint8_t>>()>;

Script Sends(Frames frames) {
  return [frames = std::move(frames), next = std::size_t{0}]() mutable {
    return next < frames.size() ? std::optional(frames[next++]) : std::nullopt;
  };
}

// What an image's search made of what its workers sent.
struct Seen {
  SearchResult result;
  std::vector<std::string> volumes;  // each volume record: "OFFSET PROBLEM"
  std::size_t logs = 0;
  std::vector<JobMessage> jobs;
};

// Runs an image's search whose workers send, one after the other, what the
// script gives, as a compromised worker could.
Seen Search(std::vector<Script> workers) {
  const std::filesystem::path image =
      std::filesystem::temp_directory_path() /
      ("quenthar-messages-" + std::to_string(std::random_device{}()) + ".img");
  std::fclose(std::fopen(image.string().c_str(), "wb"));
  Seen seen;
  const SearchEvents events{[&seen](const FoundLog& /*log*/) { ++seen.logs; },
                            [&seen](const VolumeRecord& v) {
                              std::string volume = std::to_string(v.volume.partition_offset) + " ";
                              if (v.volume.store)
                                volume += "(store " + std::to_string(*v.volume.store) + ") ";
                              seen.volumes.push_back(volume + v.problem.value_or(""));
                            },
                            {},
                            {}};
  std::size_t next = 0;
  const WorkerRunner run = [&](const SearchOptions&, const JobMessage& job, Duration&,
                               const OnMessage& on_message) -> WorkerOutcome {
    seen.jobs.push_back(job);
    MessageStream stream(on_message);
    bool step = false;
    while (next < workers.size()) {
      const std::optional<std::vector<std::uint8_t>> frame = workers[next]();
      if (!frame) break;
      if (!stream.Take(frame->data(), frame->size(), step)) {
        ++next;
        return {WorkerEnd::kIncoherent, 0, {}};
      }
    }
    ++next;
    return stream.CleanEnd();
  };
  seen.result = SearchImage("disk.img", image.string(), {}, events, run);
  std::filesystem::remove(image);
  return seen;
}

const std::string kBroken = "The search of this volume sent data that does not hold together";
const std::string kImageBroken = "The search of this image sent data that does not hold together";

Frames Listing(std::initializer_list<std::uint64_t> offsets) {
  Frames f{Frame(ImageOpenedMessage{1u << 20, "raw"})};
  for (const std::uint64_t offset : offsets) {
    f.push_back(Frame(VolumeListedMessage{
        {offset, {}}, std::nullopt, std::nullopt, false, NotSearched::kNo, {}}));
  }
  f.push_back(Frame(ListingDoneMessage{}));
  return f;
}

Frames operator+(Frames a, const Frames& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

Frames operator+(Frames a, std::vector<std::uint8_t> frame) {
  a.push_back(std::move(frame));
  return a;
}

Frames Searched(std::uint64_t logs = 0) {
  return {Frame(VolumeSearchedMessage{logs, logs, logs, std::nullopt, false, NotSearched::kNo})};
}

Frames OneLog(std::uint64_t address) {
  return {Frame(LogFoundMessage{"/a.dat", address, true, 65536, LogBytes(), {}})};
}

// What a compromised worker may send, out of order or past its caps: each
// ends as data that does not hold together, where it was sent, and every
// record before it stays whole; the rest of the image is searched by a new
// worker.
TEST(ImageSearch, EndsWhatDoesNotHoldTogetherAndKeepsTheRest) {
  struct Case {
    const char* name;
    std::vector<Frames> workers;
    std::vector<std::string> volumes;
    std::optional<std::string> failure;
    std::size_t logs;
  };
  const std::string too_long(kMaxName + 1, 'x');
  const Case cases[] = {
      {"a volume before the image is opened",
       {{Frame(
           VolumeListedMessage{{0, {}}, std::nullopt, std::nullopt, false, NotSearched::kNo, {}})}},
       {},
       kImageBroken,
       0},
      {"a log before its volume",
       {Frames{Frame(ImageOpenedMessage{1u << 20, "raw"})} + OneLog(5)},
       {},
       kImageBroken,
       0},
      {"a volume outside the image", {Listing({2u << 20})}, {}, kImageBroken, 0},
      {"the same volume to search twice", {Listing({512, 512})}, {}, kImageBroken, 0},
      {"a volume inside no volume in the listing",
       {{Frame(ImageOpenedMessage{1u << 20, "raw"}),
         Frame(VolumeListedMessage{{0, {{LayerKind::kStore, 1}}},
                                   std::nullopt,
                                   std::nullopt,
                                   false,
                                   NotSearched::kNo,
                                   {}})}},
       {},
       kImageBroken,
       0},
      {"more volumes searched than listed",
       {Listing({0}) + Searched() + Frame(FileSystemMessage{"ntfs"})},
       {"0 "},
       kImageBroken,
       0},
      {"a second last message", {Listing({0}) + Searched() + Searched()}, {"0 "}, kImageBroken, 0},
      {"a type past its cap, then a new worker",
       {Listing({0, 512}) + OneLog(9) + Frame(FileSystemMessage{too_long}),
        OneLog(3) + Searched(1)},
       {"0 " + kBroken, "512 "},
       std::nullopt,
       2},
      {"logs out of address order",
       {Listing({0}) + OneLog(9) + OneLog(9)},
       {"0 " + kBroken},
       std::nullopt,
       1},
      {"more logs than it counts",
       {Listing({0}) + OneLog(1) + Searched(0)},
       {"0 " + kBroken},
       std::nullopt,
       1},
      {"a log without its signature",
       {Listing({0}) +
        Frames{Frame(LogFoundMessage{"/a", 1, true, 65536, std::vector<std::uint8_t>(65536), {}})}},
       {"0 " + kBroken},
       std::nullopt,
       0},
      {"a volume found inside another, not one layer deeper",
       {Listing({0}) + Frames{Frame(VolumeListedMessage{{512, {{LayerKind::kStore, 1}}},
                                                        std::nullopt,
                                                        std::nullopt,
                                                        false,
                                                        NotSearched::kNo,
                                                        {}})}},
       {"0 " + kBroken},
       std::nullopt,
       0},
      {"a store found in a file system joins the listing after its volume",
       {Listing({0, 512}) + Frame(FileSystemMessage{"ntfs"}) +
        Frames{Frame(VolumeListedMessage{{0, {{LayerKind::kStore, 1}}},
                                         std::nullopt,
                                         std::nullopt,
                                         false,
                                         NotSearched::kNo,
                                         {}})} +
        Searched() + Searched() + Searched()},
       {"0 ", "0 (store 1) ", "512 "},
       std::nullopt,
       0},
  };
  const auto scripts = [](const std::vector<Frames>& workers) {
    std::vector<Script> s;
    for (const Frames& f : workers) s.push_back(Sends(f));
    return s;
  };
  for (const Case& c : cases) {
    const Seen seen = Search(scripts(c.workers));
    EXPECT_EQ(seen.volumes, c.volumes) << c.name;
    EXPECT_EQ(seen.result.failure, c.failure) << c.name;
    EXPECT_EQ(seen.logs, c.logs) << c.name;
    const bool failed =
        c.failure.has_value() || std::any_of(c.volumes.begin(), c.volumes.end(),
                                             [](const std::string& v) { return v.back() != ' '; });
    EXPECT_EQ(seen.result.failed, failed) << c.name;
  }
  // The worker after a failure is given only the volumes left.
  const Seen resumed = Search(scripts(cases[7].workers));
  ASSERT_EQ(resumed.jobs.size(), 2u);
  EXPECT_FALSE(resumed.jobs[1].list);
  EXPECT_EQ(resumed.jobs[1].volumes, (std::vector<VolumeChain>{{512, {}}}));
}

#if QUENTHAR_PEAK_MEMORY
long PeakKib() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss;
}
#endif

// A worker that floods the output process with the largest messages it may
// send costs it no more memory than one of them: logs go on one by one, and
// a listing past its caps ends.
TEST(ImageSearch, AFloodKeepsMemoryBounded) {
  std::string path(kMaxPath, 'p');
  path[0] = '/';
  std::vector<std::uint8_t> bytes(67584);
  const std::vector<std::uint8_t> header = LogBytes();
  std::copy(header.begin(), header.begin() + 16, bytes.begin() + 2048);
  Frames head = Listing({0});
  constexpr std::uint64_t kLogs = 3000;
  const Seen logs =
      Search({[&head, &path, &bytes,
               address = std::uint64_t{0}]() mutable -> std::optional<std::vector<std::uint8_t>> {
        if (!head.empty()) {
          std::vector<std::uint8_t> frame = std::move(head.front());
          head.erase(head.begin());
          return frame;
        }
        ++address;
        if (address <= kLogs) return Frame(LogFoundMessage{path, address, true, 67584, bytes, {}});
        if (address == kLogs + 1)
          return Frame(VolumeSearchedMessage{kLogs, kLogs, kLogs, {}, false, NotSearched::kNo});
        return std::nullopt;
      }});
  EXPECT_EQ(logs.logs, kLogs);
  EXPECT_EQ(logs.volumes, (std::vector<std::string>{"0 "}));

  const Seen listed = Search({[offset = std::uint64_t{0}]() mutable {
    return std::optional(offset++ == 0 ? Frame(ImageOpenedMessage{1u << 20, "raw"})
                                       : Frame(VolumeListedMessage{{offset, {}},
                                                                   std::string(kMaxName, 'd'),
                                                                   std::string(kMaxProblem, 'p'),
                                                                   true,
                                                                   NotSearched::kDamaged,
                                                                   {}}));
  }});
  EXPECT_EQ(listed.result.failure, kImageBroken);
#if QUENTHAR_PEAK_MEMORY
  EXPECT_LT(PeakKib(), 64 * 1024);
#endif
}

}  // namespace
}  // namespace quenthar::image
