// The URL request behind QGGetURL is the platform's: a backend receives the
// http(s) names and reports whether it started a request. Whatever it fetches
// is discarded, so a file open never waits for it.
#pragma once

#include <cstdint>
#include <string_view>

class QUrlRequester {
 public:
  virtual ~QUrlRequester() = default;
  // Starts a request for url; 0 when started, an error status otherwise.
  virtual int32_t start(std::string_view url) = 0;
};

// Installs the backend (null restores the default, which accepts and drops
// the request). The requester must outlive its use.
void QGSetUrlRequester(QUrlRequester* requester);

constexpr int32_t kQGUrlNotStarted = static_cast<int32_t>(0x800401E4u);  // not a URL
