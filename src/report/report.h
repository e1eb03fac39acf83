// One run's records, rendered in the form the command line asked for.
#pragma once

#include <string>
#include <string_view>

#include "log/image_records.h"
#include "log/loaded_log.h"
#include "log/log_records.h"
#include "report/form.h"
#include "report/local_clock.h"
#include "report/output.h"
#include "report/problems.h"
#include "report/text_forms.h"

namespace quenthar {

/// Where the records of a run go, and how they are written.
struct Renderer {
  Renderer(Form f, Output& o, TextEncoding e = TextEncoding::kNarrow)
      : form(f), out(o), encoding(e) {}

  Form form;
  Output& out;
  // The log's text in the text form; kUtf8Escaped also makes CSV escape, for
  // a terminal.
  TextEncoding encoding = TextEncoding::kNarrow;
  std::string source;           // the current log's source, rendered for the structured forms
  std::string scratch;          // room to put a cell's text together
  bool in_block = false;        // a block of an image's text report has begun
  bool in_image_block = false;  // the block last begun is the image's own
  LocalClock clock;             // the zone of the clocks that keep local time, if known
  // Where the Timesketch form tells what it could not report (its standard
  // output holds entries alone); none: nowhere. And the current log's
  // source as given, for it.
  Output* notes = nullptr;
  std::string name;
};

/// Starts the run: the CSV header row.
void BeginRun(Renderer& r);

/// Starts the records of one log, named by `source` (the path as given, UTF-8).
void BeginLog(Renderer& r, std::string_view source);

void Render(Renderer& r, const HeaderRecord& record);
void Render(Renderer& r, const EntryRecord& record);
void Render(Renderer& r, const EndRecord& record);
void Render(Renderer& r, Problem problem);

/// A problem of the image search's own, worded at run time: an error record,
/// or in the text form the problem on a line of its own, its control
/// characters escaped.
void RenderFailure(Renderer& r, std::string_view problem);

/// Starts a block of an image's text report: "==> HEADING <==" on a line of
/// its own, after an empty line (and first a line end, where the block before
/// lacks one) when a block came before it. The heading's control characters
/// are escaped (text_forms.h) wherever the output goes: a file name in an
/// image could otherwise forge a heading, or steer the terminal. Nothing in
/// the structured forms.
void BeginBlock(Renderer& r, std::string_view heading);

/// Where a found log lies: the `log` record in JSON Lines; for a store's log
/// whose bytes were reported before, in text the line "Same bytes as SOURCE"
/// and in CSV a `copy` row. Follows BeginLog of its source.
void Render(Renderer& r, const LogLocation& log);

/// What the search of a volume saw: the `volume` record in JSON Lines; in the
/// text form, a block with its problem (escaped, as a heading is) when it has
/// one; in CSV, an error row of the volume only when its search itself failed
/// or it stays locked.
void Render(Renderer& r, const VolumeRecord& volume);

/// What an image's search found, searched and did not: the `image` record in
/// JSON Lines and CSV; in text, one line in a block of the image's own (the
/// block its problem began, when it had one).
void Render(Renderer& r, const ImageRecord& image);

/// Walks the log's entries, rendering each, and then how the walk ended.
void ReportEntries(Renderer& r, const LoadedLog& log);

}  // namespace quenthar
