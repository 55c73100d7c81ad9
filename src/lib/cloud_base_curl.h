#pragma once

#include "lib/cloud_base.h"

#include <memory>
#include <mutex>
#include <vector>

namespace orv {

// The HTTP engine on libcurl's easy interface: each request blocks the
// thread that runs it. Finished transfers leave their handle (and so their
// open connection) to the next request, so a token request and the request
// that uses the token share one connection. TLS certificates are always
// verified, redirects are not followed, and the proxy comes from the usual
// environment variables (http_proxy, https_proxy, no_proxy). A transfer
// ends at the request's deadline, and an answer held in memory at the
// request's cap; an answer that ends early is a failure (FFailure), and a
// file it was being written to is removed.
class TORVZYNDashCurlCloudBase final : public IORVZYNDashCustomCloudBase {
public:
  TORVZYNDashCurlCloudBase() = default;
  ~TORVZYNDashCurlCloudBase() override;
  TORVZYNDashCurlCloudBase(const TORVZYNDashCurlCloudBase&) = delete;
  TORVZYNDashCurlCloudBase& operator=(const TORVZYNDashCurlCloudBase&) = delete;

  void ExecuteRequest(TORVZYNDashCloudBaseRequestResult& ARequestResult) override;

private:
  // A handle of an earlier transfer, or a new one; none when libcurl
  // cannot make one.
  void* AcquireHandle();
  void ReleaseHandle(void* AHandle);

  std::mutex FIdleLock;
  std::vector<void*> FIdleHandles;
};

// Makes libcurl engines; kept in the process-wide registry of platform
// services from start-up on.
class TORVZYNDashCurlCloudBaseService final : public IORVZYNDashCloudBaseService {
public:
  TORVZYNDashCurlCloudBaseService();

  std::shared_ptr<IORVZYNDashCustomCloudBase> CreateCloudBase() override;
  void DestroyCloudBase(const std::shared_ptr<IORVZYNDashCustomCloudBase>& AValue) override;
  int CloudBaseCount() const { return static_cast<int>(FCloudBases.size()); }

private:
  std::vector<std::shared_ptr<IORVZYNDashCustomCloudBase>> FCloudBases;
};

// Registers the libcurl engine's service under the HTTP engine service's
// identifier, and takes it out again.
void RegisterCurlCloudBaseService();
void UnregisterCurlCloudBaseService();

}  // namespace orv
