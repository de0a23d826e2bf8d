#include "flash/run_options.h"

namespace kelvane {

const char* FileNameForDisplay(const RunOptions& options) {
  return options.fileName ? options.fileName->c_str() : "(null)";
}

}  // namespace kelvane
