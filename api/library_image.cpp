#include "api/library_image.h"

#include <cstring>
#include <memory>

#include "api/caller_buffer.h"
#include "run/drive_run.h"

namespace kelvane {

namespace {

constexpr DeviceFamily FAMILIES[] = {DeviceFamily::Nym, DeviceFamily::TL3xx, DeviceFamily::TK720,
                                     DeviceFamily::Series27, DeviceFamily::TK720Digest};

// What kelvane prints for the file, stdout's lines then stderr's, each ended
// by "\n" alone as a C caller reads text.
std::string LinesOf(const FileMessages& messages) {
  const std::string printed = messages.ConsoleText() + messages.ErrorText();
  std::string text;
  for (std::size_t i = 0; i < printed.size(); ++i) {
    if (printed[i] != '\r' || i + 1 == printed.size() || printed[i + 1] != '\n') text += printed[i];
  }
  return text;
}

}  // namespace

const DriveFamily* FamilyNamed(const char* name) {
  if (name == nullptr) return nullptr;
  for (const DeviceFamily family : FAMILIES) {
    const DriveFamily& row = LookUpDriveFamily(family);
    if (std::strcmp(row.journalName, name) == 0) return &row;
  }
  return nullptr;
}

}  // namespace kelvane

using namespace kelvane;

extern "C" kelvane_image* kelvane_prepare(const char* family, const char* path, char* error,
                                          std::size_t error_size) {
  try {
    CopyOut("", error, error_size);
    const DriveFamily* row = FamilyNamed(family);
    if (row == nullptr) {
      CopyOut(std::string("No drive family is named ") + (family ? family : "(null)") + "\n", error,
              error_size);
      return nullptr;
    }
    if (path == nullptr) {
      CopyOut("No firmware file is named\n", error, error_size);
      return nullptr;
    }
    RunOptions options;
    options.family = row->family;
    options.fileName = path;
    auto image = std::make_unique<kelvane_image>();
    image->family = row;
    image->path = path;
    image->prepared = PrepareImageOf(options, *row);
    if (image->prepared.refused) {
      CopyOut(LinesOf(image->prepared.messages), error, error_size);
      return nullptr;
    }
    return image.release();
  } catch (...) {
    // Out of memory: C has no exceptions to carry it.
    CopyOut("Out of memory\n", error, error_size);
    return nullptr;
  }
}

extern "C" void kelvane_image_free(kelvane_image* image) {
  delete image;
}
