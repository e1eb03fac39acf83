#include "report/report.h"

#include "report/csv.h"
#include "report/json_lines.h"
#include "report/text_report.h"

namespace quenthar {
namespace {

// Standard output is a terminal: CSV escapes what could steer it (JSON Lines
// escapes it everywhere).
bool ToTerminal(const Renderer& r) { return r.encoding == TextEncoding::kUtf8Escaped; }

// The Timesketch form's problem of `source`: "quenthar: SOURCE: PROBLEM",
// escaped, on a line of its own in the notes.
void Note(Renderer& r, std::string_view source, std::string_view problem) {
  if (r.notes == nullptr) return;
  r.notes->Put("quenthar: ");
  PutEscaped(*r.notes, source);
  r.notes->Put(": ");
  PutEscaped(*r.notes, problem);
  r.notes->Put("\n");
}

}  // namespace

void BeginRun(Renderer& r) {
  if (r.form == Form::kCsv) WriteCsvHeader(r.out);
}

void BeginLog(Renderer& r, std::string_view source) {
  switch (r.form) {
    case Form::kText: r.source.clear(); return;
    case Form::kJsonLines: r.source = JsonSourcePrefix(source); return;
    case Form::kCsv: r.source = CsvSourceCell(source, ToTerminal(r)); return;
    case Form::kTimesketch:
      r.name = source;
      r.source = TimesketchProvenance(source, nullptr);
      return;
  }
}

void Render(Renderer& r, const HeaderRecord& record) {
  switch (r.form) {
    case Form::kText: return ReportLogHeader(r.out, record);
    case Form::kJsonLines: return WriteJson(r.out, r.source, record);
    case Form::kCsv: return WriteCsv(r.out, r.source, record, r.scratch);
    case Form::kTimesketch: return;
  }
}

void Render(Renderer& r, const EntryRecord& record) {
  switch (r.form) {
    case Form::kText: return ReportEntry(r.out, record, r.encoding);
    case Form::kJsonLines: return WriteJson(r.out, r.source, record, r.clock);
    case Form::kCsv: return WriteCsv(r.out, r.source, record, r.scratch, ToTerminal(r), r.clock);
    case Form::kTimesketch: return WriteTimesketch(r.out, r.source, record, r.clock, r.scratch);
  }
}

void Render(Renderer& r, const EndRecord& record) {
  switch (r.form) {
    case Form::kText: return ReportEnd(r.out, record);
    case Form::kJsonLines: return WriteJson(r.out, r.source, record);
    case Form::kCsv: return WriteCsv(r.out, r.source, record, r.scratch);
    case Form::kTimesketch: return;
  }
}

void Render(Renderer& r, Problem problem) {
  switch (r.form) {
    case Form::kText: return ReportProblem(r.out, problem);
    case Form::kJsonLines: return WriteJsonError(r.out, r.source, ProblemName(problem));
    case Form::kCsv:
      return WriteCsvError(r.out, r.source, ProblemName(problem), r.scratch, ToTerminal(r));
    case Form::kTimesketch: return Note(r, r.name, ProblemName(problem));
  }
}

void RenderFailure(Renderer& r, std::string_view problem) {
  switch (r.form) {
    case Form::kText:
      PutEscaped(r.out, problem);
      r.out.Put("\n");
      return;
    case Form::kJsonLines: return WriteJsonError(r.out, r.source, problem);
    case Form::kCsv: return WriteCsvError(r.out, r.source, problem, r.scratch, ToTerminal(r));
    case Form::kTimesketch: return Note(r, r.name, problem);
  }
}

void BeginBlock(Renderer& r, std::string_view heading) {
  if (r.form != Form::kText) return;
  if (r.in_block) {
    if (r.out.Last() != '\n') r.out.Put("\n");
    r.out.Put("\n");
  }
  r.in_block = true;
  r.in_image_block = false;
  r.out.Put("==> ");
  PutEscaped(r.out, heading);
  r.out.Put(" <==\n");
}

void Render(Renderer& r, const LogLocation& log) {
  switch (r.form) {
    case Form::kText:
      if (!log.same_as) return;
      r.out.Put("Same bytes as ");
      PutEscaped(r.out, *log.same_as);
      r.out.Put("\n");
      return;
    case Form::kJsonLines: return WriteJson(r.out, r.source, log, r.clock);
    case Form::kCsv:
      if (log.same_as) WriteCsvCopy(r.out, r.source, log, r.scratch, ToTerminal(r));
      return;
    case Form::kTimesketch:
      // A store's copy has no entries of its own: they were given once.
      if (!log.same_as) r.source = TimesketchProvenance(r.name, &log);
      return;
  }
}

void Render(Renderer& r, const VolumeRecord& volume) {
  switch (r.form) {
    case Form::kText:
      if (!volume.problem) return;
      BeginBlock(r, volume.volume.Source());
      PutEscaped(r.out, *volume.problem);
      r.out.Put("\n");
      return;
    case Form::kJsonLines: return WriteJson(r.out, volume);
    case Form::kCsv:
      // Rows for volumes whose search failed, or that stay locked.
      if (!(volume.search_failed || volume.encryption) || !volume.problem) return;
      BeginLog(r, volume.volume.Source());
      return WriteCsvError(r.out, r.source, *volume.problem, r.scratch, ToTerminal(r));
    case Form::kTimesketch:
      if (volume.problem) Note(r, volume.volume.Source(), *volume.problem);
      return;
  }
}

namespace {

// "N KIND", and a comma before it after the first.
void PutCount(Output& out, bool& first, std::uint64_t n, std::string_view kind) {
  if (n == 0) return;
  if (!first) out.Put(", ");
  first = false;
  out.PutUnsigned(n);
  out.Put(" ");
  out.Put(kind);
}

// "E01, 46137344 bytes; volumes: 4 found, 3 searched, 1 not searched (1
// without a file system); logs: 3 (1 deleted, 0 in shadow copies)"
void PutImageLine(Output& out, const ImageRecord& i) {
  if (i.format) {
    out.Put(*i.format);
    out.Put(", ");
  }
  if (i.size) {
    out.PutUnsigned(*i.size);
    out.Put(" bytes; ");
  }
  out.Put("volumes: ");
  out.PutUnsigned(i.volumes);
  out.Put(" found, ");
  out.PutUnsigned(i.searched);
  out.Put(" searched, ");
  out.PutUnsigned(i.not_searched);
  out.Put(" not searched");
  if (i.not_searched != 0) {
    out.Put(" (");
    bool first = true;
    PutCount(out, first, i.encrypted, "encrypted");
    PutCount(out, first, i.timed_out, "out of time");
    PutCount(out, first, i.crashed, "crashed");
    PutCount(out, first, i.damaged, "damaged");
    PutCount(out, first, i.no_file_system, "without a file system");
    PutCount(out, first, i.repeated, "repeated");
    out.Put(")");
  }
  if (i.stores_searched != 0) {
    out.Put(", ");
    out.PutUnsigned(i.stores_searched);
    out.Put(" of them shadow copies");
  }
  out.Put("; logs: ");
  out.PutUnsigned(i.logs);
  out.Put(" (");
  out.PutUnsigned(i.deleted_logs);
  out.Put(" deleted, ");
  out.PutUnsigned(i.store_logs);
  out.Put(" in shadow copies)\n");
}

}  // namespace

void Render(Renderer& r, const ImageRecord& image) {
  switch (r.form) {
    case Form::kText:
      if (!r.in_image_block) BeginBlock(r, image.image);
      r.in_image_block = false;
      return PutImageLine(r.out, image);
    case Form::kJsonLines: return WriteJson(r.out, image);
    case Form::kCsv: BeginLog(r, image.image); return WriteCsv(r.out, r.source, image, r.scratch);
    case Form::kTimesketch: return;
  }
}

void ReportEntries(Renderer& r, const LoadedLog& log) {
  Render(r, DecodeEntries(log, [&r](const EntryRecord& record) { Render(r, record); }));
}

}  // namespace quenthar
