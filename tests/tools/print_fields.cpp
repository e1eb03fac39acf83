// Prints the fields of every record kind as the program describes them, one
// per line (kind, key, kind of value, "null" when it may be null), and then
// CSV's header row, for the check against doc/records.schema.json.
#include <cstdio>
#include <string>

#include "report/fields.h"

int main() {
  using quenthar::Value;
  constexpr const char* kValues[] = {"text", "name",      "unsigned", "signed", "boolean",
                                     "guid", "timestamp", "time",     "hex",    "text_list"};
  for (const quenthar::RecordKind& kind : quenthar::kRecordKinds) {
    for (const quenthar::Field& f : kind.fields) {
      const std::string name(quenthar::kKeyNames[quenthar::Index(f.key)]);
      std::printf("%.*s %s %s%s\n", static_cast<int>(kind.name.size()), kind.name.data(),
                  name.c_str(), kValues[static_cast<int>(f.value)], f.nullable ? " null" : "");
    }
  }
  const std::string_view row = quenthar::kCsvHeaderRow.View();
  std::printf("csv %.*s", static_cast<int>(row.size()), row.data());
  return 0;
}
