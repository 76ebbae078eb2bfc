#include "TokvaneCore/Logs/FileCursor.hpp"

namespace tokvane {

JSON FileCursor::toJSON() const {
  JSON json = JSON::object();
  json["path"] = path;
  json["inode"] = inode;
  json["offset"] = offset;
  JSON ctx = JSON::object();
  for (const auto& [key, value] : context) ctx[key] = value;
  json["context"] = std::move(ctx);
  return json;
}

FileCursor FileCursor::fromJSON(const JSON& json) {
  using namespace keyed;
  FileCursor cursor;
  cursor.path = decodeString(required(json, "path"), "path");
  cursor.inode = decodeUInt64(required(json, "inode"), "inode");
  cursor.offset = decodeInt64(required(json, "offset"), "offset");
  const JSON& ctx = required(json, "context");
  requireObject(ctx, "context");
  for (const auto& [key, value] : ctx.items()) cursor.context[key] = decodeString(value, key);
  return cursor;
}

FileCursor FileCursor::fromJSONText(std::string_view text) { return fromJSON(keyed::parse(text)); }

}  // namespace tokvane
