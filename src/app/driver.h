// The whole run: the command line, then each log's or image's report, and
// where the output goes.
#pragma once

#include "platform/platform.h"
#include "report/form.h"
#include "report/text_forms.h"

namespace quenthar {

/// How standard output is written. A console (on Windows) gets every form as
/// UTF-8 that it shows whole, the log's text included; anything else gets the
/// text report in narrow text through text mode, and the structured forms as
/// bytes, the same on every platform. A terminal (a console is one) gets the
/// text of the evidence with its control characters escaped, in every form;
/// a file or a pipe gets it exact.
struct OutputPlan {
  bool console;
  bool binary;
  TextEncoding encoding;
};

OutputPlan PlanOutput(bool console, bool terminal, Form form);

/// Runs the tool on its command line (argv[0] is the program) and returns the
/// exit status. Every message goes to standard output.
int RunTool(int argc, const platform::ArgChar* const* argv);

}  // namespace quenthar
