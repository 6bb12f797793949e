// Whatever a token endpoint or a browser sends, reading it ends in tokens, a
// refusal, or the sign-in error in words; never in a crash, and never in an
// answer without what makes it one.

#include <cstdint>
#include <string>

#include "delivery/oauth/oauth_protocol.h"
#include "foundation/component_error.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string input(reinterpret_cast<const char*>(data), size);
    try {
        const kt::TokenAnswer answer = kt::parseTokenResponse(input);
        if (answer.error.empty() && answer.accessToken.empty()) __builtin_trap();
    } catch (const kt::ComponentError&) {
    }
    if (const auto redirect = kt::parseRedirectRequest(input))
        if (redirect->code.empty() && redirect->error.empty()) __builtin_trap();
    return 0;
}
