#include "engine/range_fetch.h"

#include <algorithm>
#include <cctype>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <string_view>

#include "engine/down_task.h"
#include "engine/engine_log.h"
#include "engine/http_response.h"
#include "engine/url.h"
#include "platform/clock.h"
#include "platform/thread.h"

namespace {

constexpr int kConnectSeconds = 8;
constexpr int kConnectAttempts = 15;
constexpr int kRecvSeconds = 8;
constexpr size_t kMaxAnswerHeader = 8192;
constexpr size_t kReceiveStep = 256 * 1024;

// What one answer's header says.
struct Answer {
  int nStatus = 0;
  int64_t llFirst = -1;  // Content-Range's first byte
  int64_t llTotal = -1;  // Content-Range's total
  int64_t llLength = -1;  // Content-Length
  std::string etag;
  std::string location;
  bool bClose = false;  // the server ends the connection after it
};

int64_t Number(std::string_view text) {
  if (text.empty() || text.size() > 18 || text.find_first_not_of("0123456789") != std::string_view::npos) {
    return -1;
  }
  return std::strtoll(std::string(text).c_str(), nullptr, 10);
}

// A header's value wherever the server's case puts its name.
bool HeaderValue(std::string_view header, std::string_view name, std::string_view* pValue) {
  for (size_t at = header.find("\r\n"); at != std::string_view::npos; at = header.find("\r\n", at + 2)) {
    const std::string_view line = header.substr(at + 2, header.find("\r\n", at + 2) - (at + 2));
    if (line.size() <= name.size() || line[name.size()] != ':') continue;
    bool bSame = true;
    for (size_t i = 0; i < name.size() && bSame; ++i) {
      bSame = std::tolower(static_cast<unsigned char>(line[i])) == std::tolower(static_cast<unsigned char>(name[i]));
    }
    if (!bSame) continue;
    std::string_view value = line.substr(name.size() + 1);
    while (!value.empty() && value.front() == ' ') value.remove_prefix(1);
    while (!value.empty() && value.back() == ' ') value.remove_suffix(1);
    *pValue = value;
    return true;
  }
  return false;
}

Answer ReadAnswer(std::string_view header) {
  Answer a;
  a.nStatus = HttpStatus(header);
  std::string_view value;
  if (HeaderValue(header, "Content-Range", &value) && value.substr(0, 6) == "bytes ") {
    value.remove_prefix(6);
    const size_t dash = value.find('-');
    const size_t slash = value.find('/');
    if (dash != std::string_view::npos && slash != std::string_view::npos && dash < slash) {
      a.llFirst = Number(value.substr(0, dash));
      a.llTotal = Number(value.substr(slash + 1));
    }
  }
  if (HeaderValue(header, "Content-Length", &value)) a.llLength = Number(value);
  // Only a strong ETag says the bytes are the same; a weak one may not.
  if (HeaderValue(header, "ETag", &value) && value.size() >= 2 && value.front() == '"') {
    a.etag = std::string(value);
  }
  if (HeaderValue(header, "Location", &value)) a.location = std::string(value);
  if (HeaderValue(header, "Connection", &value)) a.bClose = value == "close" || value == "Close";
  if (header.substr(0, 8) == "HTTP/1.0") a.bClose = true;
  return a;
}

// One connection to the file's server, kept open from request to request
// while the server lets it.
class CRangeConnection {
 public:
  explicit CRangeConnection(const StopFlag* pStop) : pStop_(pStop) {}

