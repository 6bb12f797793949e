#include "delivery/sign_in.h"

namespace kt {

SecretText bearerResponse(bool xoauth2, const SignIn& account) {
    SecretText response;
    if (xoauth2) {
        response.append("user=").append(account.user);
    } else {
        response.append("n,a=");
        for (const char c : account.user)  // a SASL name: "," and "=" escaped
            response.append(c == ',' ? "=2C" : c == '=' ? "=3D" : std::string(1, c));
        response.append(",");
    }
    response.append("\x01" "auth=Bearer ").append(account.password).append("\x01\x01");
    return response;
}

}  // namespace kt
