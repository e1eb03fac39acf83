// Each record visited once, field by field, in its kind's order (fields.h),
// for the form that renders it: JSON Lines and CSV differ only in how a
// field is written. A form has, for a key and a value:
//   Unsigned, Signed, Boolean, Guid, Timestamp (a LogInit's date and time),
//   Time (a Moment),
//   Hex (bytes), Name (a fixed word), Text (UTF-8 of the program's own, or
//   the log's UTF-16), TextList (the strings of an ID 50 payload), Null, and
//   Nulls(first, last) for the payload keys from first to last.
// The visit starts after `source` and `record`, which each form puts first.
#pragma once

#include <optional>
#include <string>
#include <variant>

#include "log/image_records.h"
#include "log/log_records.h"
#include "report/fields.h"
#include "report/problems.h"

namespace quenthar {

template <typename Form>
void VisitHeader(Form& f, const HeaderRecord& r) {
  f.Unsigned(Key::kOffset, r.offset);
  f.Unsigned(Key::kVersion, r.header.ver);
  f.Unsigned(Key::kHeaderSize, r.header.hdr_size);
  f.Unsigned(Key::kDataSize, r.header.data_size);
  f.Boolean(Key::kDataSizeExceedsFile, r.data_size_exceeds_file);
}

// The payload keys of an entry, start to problem, each null where the
// payload has no such value.
template <typename Form>
struct PayloadFields {
  Form& f;
  std::uint32_t id;

  void operator()(const NoPayload& /*none*/) const { f.Nulls(Key::kStart, Key::kProblem); }

  void operator()(const PayloadTooShort& /*too_short*/) const {
    f.Nulls(Key::kStart, Key::kStrings);
    f.Name(Key::kProblem, TooShortProblem(id));
  }

  void operator()(const InitPayload& p) const {
    f.Nulls(Key::kStart, Key::kPath);
    f.Timestamp(Key::kTimestamp, p);
    f.Nulls(Key::kStrings, Key::kProblem);
  }

  void operator()(const LaunchPayload& p) const {
    f.Signed(Key::kStart, p.start);
    f.Guid(Key::kAppGuid, p.app_guid);
    f.Text(Key::kPath, p.path);
    f.Nulls(Key::kTimestamp, Key::kProblem);
  }

  void operator()(const ReturnPayload& p) const {
    f.Nulls(Key::kStart, Key::kStart);
    f.Guid(Key::kAppGuid, p.app_guid);
    f.Nulls(Key::kPath, Key::kProblem);
  }

