// The HTTP transport on libcurl: proxies from the environment (libcurl's
// http_proxy, https_proxy, no_proxy), HTTPS verified against the system's
// certificate authorities, timeouts always set, a bounded reply, redirects
// only to http or https (an https request only to https); POST and GET alike.
#pragma once

#include "toolkit/common/CvHTTP.h"

namespace platform {

class CurlHTTPTransport final : public corvane::TOvHTTPTransport {
 public:
  corvane::TCvHTTPResponse Post(const corvane::TCvHTTPRequest& request) override;
  corvane::TCvHTTPResponse Get(const corvane::TCvHTTPRequest& request) override;

 private:
  corvane::TCvHTTPResponse Perform(const corvane::TCvHTTPRequest& request, bool post);
};

// The process-wide instance, installed with corvane::SetHTTPTransport.
CurlHTTPTransport& ToolkitHTTPTransport();
void InstallHTTPTransport();

}  // namespace platform
