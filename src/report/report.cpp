#include "report/report.h"

#include "log/walk.h"
#include "report/csv.h"
#include "report/json_lines.h"
#include "report/text_report.h"

namespace quenthar {
namespace {

EntryRecord DecodeEntry(const LoadedLog& log, const EntryHeader& header, const EntryCursor& walk,
                        std::int64_t payload_length) {
  // The payload cursor starts on the first payload byte and spans Size - 40
  // bytes, clipped where the loaded bytes end (which may lie past the region's
  // end); a Size below 40 gives it no bytes.
  const auto loaded = static_cast<std::uint64_t>(log.bytes + log.size - walk.position);
  const std::uint64_t wanted = payload_length < 0 ? 0 : static_cast<std::uint64_t>(payload_length);
  EntryCursor payload =
      MakeCursor(walk.position, walk.position + (wanted < loaded ? wanted : loaded));

  const EventKind* event = FindEvent(header.id);
  return {FileOffset(log, walk.position - EntryHeader::kSize),
          header,
          event,
          event != nullptr && event->decode != nullptr ? event->decode(payload) : NoPayload{},
          walk.position,
          SteppedPayloadLength(walk, payload_length)};
}

}  // namespace

void BeginRun(Renderer& r) {
  if (r.form == Form::kCsv) WriteCsvHeader(r.out);
}

void BeginLog(Renderer& r, std::string_view source) {
  switch (r.form) {
    case Form::kText: r.source.clear(); return;
    case Form::kJsonLines: r.source = JsonSourcePrefix(source); return;
    case Form::kCsv: r.source = CsvSourceCell(source); return;
  }
}

void Render(Renderer& r, const HeaderRecord& record) {
  switch (r.form) {
    case Form::kText: return ReportLogHeader(r.out, record);
    case Form::kJsonLines: return WriteJson(r.out, r.source, record);
    case Form::kCsv: return WriteCsv(r.out, r.source, record);
  }
}

void Render(Renderer& r, const EntryRecord& record) {
  switch (r.form) {
    case Form::kText: return ReportEntry(r.out, record, r.encoding);
    case Form::kJsonLines: return WriteJson(r.out, r.source, record);
    case Form::kCsv: return WriteCsv(r.out, r.source, record, r.scratch);
  }
}

void Render(Renderer& r, const EndRecord& record) {
  switch (r.form) {
    case Form::kText: return ReportEnd(r.out, record);
    case Form::kJsonLines: return WriteJson(r.out, r.source, record);
    case Form::kCsv: return WriteCsv(r.out, r.source, record);
  }
}

void Render(Renderer& r, Problem problem) {
  switch (r.form) {
    case Form::kText: return ReportProblem(r.out, problem);
    case Form::kJsonLines: return WriteJson(r.out, r.source, problem);
    case Form::kCsv: return WriteCsv(r.out, r.source, problem);
  }
}

HeaderRecord HeaderOf(const LogForm& form, const LogHeader& header) {
  return {static_cast<std::uint64_t>(form.header_offset), header,
          DataSizeExceedsFile(form, header)};
}

void ReportEntries(Renderer& r, const LoadedLog& log) {
  EntryCursor region = DataRegion(log);
  const WalkEnd end = WalkEntries(
      region, [&](const EntryHeader& header, const EntryCursor& walk, std::int64_t payload_length) {
        const EntryRecord record = DecodeEntry(log, header, walk, payload_length);
        Render(r, record);
        return std::holds_alternative<PayloadTooShort>(record.payload) ? kStop : kGoOn;
      });
  // The walk leaves its cursor where it ended, which is what the end record names.
  Render(r, EndRecord{end, FileOffset(log, region.position), OffsetOf(region)});
}

}  // namespace quenthar
