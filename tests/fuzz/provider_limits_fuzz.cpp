// A provider's limits read from any text, in both date forms: the ledger's
// (seconds since 2001 with their fraction) and the shared files' (whole-second
// ISO 8601 texts). A decode either fails with a DecodingError or gives a
// record that encodes without error and decodes back to an equal record
// (dates cut to the whole second in the text form). Marking a record stale
// keeps it encodable and is idempotent.

#include "FuzzCheck.hpp"
#include "TokvaneCore/Limits/ProviderLimits.hpp"

using namespace tokvane;

namespace {

void roundTrip(const JSON& json, DateCoding coding) {
  ProviderLimits limits;
  try {
    limits = ProviderLimits::fromJSON(json, coding);
  } catch (const DecodingError&) {
    return;
  }
  const std::string written = limits.toJSON(coding).dump();
  const ProviderLimits back = ProviderLimits::fromJSON(keyed::parse(written), coding);
  FUZZ_CHECK(back == (coding == DateCoding::iso8601 ? fuzz::wholeSeconds(limits) : limits));
  FUZZ_CHECK(back.toJSON(coding).dump() == written);

  const ProviderLimits stale = limits.markedStale();
  FUZZ_CHECK(stale.markedStale() == stale);
  FUZZ_CHECK(stale.windows.size() == limits.windows.size());
  FUZZ_CHECK(stale.plan == limits.plan && stale.credits == limits.credits && stale.status == limits.status &&
             stale.fetchedAt == limits.fetchedAt);
  for (size_t i = 0; i < stale.windows.size(); ++i) {
    FUZZ_CHECK(stale.windows[i].source.isStale());
    if (limits.windows[i].source.isStale()) FUZZ_CHECK(stale.windows[i].source == limits.windows[i].source);
  }
  const ProviderLimits staleBack = ProviderLimits::fromJSON(keyed::parse(stale.toJSON(coding).dump()), coding);
  FUZZ_CHECK(staleBack == (coding == DateCoding::iso8601 ? fuzz::wholeSeconds(stale) : stale));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  JSON json;
  try {
    json = keyed::parse(fuzz::text(data, size));
  } catch (const DecodingError&) {
    return 0;
  }
  roundTrip(json, DateCoding::referenceSeconds);
  roundTrip(json, DateCoding::iso8601);
  return 0;
}
