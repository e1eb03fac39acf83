#include "report/report.h"

#include "report/csv.h"
#include "report/json_lines.h"
#include "report/text_report.h"

namespace quenthar {
namespace {

// Standard output is a terminal: CSV escapes what could steer it (JSON Lines
// escapes it everywhere).
bool ToTerminal(const Renderer& r) { return r.encoding == TextEncoding::kUtf8Escaped; }

}  // namespace

void BeginRun(Renderer& r) {
  if (r.form == Form::kCsv) WriteCsvHeader(r.out);
}

void BeginLog(Renderer& r, std::string_view source) {
  switch (r.form) {
    case Form::kText: r.source.clear(); return;
    case Form::kJsonLines: r.source = JsonSourcePrefix(source); return;
    case Form::kCsv: r.source = CsvSourceCell(source, ToTerminal(r)); return;
  }
}

void Render(Renderer& r, const HeaderRecord& record) {
  switch (r.form) {
    case Form::kText: return ReportLogHeader(r.out, record);
    case Form::kJsonLines: return WriteJson(r.out, r.source, record);
    case Form::kCsv: return WriteCsv(r.out, r.source, record, r.scratch);
  }
}

void Render(Renderer& r, const EntryRecord& record) {
  switch (r.form) {
    case Form::kText: return ReportEntry(r.out, record, r.encoding);
    case Form::kJsonLines: return WriteJson(r.out, r.source, record);
    case Form::kCsv: return WriteCsv(r.out, r.source, record, r.scratch, ToTerminal(r));
  }
}

void Render(Renderer& r, const EndRecord& record) {
  switch (r.form) {
    case Form::kText: return ReportEnd(r.out, record);
    case Form::kJsonLines: return WriteJson(r.out, r.source, record);
    case Form::kCsv: return WriteCsv(r.out, r.source, record, r.scratch);
  }
}

void Render(Renderer& r, Problem problem) {
  switch (r.form) {
    case Form::kText: return ReportProblem(r.out, problem);
    case Form::kJsonLines: return WriteJsonError(r.out, r.source, ProblemName(problem));
    case Form::kCsv:
      return WriteCsvError(r.out, r.source, ProblemName(problem), r.scratch, ToTerminal(r));
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
  }
}

void BeginBlock(Renderer& r, std::string_view heading) {
  if (r.form != Form::kText) return;
  if (r.in_block) {
    if (r.out.Last() != '\n') r.out.Put("\n");
    r.out.Put("\n");
  }
  r.in_block = true;
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
    case Form::kJsonLines: return WriteJson(r.out, r.source, log);
    case Form::kCsv:
      if (log.same_as) WriteCsvCopy(r.out, r.source, log, r.scratch, ToTerminal(r));
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
  }
}

void ReportEntries(Renderer& r, const LoadedLog& log) {
  Render(r, DecodeEntries(log, [&r](const EntryRecord& record) { Render(r, record); }));
}

}  // namespace quenthar