  // Sends the request for the range (If-Range with the ETag when there is
  // one) and reads the answer's header. False with *pEnd and *pWhy set.
  // *pUnreachable, when given, tells a connect that failed all its attempts.
  bool Ask(const std::string& url, int64_t llOffset, int64_t llLength, const std::string& etag,
           Answer* pAnswer, ConnEnd* pEnd, std::string* pWhy, bool* pUnreachable = nullptr) {
    char szHost[kUrlCapacity], szPath[kUrlCapacity];
    int32_t nPort = 0;
    bool bTls = false;
    if (!IsHttpProtocol(JudgeProtocol(url.c_str())) || !SplitHttpUrl(url.c_str(), szHost, &nPort, szPath, &bTls)) {
      *pEnd = ConnEnd::kHopeless;
      *pWhy = "not an http or https URL";
      return false;
    }
    // A kept connection the server has closed since fails before its first
    // byte: then once more on a new one, at no cost to the give-up counts.
    const bool bKept = s_.IsValid() && host_ == szHost && nPort_ == nPort && s_.IsTls() == bTls;
    if (bKept && AskOn(szPath, szHost, llOffset, llLength, etag, pAnswer, pEnd, pWhy, true)) return true;
    if (bKept && !staleFailure_) return false;
    {
      s_.Close();
      ConnFailure why = ConnFailure::kNone;
      platform::CSocket socket;
      if (ConnWithTime(&socket, kConnectSeconds, kConnectAttempts, szHost, nPort, pStop_, nullptr,
                       NoteLog::kEngineLog, &why) != 0) {
        *pEnd = why == ConnFailure::kRefused ? ConnEnd::kGoneAway : ConnEnd::kUnknown;
        *pWhy = DescribeConnFailure(why);
        if (pUnreachable != nullptr) *pUnreachable = true;
        return false;
      }
      s_ = platform::CStream(std::move(socket));
      if (bTls && !StartTlsUnlessRaised(&s_, szHost, kConnectSeconds, pStop_, pWhy)) {
        // A certificate refused now is refused at every attempt.
        *pEnd = pWhy->empty() ? ConnEnd::kUnknown : ConnEnd::kHopeless;
        if (pWhy->empty()) *pWhy = "stopped";
        return false;
      }
      host_ = szHost;
      nPort_ = nPort;
      pending_.clear();
    }
    return AskOn(szPath, szHost, llOffset, llLength, etag, pAnswer, pEnd, pWhy, false);
  }

  // The request and the answer's header on the open connection; with
  // bKept, staleFailure_ tells a failure before any byte of the answer.
  bool AskOn(const char* szPath, const char* szHost, int64_t llOffset, int64_t llLength, const std::string& etag,
             Answer* pAnswer, ConnEnd* pEnd, std::string* pWhy, bool bKept) {
    staleFailure_ = false;
    char szRequest[kUrlCapacity * 2 + 512];
    const int n = std::snprintf(
        szRequest, sizeof szRequest,
        "GET %s HTTP/1.1\r\nHost: %s\r\nRange: bytes=%" PRId64 "-%" PRId64
        "\r\n%s%s%sAccept: */*\r\nUser-Agent: qarnauto\r\nConnection: keep-alive\r\n\r\n",
        szPath, szHost, llOffset, llOffset + llLength - 1, etag.empty() ? "" : "If-Range: ",
        etag.c_str(), etag.empty() ? "" : "\r\n");
    if (n <= 0 || n >= static_cast<int>(sizeof szRequest) || !s_.SendAll(szRequest, static_cast<size_t>(n))) {
      staleFailure_ = bKept;
      s_.Close();
      *pEnd = ConnEnd::kGoneAway;
      *pWhy = "the request could not be sent";
      return false;
    }
    // The header, and whatever of the body came with it.
    std::string received;
    size_t end;
    while ((end = pending_.find("\r\n\r\n")) == std::string::npos) {
      if (pending_.size() > kMaxAnswerHeader) {
        s_.Close();
        *pEnd = ConnEnd::kHopeless;
        *pWhy = "an answer header longer than " + std::to_string(kMaxAnswerHeader) + " bytes";
        return false;
      }
      if (!ReceiveMore(pEnd, pWhy)) {
        staleFailure_ = bKept && *pEnd == ConnEnd::kGoneAway;
        return false;
      }
    }
    if (pending_.compare(0, 5, "HTTP/") != 0 || HttpStatus(pending_) <= 0) {
      Close();
      *pEnd = ConnEnd::kHopeless;
      *pWhy = "a malformed status line";
      return false;
    }
    *pAnswer = ReadAnswer(std::string_view(pending_).substr(0, end + 4));
    statusLine_ = HeaderForLog(StatusLine(pending_));
    pending_.erase(0, end + 4);
    return true;
  }

