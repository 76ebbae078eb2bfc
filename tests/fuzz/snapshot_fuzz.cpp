// The widget snapshot read from any text: the decode either fails with a
// DecodingError or gives a snapshot whose compact text decodes back to the
// same snapshot, dates cut to the whole second.

#include "FuzzCheck.hpp"
#include "TokvaneCore/Snapshot/Snapshot.hpp"

using namespace tokvane;

namespace {

Snapshot wholeSeconds(Snapshot snapshot) {
  snapshot.generatedAt = fuzz::wholeSecond(snapshot.generatedAt);
  for (auto& provider : snapshot.providers) {
    for (auto& window : provider.windows) window = fuzz::wholeSeconds(window);
  }
  return snapshot;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Snapshot snapshot;
  try {
    snapshot = Snapshot::decode(fuzz::text(data, size));
  } catch (const DecodingError&) {
    return 0;
  }
  const std::string written = snapshot.encoded();
  const Snapshot back = Snapshot::decode(written);
  FUZZ_CHECK(back == wholeSeconds(snapshot));
  FUZZ_CHECK(back.encoded() == written);
  return 0;
}
