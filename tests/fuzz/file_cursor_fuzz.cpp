// A stored file cursor read from any text: the decode either fails with a
// DecodingError or gives a cursor that is written and read back unchanged.

#include "FuzzCheck.hpp"
#include "TokvaneCore/Logs/FileCursor.hpp"

using namespace tokvane;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FileCursor cursor;
  try {
    cursor = FileCursor::fromJSONText(fuzz::text(data, size));
  } catch (const DecodingError&) {
    return 0;
  }
  const std::string written = cursor.toJSON().dump();
  const FileCursor back = FileCursor::fromJSONText(written);
  FUZZ_CHECK(back == cursor);
  FUZZ_CHECK(back.toJSON().dump() == written);
  return 0;
}
