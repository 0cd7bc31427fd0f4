// Byte ranges of one file on an HTTP server, over the engine's connections:
// a single range read into memory (a package's headers), and many ranges
// written into a file at their own offsets by parallel connections that
// resume a cut range where it stopped. Every answer must be the range asked
// for, of the file first seen: a file replaced on the server is noticed by
// its strong ETag (If-Range) and by the total of each Content-Range.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "engine/connection.h"
#include "platform/file.h"

struct DownProgress;

// Who the file is: its size and, where the server gives one, its strong
// ETag. Requests carry the ETag in If-Range, so a replaced file answers 200.
struct RangeTarget {
  std::string url;  // "http://host[:port]/path", after one permanent redirect
  int64_t llTotal = -1;
  std::string etag;  // "" when the server gave none or a weak one
};

enum class RangeResult {
  kDone,
  kNoRanges,  // the server answers ranges with the whole file (200) or not at all
  kChanged,   // the file is no longer the one first seen
  kUnreachable,  // the server could not be connected to at all
  kFailed,    // no answer could be had (the reason says why)
  kStopped,
};

// Reads [llOffset, llOffset + llLength) into *pOut. With pTarget->llTotal
// below 0 this is the first request: it follows one permanent redirect and
// fills pTarget from the answer; later requests must match it. An answer
// that is not the range (a 404, say) ends it at once. *pWhy says what went
// wrong for the run log.
RangeResult FetchRange(RangeTarget* pTarget, int64_t llOffset, int64_t llLength, std::string* pOut,
                       const StopFlag* pStop, std::string* pWhy);

// One range of the file and where it goes in the local file (the same
// offset). llDone counts its bytes already on the disk.
struct RangePiece {
  int64_t llOffset = 0;
  int64_t llLength = 0;
  int64_t llDone = 0;
};

inline constexpr int64_t kProgressStep = 256 * 1024;

struct RangeFetchOptions {
  int nConnections = 4;
  // Called on a connection's thread once a piece's bytes are flushed to
  // the disk; false stops the fetch (kFailed).
  std::function<bool(size_t nPiece)> onPieceDone;
  // Called the same way every kProgressStep bytes of a piece (or every half
  // second with some bytes), once they are flushed, with its llDone: what a
  // later fetch may take as done.
  std::function<bool(size_t nPiece, int64_t llDone)> onPieceProgress;
  DownProgress* pProgress = nullptr;  // bytes received are added to it
};

// Fetches every piece not yet done into the file, at most nConnections at
// once; pieces already done are not told of again. A connection that is cut resumes its piece; the fetch gives up as
// the engine does when nothing arrives and nothing can change.
RangeResult FetchRanges(const RangeTarget& target, std::vector<RangePiece>* pPieces,
                        platform::FileHandle file, const RangeFetchOptions& options,
                        const StopFlag* pStop, std::string* pWhy);