  void operator()(const U50Payload& p) const {
    f.Nulls(Key::kStart, Key::kTimestamp);
    f.TextList(Key::kStrings, p);
    f.Nulls(Key::kProblem, Key::kProblem);
  }
};

template <typename Form>
void VisitEntry(Form& f, const EntryRecord& r) {
  const EntryHeader& h = r.header;
  f.Unsigned(Key::kOffset, r.offset);
  f.Unsigned(Key::kBoot, r.boot->number);
  if (r.boot->date_time) {
    f.Timestamp(Key::kBootTimestamp, *r.boot->date_time);
  } else {
    f.Null(Key::kBootTimestamp);
  }
  f.Signed(Key::kTime, h.time);
  f.Guid(Key::kGuid, h.guid);
  f.Unsigned(Key::kSize, h.size);
  f.Unsigned(Key::kSeverity, h.severity);
  f.Name(Key::kSeverityName, SeverityName(h.severity));
  f.Signed(Key::kId, static_cast<std::int32_t>(h.id));
  if (r.event != nullptr) {
    f.Name(Key::kEvent, r.event->name);
  } else {
    f.Null(Key::kEvent);
  }
  std::visit(PayloadFields<Form>{f, h.id}, r.payload);
  f.Hex(Key::kPayload, r.stepped_payload, r.stepped_payload_length);
}

template <typename Form>
void VisitEnd(Form& f, const EndRecord& r) {
  f.Unsigned(Key::kOffset, r.offset);
  f.Name(Key::kReason, ReasonName(r.reason));
}

template <typename Form>
void VisitError(Form& f, std::string_view problem) {
  f.Text(Key::kProblem, problem);
}

template <typename Form>
void OptionalText(Form& f, Key key, const std::optional<std::string>& text) {
  if (text) {
    f.Text(key, std::string_view(*text));
  } else {
    f.Null(key);
  }
}

template <typename Form>
void OptionalTime(Form& f, Key key, const std::optional<Moment>& moment) {
  if (moment) {
    f.Time(key, *moment);
  } else {
    f.Null(key);
  }
}

template <typename Form>
void OptionalUnsigned(Form& f, Key key, const std::optional<std::uint64_t>& value) {
  if (value) {
    f.Unsigned(key, *value);
  } else {
    f.Null(key);
  }
}

// The keys every image record has after source and record.
template <typename Form>
void VisitPlace(Form& f, const VolumePlace& place) {
  f.Text(Key::kImage, std::string_view(place.image));
  f.Unsigned(Key::kPartitionOffset, place.partition_offset);
  OptionalText(f, Key::kPartition, place.partition);
  OptionalUnsigned(f, Key::kStore, place.store);
  OptionalTime(f, Key::kStoreCreated, place.store_created);
  OptionalText(f, Key::kFileSystem, place.file_system);
}

template <typename Form>
void VisitLog(Form& f, const LogLocation& l) {
  VisitPlace(f, l.volume);
  f.Text(Key::kPath, std::string_view(l.path));
  f.Unsigned(Key::kAddress, l.address);
  f.Boolean(Key::kAllocated, l.allocated);
  f.Unsigned(Key::kSize, l.size);
  if (l.sha256) {
    f.Hex(Key::kSha256, l.sha256->data(), l.sha256->size());
  } else {
    f.Null(Key::kSha256);
  }
  OptionalTime(f, Key::kFileCreated, l.times.created);
  OptionalTime(f, Key::kFileModified, l.times.modified);
  OptionalTime(f, Key::kFileAccessed, l.times.accessed);
  OptionalTime(f, Key::kFileChanged, l.times.changed);
  OptionalText(f, Key::kSameAs, l.same_as);
}

template <typename Form>
void VisitVolume(Form& f, const VolumeRecord& v) {
  VisitPlace(f, v.volume);
  if (v.encryption) {
    f.Name(Key::kEncryption, *v.encryption);
  } else {
    f.Null(Key::kEncryption);
  }
  OptionalText(f, Key::kUnlockedWith, v.unlocked_with);
  f.Unsigned(Key::kFiles, v.files);
  f.Unsigned(Key::kCandidates, v.candidates);
  f.Unsigned(Key::kLogs, v.logs);
  OptionalText(f, Key::kProblem, v.problem);
}

template <typename Form>
void VisitImage(Form& f, const ImageRecord& i) {
  if (i.format) {
    f.Name(Key::kFormat, *i.format);
  } else {
    f.Null(Key::kFormat);
  }
  OptionalUnsigned(f, Key::kImageSize, i.size);
  f.Unsigned(Key::kVolumes, i.volumes);
  f.Unsigned(Key::kVolumesSearched, i.searched);
  f.Unsigned(Key::kVolumesNotSearched, i.not_searched);
  f.Unsigned(Key::kEncrypted, i.encrypted);
  f.Unsigned(Key::kTimedOut, i.timed_out);
  f.Unsigned(Key::kCrashed, i.crashed);
  f.Unsigned(Key::kDamaged, i.damaged);
  f.Unsigned(Key::kNoFileSystem, i.no_file_system);
  f.Unsigned(Key::kRepeated, i.repeated);
  f.Unsigned(Key::kStoresSearched, i.stores_searched);
  f.Unsigned(Key::kLogs, i.logs);
  f.Unsigned(Key::kDeletedLogs, i.deleted_logs);
  f.Unsigned(Key::kStoreLogs, i.store_logs);
  f.Unsigned(Key::kMilliseconds, i.milliseconds);
}

template <typename Form>
void VisitCopy(Form& f, const LogLocation& l) {
  f.Text(Key::kSameAs, std::string_view(*l.same_as));
}

}  // namespace quenthar