  // Hands n bytes of the body to the sink as they come. False with *pEnd
  // set when the connection ends first or the sink refuses.
  bool Body(int64_t n, const std::function<bool(const char*, size_t)>& sink, ConnEnd* pEnd, std::string* pWhy) {
    while (n > 0) {
      if (pending_.empty() && !ReceiveMore(pEnd, pWhy)) return false;
      const size_t take = static_cast<size_t>(std::min<int64_t>(n, static_cast<int64_t>(pending_.size())));
      if (!sink(pending_.data(), take)) {
        s_.Close();
        *pEnd = ConnEnd::kUnknown;
        *pWhy = "the bytes could not be written";
        return false;
      }
      pending_.erase(0, take);
      n -= static_cast<int64_t>(take);
    }
    return true;
  }

  void Close() {
    s_.Close();
    pending_.clear();
  }

  const std::string& StatusText() const { return statusLine_; }

 private:
  bool ReceiveMore(ConnEnd* pEnd, std::string* pWhy) {
    const uint32_t dwStart = platform::GetTickCount();
    const int ready = WaitReadableUnlessRaised(s_, kRecvSeconds * 1000, pStop_, nullptr);
    int64_t got = -1;
    if (ready > 0) {
      const size_t have = pending_.size();
      pending_.resize(have + kReceiveStep);
      got = s_.Recv(pending_.data() + have, kReceiveStep);
      pending_.resize(have + static_cast<size_t>(std::max<int64_t>(got, 0)));
    }
    if (got > 0) return true;
    s_.Close();
    pending_.clear();
    if (pStop_ != nullptr && pStop_->load() != 0) {
      *pEnd = ConnEnd::kUnknown;
      *pWhy = "stopped";
    } else if (ready == 0 && platform::GetTickCount() - dwStart + 250 >= kRecvSeconds * 1000u) {
      *pEnd = ConnEnd::kSilent;
      *pWhy = "no byte within " + std::to_string(kRecvSeconds) + " s";
    } else {
      // A connection cut before the answer is complete, TLS or not, is
      // never the end of the data.
      *pEnd = ConnEnd::kGoneAway;
      *pWhy = "the connection was closed or reset";
    }
    return false;
  }

  const StopFlag* pStop_;
  platform::CStream s_;
  std::string host_;
  int32_t nPort_ = 0;
  std::string pending_;
  std::string statusLine_;
  bool staleFailure_ = false;
};

// Checks an answer against the range and the file first seen. kDone when its
// body is the range asked for.
RangeResult Judge(const Answer& a, const RangeTarget& target, int64_t llOffset, int64_t llLength,
                  const std::string& statusText, ConnEnd* pEnd, std::string* pWhy) {
  if (a.nStatus == 200) {
    // With If-Range a 200 says the file changed; without, that the server
    // ignores ranges.
    *pWhy = "the server answered a range with the whole file";
    return target.etag.empty() ? RangeResult::kNoRanges : RangeResult::kChanged;
  }
  if (a.nStatus == 412 || a.nStatus == 416) {
    *pWhy = "the answer \"" + statusText + "\"";
    return RangeResult::kChanged;
  }
  if (a.nStatus != 206) {
    *pEnd = ConnEnd::kHopeless;
    *pWhy = "the server answered \"" + statusText + "\"";
    return RangeResult::kFailed;
  }
  if (a.llTotal < 0 || a.llFirst != llOffset || (a.llLength >= 0 && a.llLength != llLength)) {
    *pEnd = ConnEnd::kHopeless;
    *pWhy = "a range other than the one asked for";
    return RangeResult::kFailed;
  }
  if (target.llTotal >= 0 && (a.llTotal != target.llTotal || (!target.etag.empty() && a.etag != target.etag))) {
    *pWhy = "the file is now of " + std::to_string(a.llTotal) + " bytes" +
            (a.etag != target.etag ? " with another ETag" : "");
    return RangeResult::kChanged;
  }
  if (llOffset + llLength > a.llTotal) {
    *pEnd = ConnEnd::kHopeless;
    *pWhy = "a range beyond the file's end";
    return RangeResult::kFailed;
  }
  return RangeResult::kDone;
}

}  // namespace

