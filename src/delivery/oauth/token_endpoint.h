#pragma once
// The provider's token endpoint, over HTTPS with the system's HTTP client
// (WinHTTP: the system's proxy settings, the certificate checked). The request
// runs on a thread of its own while this thread's messages go through, so
// that no window freezes while the endpoint thinks, and Stop ends the wait.

#include <chrono>
#include <string>

#include "delivery/oauth/oauth_protocol.h"
#include "foundation/stop_signal.h"

namespace kt {

// Posts the form and reads the answer: tokens, or the provider's refusal
// (TokenAnswer::error). Throws a sign-in failure, in words, when the
// endpoint cannot be reached, the request takes longer than `deadline`, its
// secure connection fails, or it answers with no JSON of OAuth's;
// DeliveryStopped when `stop` ends the wait.
TokenAnswer requestTokens(const std::string& tokenEndpoint, const SecretText& form, std::chrono::milliseconds deadline,
                          const StopSignal& stop);

}  // namespace kt
