// The HTTP transport on WinHTTP: the proxy from the environment (http_proxy,
// https_proxy, all_proxy, no_proxy, as the Linux transport reads them), else
// the system's WinHTTP proxy setting; HTTPS verified against the system's
// certificate authorities; timeouts always set; a bounded reply; redirects
// followed at most five times and never from https to http.
#pragma once

#include "toolkit/common/CvHTTP.h"

namespace platform {

class WinHTTPTransport final : public corvane::TOvHTTPTransport {
 public:
  corvane::TCvHTTPResponse Post(const corvane::TCvHTTPRequest& request) override;
  corvane::TCvHTTPResponse Get(const corvane::TCvHTTPRequest& request) override;
};

// The failure kind of a WinHTTP error code; connected: the error came after
// the connection stood (a timeout then is the answer's, not the connection's).
corvane::TCvHTTPFailure WinHTTPFailureOf(unsigned long code, bool connected);

}  // namespace platform