RangeResult FetchRange(RangeTarget* pTarget, int64_t llOffset, int64_t llLength, std::string* pOut,
                       const StopFlag* pStop, std::string* pWhy) {
  // The connection routines always look at a flag.
  static const StopFlag kNever{0};
  if (pStop == nullptr) pStop = &kNever;
  CRangeConnection c(pStop);
  CStallWatch watch;
  bool bRedirected = false;
  for (;;) {
    if (pStop != nullptr && pStop->load() != 0) return RangeResult::kStopped;
    Answer a;
    ConnEnd end = ConnEnd::kUnknown;
    std::string why;
    pOut->clear();
    bool bUnreachable = false;
    if (c.Ask(pTarget->url, llOffset, llLength, pTarget->etag, &a, &end, &why, &bUnreachable)) {
      // The first request follows one permanent redirect, as the engine
      // does, but never from https to http.
      const int32_t nTo = JudgeProtocol(a.location.c_str());
      if (a.nStatus == 301 && JudgeProtocol(pTarget->url.c_str()) == kProtocolHttps && nTo == kProtocolHttp) {
        *pWhy = "a redirect from https to http (" + a.location.substr(0, 200) + ") is not followed";
        return RangeResult::kFailed;
      }
      if (a.nStatus == 301 && pTarget->llTotal < 0 && !bRedirected && IsHttpProtocol(nTo)) {
        pTarget->url = a.location;
        bRedirected = true;
        c.Close();
        continue;
      }
      const RangeResult judged = Judge(a, *pTarget, llOffset, llLength, c.StatusText(), &end, &why);
      if (judged != RangeResult::kDone) {
        *pWhy = why;
        // No repetition changes what the server answers.
        if (judged != RangeResult::kFailed || end == ConnEnd::kHopeless) return judged;
      } else if (c.Body(llLength, [pOut](const char* p, size_t n) { pOut->append(p, n); return true; }, &end, &why)) {
        if (pTarget->llTotal < 0) {
          pTarget->llTotal = a.llTotal;
          pTarget->etag = a.etag;
        }
        if (a.bClose) c.Close();
        return RangeResult::kDone;
      }
    }
    *pWhy = why;
    // A server that cannot be reached at all has had its attempts.
    if (bUnreachable) return RangeResult::kUnreachable;
    std::string cause;
    if (watch.GiveUp(static_cast<int64_t>(pOut->size()), end, why, &cause)) {
      *pWhy = cause;
      return RangeResult::kFailed;
    }
    SleepUnlessRaised(500, pStop, nullptr);
  }
}

namespace {

// The pieces' shared state: the next piece to take, the first result that
// ends the fetch, and the give-up watch over all connections.
struct FetchJob {
  FetchJob(const RangeTarget& t, std::vector<RangePiece>& p, platform::FileHandle f, const RangeFetchOptions& o,
           const StopFlag* s)
      : target(t), pieces(p), file(f), options(o), pStop(s) {}

  const RangeTarget& target;
  std::vector<RangePiece>& pieces;
  platform::FileHandle file;
  const RangeFetchOptions& options;
  const StopFlag* pStop;
  StopFlag quit{0};
  std::atomic<size_t> nNext{0};
  std::atomic<int64_t> llDoneBytes{0};
  std::mutex lock;
  CStallWatch watch;
  RangeResult result = RangeResult::kDone;
  std::string why;

  void End(RangeResult r, const std::string& reason) {
    std::lock_guard<std::mutex> hold(lock);
    if (result == RangeResult::kDone) {
      result = r;
      why = reason;
    }
    quit.store(1);
  }

  bool Quitting() const { return quit.load() != 0 || (pStop != nullptr && pStop->load() != 0); }

