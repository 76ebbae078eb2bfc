#include "Tokvane/Engine/Indexing/StoredCursors.hpp"

#include <algorithm>

namespace tokvane {

namespace {

// Whether the ledger keeps the path's cursor under the path's own bytes:
// true unless they are not UTF-8 (such a path is kept with replacements).
bool keptUnderItsOwnText(const std::string& path) {
  if (std::all_of(path.begin(), path.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; })) {
    return true;
  }
  try {
    (void)JSON(path).dump();
    return true;
  } catch (const nlohmann::json::exception&) {
    return false;
  }
}

std::optional<FileCursor> decoded(const std::string& text) {
  try {
    return FileCursor::fromJSONText(text);
  } catch (const DecodingError&) {
    return std::nullopt;
  } catch (const nlohmann::json::exception&) {
    return std::nullopt;
  }
}

}  // namespace

StoredCursors StoredCursors::scanned(UsageStore& store) {
  StoredCursors cursors(store);
  try {
    cursors.texts_ = store.allCursorTexts();
  } catch (const UsageStoreError&) {
    // Path by path then: each lookup meets the failure (or not) itself.
  }
  return cursors;
}

StoredCursors StoredCursors::perPath(UsageStore& store) { return StoredCursors(store); }

StoredCursors::Lookup StoredCursors::find(const std::string& path) const {
  Lookup lookup;
  if (texts_ && keptUnderItsOwnText(path)) {
    const auto it = texts_->find(path);
    if (it != texts_->end()) lookup.cursor = decoded(it->second);
    return lookup;
  }
  try {
    lookup.cursor = store_->cursor(path);
  } catch (const DecodingError&) {
  } catch (const nlohmann::json::exception&) {
  } catch (...) {
    lookup.error = std::current_exception();
  }
  return lookup;
}

}  // namespace tokvane
