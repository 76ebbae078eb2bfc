#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "TokvaneCore/Logs/FileCursor.hpp"

namespace tokvane {

// Incremental reader of JSON-lines logs that other programs keep appending
// to. Given a file and its stored cursor it returns the complete lines
// written since, and the cursor to store once they have been processed.
// A cursor that no longer fits the file (the file was replaced, so its
// inode changed, or it shrank below the stored offset, or the bytes just
// before the offset are no longer those read before) starts the file over.
//
// Every cursor the reader moves carries, under `fingerprintKey` in its
// context, a short fingerprint of the bytes just before its offset. A file
// deleted and made again can get the same inode, and an editor's save
// truncates and rewrites the same inode: the fingerprint tells such a file
// from the one that was read. A cursor without one (stored before) is
// trusted as it is.
//
// Lines come back without their line feed and without one trailing carriage
// return; empty lines are left out; an unfinished last line is not consumed.
// Failures to read the file's attributes, to open it or to read it throw
// std::system_error carrying errno ("open: No such file or directory").
struct JSONLTail {
  // The longest line the reader will hold in memory. A longer line is
  // skipped, without ever being held whole, once its line feed appears.
  static constexpr int64_t defaultLineCap = int64_t{64} << 20;
  // Readable bytes guaranteed after every line a Reader returns, so a line
  // can be parsed in place by a parser that reads ahead (simdjson's padding).
  static constexpr size_t padding = 64;
  // The context key of the fingerprint, and how many bytes before the
  // offset it covers (fewer near the start of the file). Its text is the
  // number of bytes covered, ":" and 16 hex digits of their FNV-1a hash.
  static constexpr const char* fingerprintKey = "tail";
  static constexpr size_t fingerprintWindow = 256;

  // The fingerprint of the bytes just before `offset`, from `endingAtOffset`,
  // bytes of the file that end exactly there; none when it holds fewer than
  // the fingerprint covers.
  static std::optional<std::string> fingerprint(std::string_view endingAtOffset, int64_t offset);
  // The same, read from the file at `path`; none when it cannot be read,
  // is shorter than `offset`, or is no longer the file numbered `inode`.
  static std::optional<std::string> fingerprintOfFile(const std::filesystem::path& path, uint64_t inode,
                                                      int64_t offset);

  // A line longer than the line cap that was passed over: where it starts and
  // its length in bytes, without its line feed.
  struct SkippedLine {
    int64_t offset = 0;
    int64_t length = 0;
    friend bool operator==(const SkippedLine&, const SkippedLine&) = default;
  };

  struct Result {
    std::vector<std::string> lines;
    FileCursor cursor;
    // True when the stored cursor no longer fitted and reading started at 0
    // with an empty context.
    bool reset = false;
    // True when the read reached the end of the file; call again with the
    // returned cursor while it is false.
    bool atEOF = false;
    std::vector<SkippedLine> skipped;
  };

  // Reads one chunk of up to `maxBytes` bytes (1 when less than 1) from the
  // cursor's offset. While the chunk holds no line feed it doubles, until
  // one fits or the file ends, but never beyond what a line of `lineCap`
  // bytes needs: a line longer than that (and longer than the first chunk)
  // is skipped once its line feed appears, and reported in `skipped` (that
  // call returns no lines and `atEOF` false); until then nothing is consumed
  // and `atEOF` is true.
  // Each returned line is an independent copy.
  static Result read(const std::filesystem::path& path, const std::optional<FileCursor>& cursor,
                     int64_t maxBytes, int64_t lineCap = defaultLineCap);

  // The same reading with one buffer reused from call to call: lines are
  // views into that buffer, each followed by at least `padding` readable
  // bytes, valid until the next call. One Reader per thread.
  class Reader {
   public:
    struct Chunk {
      std::vector<std::string_view> lines;
      FileCursor cursor;
      bool reset = false;
      bool atEOF = false;
      std::vector<SkippedLine> skipped;
    };

    Reader() = default;
    Reader(const Reader&) = delete;
    Reader& operator=(const Reader&) = delete;
    Reader(Reader&&) = default;
    Reader& operator=(Reader&&) = default;

    const Chunk& read(const std::filesystem::path& path, const std::optional<FileCursor>& cursor,
                      int64_t maxBytes, int64_t lineCap = defaultLineCap);

    // The whole buffer, padding included, that the last read's lines point into.
    std::span<const char> buffer() const {
      if (!storage_) return {};
      return {storage_.get(), capacity_ + padding};
    }

   private:
    // Makes room for `bytes` bytes of data plus the padding, keeping the
    // first `keep` bytes.
    void reserve(size_t bytes, size_t keep);
    // Reads from `offset + have` until `want` bytes are held or the file
    // ends; `expected` is the size still unread by the file's attributes.
    size_t fill(int fd, int64_t offset, size_t have, size_t want, int64_t expected);
    void skipOverlongLine(int fd, size_t have);
    // Stores the fingerprint of the bytes before the chunk cursor's new
    // offset; the last `available` of them are at `end` in the buffer.
    void markOffset(int fd, const char* end, size_t available);

    std::unique_ptr<char[]> storage_;
    size_t capacity_ = 0;  // data bytes, padding excluded
    Chunk chunk_;
  };
};

}  // namespace tokvane