  // One connection: takes pieces until none is left, resuming a piece whose
  // connection was cut.
  void Work() {
    CRangeConnection c(&quit);
    for (;;) {
      const size_t n = nNext.fetch_add(1);
      if (n >= pieces.size() || Quitting()) return;
      RangePiece& piece = pieces[n];
      // A piece done before this fetch was told of then.
      if (piece.llDone >= piece.llLength) continue;
      while (piece.llDone < piece.llLength) {
        if (Quitting()) return;
        if (!Fetch(c, n)) return;
      }
      if (!platform::FlushFile(file)) {
        End(RangeResult::kFailed, "the fetched bytes could not be written");
        return;
      }
      if (options.onPieceDone && !options.onPieceDone(n)) {
        End(RangeResult::kFailed, "the fetched bytes could not be recorded");
        return;
      }
    }
  }

  // One request for what the piece still lacks. False when the fetch ends.
  bool Fetch(CRangeConnection& c, size_t nPiece) {
    RangePiece& piece = pieces[nPiece];
    const int64_t llFirst = piece.llOffset + piece.llDone;
    const int64_t llLength = piece.llLength - piece.llDone;
    int64_t llClaimed = piece.llDone;
    uint32_t dwClaimed = platform::GetTickCount();
    Answer a;
    ConnEnd end = ConnEnd::kUnknown;
    std::string why;
    if (c.Ask(target.url, llFirst, llLength, target.etag, &a, &end, &why)) {
      const RangeResult judged = Judge(a, target, llFirst, llLength, c.StatusText(), &end, &why);
      if (judged != RangeResult::kDone && judged != RangeResult::kFailed) {
        End(judged, why);
        return false;
      }
      if (judged == RangeResult::kDone) {
        const bool bWhole = c.Body(
            llLength,
            [&](const char* p, size_t n) {
              if (platform::WriteFileAt(file, p, n, piece.llOffset + piece.llDone) != n) return false;
              piece.llDone += static_cast<int64_t>(n);
              llDoneBytes += static_cast<int64_t>(n);
              if (options.pProgress != nullptr) AddDownloaded(static_cast<int32_t>(n), options.pProgress);
              // What is on the disk may be claimed: every step, or every half
              // second on a slow line; each claim costs a flush.
              const int64_t llNew = piece.llDone - llClaimed;
              if (options.onPieceProgress && piece.llDone < piece.llLength &&
                  (llNew >= kProgressStep ||
                   (llNew >= kProgressStep / 16 && platform::GetTickCount() - dwClaimed >= 500))) {
                llClaimed = piece.llDone;
                dwClaimed = platform::GetTickCount();
                return platform::FlushFile(file) && options.onPieceProgress(nPiece, piece.llDone);
              }
              return true;
            },
            &end, &why);
        if (bWhole) {
          if (a.bClose) c.Close();
          return true;
        }
        if (why == "the bytes could not be written") {
          End(RangeResult::kFailed, why);
          return false;
        }
      }
    }
    if (Quitting()) return false;
    std::string cause;
    bool bGiveUp;
    {
      std::lock_guard<std::mutex> hold(lock);
      bGiveUp = watch.GiveUp(llDoneBytes.load(), end, why, &cause);
    }
    DebugLog("range %" PRId64 "+%" PRId64 ": %s", llFirst, llLength, why.c_str());
    if (bGiveUp) {
      End(RangeResult::kFailed, cause);
      return false;
    }
    SleepUnlessRaised(500, &quit, pStop);
    return true;
  }
};

}  // namespace

RangeResult FetchRanges(const RangeTarget& target, std::vector<RangePiece>* pPieces,
                        platform::FileHandle file, const RangeFetchOptions& options,
                        const StopFlag* pStop, std::string* pWhy) {
  FetchJob job(target, *pPieces, file, options, pStop);
  const int nWorkers = std::clamp<int>(options.nConnections, 1, std::max<int>(1, static_cast<int>(pPieces->size())));
  platform::RunOnThreads(nWorkers, [&job] { job.Work(); });
  if (pStop != nullptr && pStop->load() != 0 && job.result == RangeResult::kDone) return RangeResult::kStopped;
  for (const RangePiece& piece : *pPieces) {
    if (piece.llDone < piece.llLength && job.result == RangeResult::kDone) return RangeResult::kStopped;
  }
  *pWhy = job.why;
  return job.result;
}
