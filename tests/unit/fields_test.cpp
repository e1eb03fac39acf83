#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "report/fields.h"
#include "report/visit.h"

namespace quenthar {
namespace {

// What a visit gives, field by field: the key, and the kind of its value
// (none for a null).
struct Visited {
  Key key;
  std::optional<Value> value;
};

// A form that writes nothing and keeps the order of the visit.
struct RecordingForm {
  std::vector<Visited> fields;

  void Put(Key k, std::optional<Value> v) { fields.push_back({k, v}); }
  void Unsigned(Key k, std::uint64_t /*v*/) { Put(k, Value::kUnsigned); }
  void Signed(Key k, std::int32_t /*v*/) { Put(k, Value::kSigned); }
  void Boolean(Key k, bool /*v*/) { Put(k, Value::kBoolean); }
  void Guid(Key k, const quenthar::Guid& /*g*/) { Put(k, Value::kGuid); }
  void Timestamp(Key k, const InitPayload& /*p*/) { Put(k, Value::kTimestamp); }
  void Time(Key k, const Moment& /*moment*/) { Put(k, Value::kTime); }
  void Hex(Key k, const std::uint8_t* /*p*/, std::size_t /*n*/) { Put(k, Value::kHex); }
  void Name(Key k, std::string_view /*name*/) { Put(k, Value::kName); }
  void Text(Key k, std::string_view /*text*/) { Put(k, Value::kText); }
  void Text(Key k, const Utf16View& /*text*/) { Put(k, Value::kText); }
  void TextList(Key k, const U50Payload& /*p*/) { Put(k, Value::kTextList); }
  void Null(Key k) { Put(k, std::nullopt); }
  void Nulls(Key first, Key last) {
    for (auto k = Index(first); k <= Index(last); ++k) Put(static_cast<Key>(k), std::nullopt);
  }
};

// The visit of each record walks its kind's fields after source and record,
// in order, each with its kind of value, null only where the kind allows it;
// an entry for every payload there is.
TEST(Fields, EveryVisitWalksItsKindsFieldsInOrder) {
  const Boot no_boot;
  Boot dated;
  dated.date_time = InitPayload{};
  const std::uint8_t bytes[4] = {};
  EntryRecord entry{};
  entry.boot = &no_boot;
  entry.stepped_payload = bytes;
  const auto visit_entry = [&entry](const EventKind* event, Payload payload, const Boot* boot) {
    entry.event = event;
    entry.payload = payload;
    entry.boot = boot;
    RecordingForm f;
    VisitEntry(f, entry);
    return f.fields;
  };
  LogLocation log;
  log.sha256 = std::array<std::uint8_t, 32>{};
  log.volume.file_system = "ntfs";
  LogLocation copy = log;
  copy.volume.store = 2;
  copy.volume.store_created = Moment{1386052668};
  copy.times.modified = Moment{1386052000, Moment::Zone::kOffset, 3600};
  copy.same_as = "disk.img@0:/Windows/events.dat";
  VolumeRecord volume;
  volume.problem = "No file system found";
  VolumeRecord unlocked;
  unlocked.volume = copy.volume;
  unlocked.encryption = "bitlocker";
  unlocked.unlocked_with = "password (keys.txt, line 2)";

  struct Case {
    const char* name;
    Kind kind;
    std::vector<Visited> visited;
  };
  const auto visited = [](auto&& visit) {
    RecordingForm f;
    visit(f);
    return f.fields;
  };
  const Case cases[] = {
      {"header", Kind::kHeader, visited([](RecordingForm& f) { VisitHeader(f, HeaderRecord{}); })},
      {"entry without a name", Kind::kEntry, visit_entry(nullptr, NoPayload{}, &no_boot)},
      {"entry too short", Kind::kEntry, visit_entry(FindEvent(1), PayloadTooShort{}, &dated)},
      {"LogInit", Kind::kEntry, visit_entry(FindEvent(1), InitPayload{}, &dated)},
      {"launch", Kind::kEntry, visit_entry(FindEvent(17), LaunchPayload{}, &dated)},
      {"return", Kind::kEntry, visit_entry(FindEvent(18), ReturnPayload{}, &dated)},
      {"ID 50", Kind::kEntry, visit_entry(FindEvent(50), U50Payload{}, &dated)},
      {"end", Kind::kEnd, visited([](RecordingForm& f) { VisitEnd(f, EndRecord{}); })},
      {"error", Kind::kError, visited([](RecordingForm& f) { VisitError(f, "x"); })},
      {"log", Kind::kLog, visited([&log](RecordingForm& f) { VisitLog(f, log); })},
      {"volume", Kind::kVolume, visited([&volume](RecordingForm& f) { VisitVolume(f, volume); })},
      {"a store's copy", Kind::kLog, visited([&copy](RecordingForm& f) { VisitLog(f, copy); })},
      {"an unlocked store", Kind::kVolume,
       visited([&unlocked](RecordingForm& f) { VisitVolume(f, unlocked); })},
      {"a copy's CSV row", Kind::kCopy, visited([&copy](RecordingForm& f) { VisitCopy(f, copy); })},
      {"image", Kind::kImage, visited([](RecordingForm& f) { VisitImage(f, ImageRecord{}); })},
  };
  for (const Case& c : cases) {
    const std::span<const Field> fields = KindOf(c.kind).fields.subspan(2);
    ASSERT_EQ(c.visited.size(), fields.size()) << c.name;
    for (std::size_t i = 0; i < fields.size(); ++i) {
      const std::string at =
          std::string(c.name) + ", " + std::string(kKeyNames[Index(fields[i].key)]);
      EXPECT_EQ(c.visited[i].key, fields[i].key) << at;
      if (c.visited[i].value) {
        EXPECT_EQ(*c.visited[i].value, fields[i].value) << at;
      } else {
        EXPECT_TRUE(fields[i].nullable) << at;
      }
    }
  }
}

}  // namespace
}  // namespace quenthar
